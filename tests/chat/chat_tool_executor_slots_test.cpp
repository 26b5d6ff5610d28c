#include <gtest/gtest.h>

#include <functional>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"

namespace corvane::testing {
namespace {

using nlohmann::json;
using Slot = LogicInspector::InsertSlot;

std::vector<Slot> slots(std::initializer_list<const char*> names) {
    std::vector<Slot> list;
    for (const char* name : names) list.push_back({name, {}, false});
    return list;
}

TEST(ChatToolExecutorSlots, IndexBeatsNameAndANegativeIndexFallsToTheName) {
    struct Case {
        const char* args;
        std::vector<Slot> chain;
        const char* slotOrError;
    };
    const auto chain = slots({"Channel EQ", "Compressor", "Limiter"});
    const Case cases[] = {
        {R"({"plugin_index":2,"plugin_name":"Channel EQ"})", chain, "Limiter"},
        {R"({"plugin_index":1.0})", chain, "Compressor"},
        {R"({"plugin_index":-1,"plugin_name":"compressor"})", chain, "Compressor"},
        {R"({"plugin_index":"0","plugin_name":"Limiter"})", chain, "Limiter"},
        {R"({"plugin_index":3})", chain, "Plugin index 3 out of range (0-2)."},
        {R"({"plugin_index":18446744073709551615,"plugin_name":"Limiter"})", chain,
         "Plugin index 18446744073709551615 out of range (0-2)."},
        {R"({"plugin_index":0})", {}, "Plugin index 0 out of range: Kick has no plugins."},
        {R"({"plugin_name":"Chan"})", chain,
         "Plugin 'Chan' not found on Kick. Available: [0] Channel EQ, [1] Compressor, [2] Limiter"},
        {R"({"plugin_name":"EQ"})", slots({"eq", "Compressor", "EQ"}),
         "Multiple plugins named 'EQ' on Kick. Use plugin_index to disambiguate: [0] eq, [2] EQ"},
        {R"({"plugin_index":1.5})", chain, "Missing plugin_name or plugin_index parameter."},
        {R"({})", chain, "Missing plugin_name or plugin_index parameter."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        auto resolved = ChatToolExecutor::resolvePluginSlot(json::parse(c.args), c.chain, "Kick");
        ASSERT_NE(resolved.slot.has_value(), resolved.error.has_value());
        EXPECT_EQ(resolved.slot ? resolved.slot->name : *resolved.error, c.slotOrError);
    }
}

TEST(ChatToolExecutorSlots, AnalysisPlugInIsRecognisedInEveryWrittenForm) {
    const std::pair<const char*, bool> cases[] = {
        {"Corvane", true},   {"  CORVANE\t", true},  {"Corvane Analyzer (AU)", true},
        {"Quillmere", true}, {"MyQuillmereX", true}, {"Corva", true},
        {"Corvan", true},    {"Corvaxx EQ", true},   {"Cor", true},
        {"Corv", true},      {"Corxy", true},        {"Corxyz", false},
        {"Cor EQ", false},   {"Co", false},          {"Compressor", false},
        {"", false},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(ChatToolExecutor::isCorvaneSlot(name), expected) << name;

    const std::tuple<const char*, const char*, bool> matches[] = {
        {"Channel EQ", "channel eq", true}, {"Compressor", "Compres", true}, {"Comp", " Compressor ", true},
        {"Corvane", "Cor", true},           {"Quillmere", "Corva", true},    {"Limiter", "Compressor", false},
    };
    for (const auto& [expected, actual, result] : matches)
        EXPECT_EQ(ChatToolExecutor::pluginNameMatches(expected, actual), result) << expected << " / " << actual;
}

// Runs a hook after every sleep of the world's clock, so a test can change Logic Pro between polls.
class HookClock final : public platform::Clock {
public:
    explicit HookClock(platform::Clock& inner) : inner_(inner) {}
    TimePoint now() override { return inner_.now(); }
    void sleep(std::chrono::duration<double> d) override {
        inner_.sleep(d);
        ++sleeps;
        if (afterSleep) afterSleep(sleeps);
    }
    std::function<void(int)> afterSleep;
    int sleeps = 0;

private:
    platform::Clock& inner_;
};

class ChatToolExecutorSlotsOnLogic : public ToolExecutorTest {
protected:
    platform::AXElement selected(const std::string& track) {
        auto selection = logic.selectTrack(track);
        EXPECT_TRUE(selection);
        return selection ? selection->mainWindow : platform::AXElement();
    }
};

TEST_F(ChatToolExecutorSlotsOnLogic, SettleWaitNeedsTheSameNonZeroFrameTwiceAndStartsAgainOnAChange) {
    const auto window = selected("Lead Vox");
    ASSERT_EQ(world().project().track("Lead Vox")->strip.inserts.back().plugin, "Corvane");
    HookClock clock(world().clock());
    auto services = world().services();
    services.clock = &clock;
    platform::ScopedServices hooked(services);

    struct Case {
        const char* name;
        const char* expected;
        std::function<void(int)> afterSleep;
        std::optional<int> sleeps;  // absent: no answer
    };
    const Case cases[] = {
        {"settled", "corvane", nullptr, 1},
        {"moved after the first poll", "Corvane",
         [&](int n) {
             if (n == 1) world().setKnob("windowFrames", {{"main", {40, 60, 1400, 860}}});
         },
         2},
        {"another plug-in last", "Limiter", nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clock.sleeps = 0;
        clock.afterSleep = c.afterSleep;
        auto answer = executor->waitForPluginAtEnd(window, c.expected, 2.0);
        clock.afterSleep = nullptr;
        EXPECT_EQ(answer.has_value(), c.sleeps.has_value());
        if (answer) {
            EXPECT_EQ(clock.sleeps, *c.sleeps);
            EXPECT_EQ(answer->back().name, "Corvane");
        } else {
            EXPECT_GE(clock.sleeps, 19);
        }
    }
}

TEST_F(ChatToolExecutorSlotsOnLogic, APlugInWhoseFrameReadsAsZeroNeverCountsAsSettled) {
    const auto window = selected("Bass");
    world().setKnob("newSlotZeroFrame", 1000);
    // Its own check reads the zero frame as the top of the chain; the project says where it went.
    (void)logic.addPlugin(window, "Limiter");
    ASSERT_EQ(world().project().track("Bass")->strip.inserts.back().plugin, "Limiter");
    const double start = world().virtualSeconds();
    EXPECT_FALSE(executor->waitForPluginAtEnd(window, "Limiter", 2.0));
    EXPECT_NEAR(world().virtualSeconds() - start, 2.0, 0.15);
}

TEST_F(ChatToolExecutorSlotsOnLogic, PresenceCacheRecognisesTheAnalysisPlugInInNarrowSlots) {
    for (int width : {0, 5, 3}) {
        SCOPED_TRACE(width);
        world().setKnob("slotNameWidth", width);
        executor->updateCorvaneCache("Lead Vox", logic.findTrackPluginSlots(selected("Lead Vox")));
        executor->updateCorvaneCache("Bass", logic.findTrackPluginSlots(selected("Bass")));
        EXPECT_EQ(executor->corvanePresence("Lead Vox"), true);
        EXPECT_EQ(executor->corvanePresence("Bass"), false);
    }
    EXPECT_EQ(executor->corvanePresence("Keys"), std::nullopt);
}

TEST_F(ChatToolExecutorSlotsOnLogic, SidechainSourcesPassThroughOrResolveThroughTheTrackList) {
    ASSERT_EQ(world().project().track("Drums")->strip.output, "Stereo Output");
    struct Case {
        const char* text;
        std::optional<std::string> source;
        std::optional<std::string> note;
        std::optional<std::string> errorStart;
    };
    const Case cases[] = {
        {" Bus 14 ", "Bus 14", {}, {}},
        {"Internal", "Internal", {}, {}},
        {"inst 3", "inst 3", {}, {}},
        {"14", "Bus 14", "interpreted '14' as 'Bus 14'", {}},
        {"-07", "Bus -07", "interpreted '-07' as 'Bus -07'", {}},
        {"bass", "Bass", {}, {}},
        {"Drums", {}, {}, "Cannot sidechain to folder 'Drums' \u2014 it's routed directly to Stereo Output"},
        {"99999999999999999999",
         {},
         {},
         "Sidechain source '99999999999999999999' isn't a bus (e.g. 'Bus 14'), 'Internal' (to clear), or a known "
         "track name. Available tracks: Drums, Kick, Snare, Bass"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto resolved = executor->resolveSidechainSource(c.text);
        EXPECT_EQ(resolved.source, c.source);
        EXPECT_EQ(resolved.note, c.note);
        EXPECT_EQ(resolved.error.has_value(), c.errorStart.has_value());
        if (resolved.error && c.errorStart) {
            EXPECT_TRUE(resolved.error->starts_with(*c.errorStart)) << *resolved.error;
        }
    }
}

}  // namespace
}  // namespace corvane::testing
