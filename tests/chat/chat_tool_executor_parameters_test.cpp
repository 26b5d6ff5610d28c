#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stop_token>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"
#include "plugins/plugin_editors_fixture.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

// The plug-in editors project ("Vox": Drift Delay with a map, Tube Saturator without, Compressor),
// with the application's own plug-in maps.
class ChatToolExecutorParameters : public ToolExecutorTest {
protected:
    void SetUp() override {
        ToolExecutorTest::SetUp();
        load(pluginEditorsScenario());
        shippedMaps.reload();
        executor = std::make_unique<ChatToolExecutor>(
            ChatToolExecutor::Services{inventory, conversations, memories, logic, shippedPlugins, logger, host});
    }
    const standin::InsertSlot& insert(const std::string& track, std::size_t slot) {
        project_ = world().project();
        return project_.track(track)->strip.inserts.at(slot);
    }

    PluginMapStore shippedMaps{std::string(CORVANE_SOURCE_DIR) + "/resources"};
    PluginInspector shippedPlugins{logic, shippedMaps};
    standin::Project project_;
};

TEST_F(ChatToolExecutorParameters, ReadsThroughAMapAndThroughTheControlsView) {
    auto mapped = oneJSON("get_plugin_parameters", R"({"track_name":"vox","plugin_name":"drift delay"})");
    EXPECT_FALSE(mapped.contains("status"));
    EXPECT_EQ(mapped["pluginName"], "Drift Delay");
    EXPECT_EQ(mapped["trackName"], "Vox");
    EXPECT_EQ(mapped["mapApplied"], true);
    EXPECT_EQ(mapped["viewUsed"], "editor");
    const auto count = mapped["parameters"].size();
    EXPECT_GT(count, 5u);
    EXPECT_EQ(lastRecord(), (ToolExecution{"get_plugin_parameters",
                                           "Read " + std::to_string(count) +
                                               " parameters from Drift Delay on Vox "
                                               "(mapped).",
                                           true}));

    auto controls = oneJSON("get_plugin_parameters", R"({"track_name":"Vox","plugin_index":1})");
    EXPECT_EQ(controls["pluginName"], "Tube Saturator");
    EXPECT_EQ(controls["mapApplied"], false);
    EXPECT_EQ(controls["viewUsed"], "controls");
    EXPECT_NE(lastRecord().summary.find("(runtime)."), std::string::npos);

    EXPECT_EQ(oneJSON("get_plugin_parameters", R"({"track_name":"Vox","plugin_index":9,"plugin_name":"Compressor"})"),
              (json{{"status", "error"}, {"message", "Plugin index 9 out of range (0-2)."}}));
    EXPECT_EQ(oneJSON("get_plugin_parameters", R"({"track_name":"Voz"})")["message"],
              "Track 'Voz' not found. Available: Vox, Bass, Synth, Guitar");
}

TEST_F(ChatToolExecutorParameters, WritesThroughAMapAndThroughTheControlsView) {
    auto answer = oneJSON("set_plugin_parameter",
                          R"({"track_name":"Vox","plugin_name":"Drift Delay","parameter_name":"Mix","value":"25%"})");
    EXPECT_EQ(insert("Vox", 0).params.at("mix"), 32);
    EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Drift Delay on Vox: Mix: 50% \u2192 25%"}}));

    answer = oneJSON("set_plugin_parameter",
                     R"({"track_name":"Vox","plugin_index":1,"parameter_name":"Drive","value":"6 dB"})");
    EXPECT_EQ(insert("Vox", 1).params.at("drive"), 60);
    EXPECT_EQ(answer["message"], "Tube Saturator on Vox: Set Drive to 6.0 dB (was 0.0 dB)");

    EXPECT_EQ(oneJSON("set_plugin_parameter",
                      R"({"track_name":"Vox","plugin_index":0,"parameter_name":"Mix","value":25})")["message"],
              "Missing parameters. Need: track_name, plugin_name or plugin_index, parameter_name, value.");
}

// Never an error with the parameter moved: a value beyond the range sets its end and says so as
// a success; a write that cannot land puts the value back.
TEST_F(ChatToolExecutorParameters, AMappedWriteEitherLandsOrLeavesTheValueAsItWas) {
    const struct {
        const char* value;
        int quantise;
        double raw;
        json answer;
    } cases[] = {
        {"200%", 0, 127, {{"status", "ok"}, {"message", "Drift Delay on Vox: Mix: 50% \u2192 100%"}}},
        {"-5%", 0, 0, {{"status", "ok"}, {"message", "Drift Delay on Vox: Mix: 100% \u2192 0%"}}},
        {"50%", 0, 64, {{"status", "ok"}, {"message", "Drift Delay on Vox: Mix: 0% \u2192 50%"}}},
        // Steps of 8 cannot show 27%: the nearest is 25%, and the mix goes back to 50%.
        {"27%",
         8,
         64,
         {{"status", "error"},
          {"message", "Could not set Mix to 27% (it came no nearer than 25%); it shows 50% (was 50%)"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        world().setKnob("quantise", c.quantise);
        const auto answer = oneJSON("set_plugin_parameter", json{{"track_name", "Vox"},
                                                                 {"plugin_name", "Drift Delay"},
                                                                 {"parameter_name", "Mix"},
                                                                 {"value", c.value}}
                                                                .dump());
        EXPECT_EQ(insert("Vox", 0).params.at("mix"), c.raw);
        EXPECT_EQ(answer, c.answer);
    }
}

TEST_F(ChatToolExecutorParameters, GenericParameterNamesAreRefusedAndNothingIsWritten) {
    const std::pair<const char*, bool> names[] = {
        {"12", true}, {" 3 ", true},   {"Param 4", true}, {"knob7", true},    {"CC 74", true},
        {"p2", true}, {"Knob", false}, {"P", false},      {"Drive 2", false}, {"Mix", false},
    };
    const double before = insert("Vox", 1).params.at("drive");
    for (const auto& [name, refused] : names) {
        SCOPED_TRACE(name);
        auto answer = oneJSON(
            "set_plugin_parameter",
            json{{"track_name", "Vox"}, {"plugin_index", 1}, {"parameter_name", name}, {"value", "6 dB"}}.dump());
        const std::string message = answer.value("message", "");
        EXPECT_EQ(
            message.rfind("'" + std::string(name) + "' on 'Tube Saturator' looks like a generic numeric slot", 0) == 0,
            refused)
            << message;
    }
    EXPECT_EQ(insert("Vox", 1).params.at("drive"), before);
}

TEST_F(ChatToolExecutorParameters, BypassTogglesAndAnswersANoOpForTheStateItHas) {
    ASSERT_FALSE(insert("Vox", 2).bypassed);
    auto answer = oneJSON("set_plugin_bypass", R"({"track_name":"Vox","plugin_name":"Compressor","bypassed":true})");
    EXPECT_TRUE(insert("Vox", 2).bypassed);
    EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Compressor on Vox: enabled \u2192 bypassed"}}));

    signature.reset();  // the same call again, in a later turn: no repeat
    answer = oneJSON("set_plugin_bypass", R"({"track_name":"Vox","plugin_name":"Compressor","bypassed":true})");
    EXPECT_TRUE(insert("Vox", 2).bypassed);
    EXPECT_EQ(answer["message"], "Compressor on Vox: already bypassed, no-op.");

    answer = oneJSON("set_plugin_bypass", R"({"track_name":"Vox","plugin_index":2,"bypassed":false})");
    EXPECT_FALSE(insert("Vox", 2).bypassed);
    EXPECT_EQ(answer["message"], "Compressor on Vox: bypassed \u2192 enabled");

    answer = oneJSON("set_plugin_bypass", R"({"track_name":"Vox","plugin_index":0})");  // no state: toggles
    EXPECT_TRUE(insert("Vox", 0).bypassed);
    EXPECT_EQ(oneJSON("set_plugin_bypass", R"({"plugin_index":0})")["message"], "Missing track_name parameter.");
}

// A Stop at any moment of a mapped write that first presses the option the map asks for (Wow
// wants the Tape mode): every control it left changed is named with what it shows now.
TEST_F(ChatToolExecutorParameters, AStoppedMappedWriteNamesEveryControlItChanged) {
    const struct {
        const char* value;
        const char* stale;  // the knob `staleAfter`
    } cases[] = {{"0 %", "onRebuild"}, {"40 %", "always"}};
    for (const auto& c : cases) {
        const std::string args =
            json{{"track_name", "Vox"}, {"plugin_index", 0}, {"parameter_name", "Wow"}, {"value", c.value}}.dump();
        auto run = [&](std::optional<double> stopAfter) {
            load(pluginEditorsScenario());
            world().setKnob("staleAfter", c.stale);
            signature.reset();
            auto stop = std::make_shared<std::stop_source>();
            const double start = world().virtualSeconds();
            if (stopAfter) world().at(start + *stopAfter, [stop] { stop->request_stop(); });
            executor->executeToolCalls({toolCall("c", "set_plugin_parameter", args)}, request, threadID,
                                       roundIndex++, projectName, installedPlugins, toolsUsed, signature,
                                       stop->get_token());
            world().drainMainQueue();
            return world().virtualSeconds() - start;
        };
        const double whole = run(std::nullopt);
        ASSERT_TRUE(lastRecord().succeeded) << lastRecord().summary;
        for (double at = 0; at < whole + 0.02; at += 0.02) {
            SCOPED_TRACE(std::string(c.value) + ", " + c.stale + ", stopped at " + std::to_string(at));
            run(at);
            const auto& params = insert("Vox", 0).params;
            const std::string& said = lastRecord().summary;
            if (lastRecord().succeeded) continue;
            if (params.at("mode") != 1) {
                EXPECT_NE(said.find("Mode: Digital \u2192 Tape"), std::string::npos) << said;
            }
            if (params.at("wow") != 0) {
                EXPECT_NE(said.find("Wow: 0% \u2192 "), std::string::npos) << said;
            }
        }
    }
}

// While the song plays every moment is a change: where each change leaves every handle held
// before it stale, a plug-in window opened is still found, read and written.
TEST_F(ChatToolExecutorParameters, APlayingSongWhoseHandlesGoStaleOnEveryChangeIsReadAndWritten) {
    auto scenario = pluginEditorsScenario();
    scenario["project"]["playing"] = true;
    load(scenario);
    world().setKnob("staleAfter", "always");
    auto mapped = oneJSON("get_plugin_parameters", R"({"track_name":"Vox","plugin_name":"Drift Delay"})");
    EXPECT_EQ(mapped.value("mapApplied", false), true) << mapped;
    auto controls = oneJSON("get_plugin_parameters", R"({"track_name":"Vox","plugin_index":1})");
    EXPECT_EQ(controls.value("viewUsed", ""), "controls") << controls;
    auto answer = oneJSON("set_plugin_parameter",
                          R"({"track_name":"Vox","plugin_name":"Drift Delay","parameter_name":"Mix","value":"25%"})");
    EXPECT_EQ(insert("Vox", 0).params.at("mix"), 32);
    EXPECT_EQ(answer["status"], "ok") << answer;
    answer = oneJSON("set_plugin_parameter",
                     R"({"track_name":"Vox","plugin_index":1,"parameter_name":"Drive","value":"6 dB"})");
    EXPECT_EQ(insert("Vox", 1).params.at("drive"), 60);
    EXPECT_EQ(answer["message"], "Tube Saturator on Vox: Set Drive to 6.0 dB (was 0.0 dB)");
    answer = oneJSON("set_plugin_parameter",
                     R"({"track_name":"Vox","plugin_index":1,"parameter_name":"Character","value":"Bright"})");
    EXPECT_EQ(insert("Vox", 1).params.at("character"), 1);
    EXPECT_EQ(answer["message"], "Tube Saturator on Vox: Set Character to Bright (was Warm)");
    EXPECT_TRUE(world().project().transport.playing);
}

}  // namespace
}  // namespace corvane::testing
