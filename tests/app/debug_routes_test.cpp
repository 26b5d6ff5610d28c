// The diagnostic routes over a real loopback socket against the simulated Logic Pro: usage texts
// before Logic Pro is touched, defaults, slot selection, and the project state the routes change.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/controller_fixture.h"
#include "http/server_test_doubles.h"
#include "chat/tool_logger.h"
#include "support/base64.h"
#include "support/files.h"

namespace corvane::app {
namespace {

using Json = nlohmann::json;
using testing::ControllerTest;

class DebugRoutesTest : public ControllerTest {
protected:
    Json getJson(const std::string& path) {
        const auto answer = get(path);
        if (!answer) return Json("no answer");
        EXPECT_EQ(answer->status, 200) << path;
        EXPECT_EQ(answer->headers.at("Content-Type"), "application/json") << path;
        return Json::parse(answer->body, nullptr, false);
    }
    const standin::Track& track(const std::string& name) {
        project_ = world().project();
        const auto* found = project_.track(name);
        if (!found) throw std::runtime_error("no track " + name);
        return *found;
    }
    std::vector<std::string> inserts(const std::string& name) {
        std::vector<std::string> names;
        for (const auto& slot : track(name).strip.inserts) names.push_back(slot.plugin);
        return names;
    }
    standin::Project project_;
};

Json error(const std::string& message) { return Json{{"error", message}}; }

bool isPngOrJpeg(const std::string& bytes) {
    return bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0 || bytes.rfind("\xFF\xD8\xFF", 0) == 0;
}

TEST_F(DebugRoutesTest, RefusesMissingOrBadParametersBeforeTouchingLogic) {
    world().quitLogic();  // a route that reached Logic Pro would answer otherwise
    const struct {
        std::string path;
        std::string usage;
    } cases[] = {
        {"/debug/track-details?name=", "Pass ?name=TrackName"},
        {"/debug/transport-control", "Pass ?action=play|stop|go_to_beginning"},
        {"/debug/move-playhead?bar=twenty", "Pass ?bar=20"},
        {"/debug/move-playhead?bar=", "Pass ?bar=20"},
        {"/debug/move-playhead?bar=99999999999999999999", "Pass ?bar=20"},
        {"/debug/remove-plugin?plugin=EQ", "Pass ?track=Drums&plugin=Melodyne (or &index=4)"},
        {"/debug/add-plugin?track=Kick", "Pass ?track=Drums&plugin=Compressor (add &slot=-1 for end of chain)"},
        {"/debug/rename-track?current=Kick", "Pass ?current=OldName&new=NewName"},
        {"/debug/probe-insert-bar?track=Kick&slot=one", "Pass ?track=Test%20Audio&slot=1"},
        {"/debug/probe-insert-bar?track=Kick&slot=4294967296", "Pass ?track=Test%20Audio&slot=1"},
        {"/debug/reorder-plugin?track=Kick&from=1", "Pass ?track=Test%20Audio&from=N&to=M"},
        {"/debug/append-and-reorder?track=Kick&plugin=Limiter&to=1.0",
         "Pass ?track=Test%20Audio&plugin=Channel%20EQ&to=1"},
        {"/debug/test-type-to-filter-insert?track=Kick&slot=1", "Pass ?track=Test%20Audio&slot=1&plugin=Channel%20EQ"},
        {"/debug/crawl-everything-after-insert-click?slot=1", "Pass ?track=Test%20Audio&slot=1"},
        {"/debug/click-insert-bar-and-screenshot?track=Kick", "Pass ?track=Test%20Audio&slot=1"},
        {"/debug/sweep-insert-bar?track=Kick&slot=%201", "Pass ?track=Test%20Audio&slot=1"},
        {"/debug/channel-strip-actions", "Pass ?track=TrackName"},
        {"/debug/ensure-bus-track?track=Kick", "Pass ?track=<source_track>&bus=<bus_label>"},
        {"/debug/send-knob-set-raw?track=Kick&bus=Bus%201&raw=1.5", "Pass ?track=N&bus=B%2023&raw=123456"},
        {"/debug/send-knob-value?bus=Bus%201", "Pass ?track=Name&bus=B%2023"},
        {"/debug/click-send?track=Kick", "Pass ?track=Name&bus=B%2023"},
        {"/debug/dump-strip-all", "Pass ?track=Name"},
        {"/debug/dump-strip-buttons?track", "Pass ?track=Name"},
        {"/debug/set-volume?track=Kick&value=loud", "Pass ?track=Name&value=150"},
        {"/debug/set-volume?track=Kick&value=inf", "Pass ?track=Name&value=150"},
        {"/debug/get-plugin-params?track=Kick", "Pass ?track=X&plugin=Y (or &index=N)"},
        {"/debug/set-param?track=Kick&param=Threshold",
         "Pass ?track=Name&plugin=Name&param=Threshold&value=95 (or &index=5 instead of &plugin)"},
        {"/debug/dump-plugin-insert-menu", "Pass ?track=Name (pick a track with at least one free plugin slot)"},
        {"/debug/set-solo?track=Kick&state=maybe", "Pass ?track=Name&state=on|off"},
        {"/debug/set-mute?track=Kick", "Pass ?track=Name&state=on|off"},
        {"/debug/track-output", "Pass ?track=Vocals"},
        {"/debug/set-sidechain?track=Kick&plugin=Compressor",
         "Pass ?track=Drums&plugin=Compressor&source=Bus%2014 (or &index=0 instead of &plugin)"},
        {"/debug/click-button", "Pass ?contains=Platinum"},
        {"/debug/open-plugin", "Pass ?track=X&plugin=Y (or &index=N)"},
        {"/debug/switch-plugin-view", "Pass ?to=editor or ?to=controls"},
        {"/debug/switch-plugin-view?to=both", "Pass ?to=editor or ?to=controls"},
        {"/debug/ax-attrs", "Pass ?prefix=Platinum (matches any control whose AX description/title starts with this)"},
        {"/debug/dump-plugin-params?track=Guitar", "Pass ?track=Guitar&plugin=Channel%20EQ (or &index=0)"},
        {"/debug/set-folder-expanded?expanded=0", "Pass ?name=Keys&expanded=1 (or &expanded=0 to collapse)"},
        // Without Logic Pro the routes that need it say so.
        {"/debug/list-tracks", "Logic not running"},
        {"/debug/transport", "Logic not running"},
        {"/debug/arrangement", "Logic not running"},
        {"/debug/dump-inspector", "Logic not running"},
        {"/debug/controls-read", "Logic not running"},
        {"/debug/set-folder-expanded?name=Drums", "Logic not running"},
        {"/debug/click-insert", "Track not found"},
        {"/debug/track-details?name=Kick", "Track not found: Kick"},
    };
    for (const auto& c : cases) EXPECT_EQ(getJson(c.path), error(c.usage)) << c.path;
    EXPECT_EQ(get("/debug/list-tracks?x")->status, 200);
    EXPECT_EQ(post("/debug/list-tracks")->status, 404);
}

TEST_F(DebugRoutesTest, RoutesDriveTheSimulatedProject) {
    using Check = std::function<void(Json)>;
    const auto isObjectWithout = [](const char* key) { return [key](Json a) { EXPECT_FALSE(a.contains(key)) << a; }; };
    const int snareSend = track("Snare").strip.sends.at(0).detent;
    const struct {
        std::string path;
        Check check;
    } cases[] = {
        {"/debug/list-tracks",
         [](Json a) {
             ASSERT_TRUE(a.is_array());
             EXPECT_EQ(a.at(0), (Json{{"number", 1}, {"name", "Drums"}, {"muted", false}}));
         }},
        {"/debug/transport", [](Json a) { EXPECT_TRUE(a.contains("tempo")) << a; }},
        {"/debug/logic-ax", isObjectWithout("error")},
        {"/debug/logic-ax-full", [](Json a) { EXPECT_TRUE(a.is_array() && !a.empty()); }},
        {"/debug/arrangement?track=", [](Json a) { EXPECT_GE(a.size(), 5u) << a; }},
        {"/debug/track-details?name=Kick",
         [](Json a) {
             EXPECT_EQ(a["track"], "Kick");
             EXPECT_EQ(a["plugins"], Json::parse(R"([{"name":"Channel EQ","bypassed":false},
                                                     {"name":"Compressor","bypassed":true}])"));
         }},
        {"/debug/transport-control?action=Play",
         [this](Json a) {
             EXPECT_EQ(a, (Json{{"action", "Play"}, {"success", true}}));
             EXPECT_TRUE(world().project().transport.playing);
         }},
        {"/debug/transport-control?action=stop", [this](Json) { EXPECT_FALSE(world().project().transport.playing); }},
        {"/debug/move-playhead?bar=%2B5",
         [this](Json a) {
             EXPECT_EQ(a, (Json{{"bar", 5}, {"success", true}}));
             EXPECT_EQ(world().project().transport.playhead().bar, 5);
         }},
        {"/debug/remove-plugin?track=Kick",
         [](Json a) { EXPECT_EQ(a, error("Plugin not found. Available: [0] Channel EQ, [1] Compressor")); }},
        {"/debug/set-param?track=Kick&param=Threshold&value=10",
         [](Json a) { EXPECT_EQ(a, error("Plugin not found. Available: [0] Channel EQ, [1] Compressor")); }},
        {"/debug/remove-plugin?track=Kick&index=1&plugin=Channel%20EQ",
         [this](Json a) {
             EXPECT_EQ(a["plugin"], "Compressor");
             EXPECT_EQ(inserts("Kick"), std::vector<std::string>{"Channel EQ"});
         }},
        {"/debug/add-plugin?track=Kick&plugin=Limiter&slot=end",
         [this](Json a) {
             EXPECT_TRUE(a["slot"].is_null()) << a;
             EXPECT_EQ(a["success"], true) << a;
             EXPECT_EQ(inserts("Kick"), (std::vector<std::string>{"Channel EQ", "Limiter"}));
         }},
        {"/debug/reorder-plugin?track=Kick&from=1&to=0",
         [this](Json a) {
             EXPECT_EQ(a["success"], true) << a;
             EXPECT_EQ(inserts("Kick"), (std::vector<std::string>{"Limiter", "Channel EQ"}));
         }},
        {"/debug/remove-plugin?track=Kick&index=9&plugin=channel%20eq",
         [this](Json) { EXPECT_EQ(inserts("Kick"), std::vector<std::string>{"Limiter"}); }},
        {"/debug/remove-plugin?track=Kick&plugin=Limit",
         [](Json a) { EXPECT_EQ(a, error("Plugin not found. Available: [0] Limiter")); }},
        {"/debug/get-plugin-params?track=Lead%20Vox&index=0", isObjectWithout("error")},
        {"/debug/rename-track?current=Guitar&new=Gtr",
         [this](Json a) {
             EXPECT_EQ(a["success"], true) << a;
             EXPECT_NE(world().project().track("Gtr"), nullptr);
         }},
        {"/debug/set-solo?track=Bass&state=ON",
         [this](Json a) {
             EXPECT_EQ(a, (Json{{"track", "Bass"}, {"solo", "on"}, {"success", true}}));
             EXPECT_TRUE(track("Bass").soloed);
         }},
        {"/debug/set-mute?track=Bass&state=on", [this](Json) { EXPECT_TRUE(track("Bass").muted); }},
        {"/debug/set-volume?track=Bass&value=150",
         [this](Json a) {
             EXPECT_EQ(a["value"], 150.0);
             EXPECT_EQ(track("Bass").strip.volume, 150);
         }},
        {"/debug/send-knob-set-raw?track=Snare&bus=Bus%201&raw=0",
         [this, snareSend](Json a) { EXPECT_LT(track("Snare").strip.sends.at(0).detent, snareSend) << a; }},
        {"/debug/set-folder-expanded?name=Nope",
         [](Json a) {
             EXPECT_EQ(a["error"], "Track not found: Nope");
             EXPECT_EQ(a["available"].at(0), "Drums");
         }},
        {"/debug/set-folder-expanded?name=Bass", [](Json a) { EXPECT_EQ(a, error("'Bass' is not a folder track")); }},
        {"/debug/set-folder-expanded?name=Drums&expanded=FALSE",
         [this](Json a) {
             EXPECT_EQ(a["expanded"], false);
             EXPECT_FALSE(track("Drums").expanded);
         }},
        {"/debug/set-folder-expanded?name=Drums&expanded=yes", [this](Json) { EXPECT_TRUE(track("Drums").expanded); }},
        {"/debug/set-folder-expanded?name=Drums&expanded=0", [this](Json) { EXPECT_FALSE(track("Drums").expanded); }},
        {"/debug/set-folder-expanded?name=Drums&expanded=", [this](Json) { EXPECT_TRUE(track("Drums").expanded); }},
        {"/debug/dump-inspector", [](Json a) { EXPECT_GT(a.value("count", 0), 0) << a; }},
        {"/debug/dump-strip-all?track=Bass", [](Json a) { EXPECT_GT(a.value("elementCount", 0), 0) << a; }},
        {"/debug/dump-strip-buttons?track=Bass", [](Json a) { EXPECT_GT(a.value("buttonCount", 0), 0) << a; }},
        {"/debug/channel-strip-actions?track=Bass", isObjectWithout("error")},
        {"/debug/dump-automation-menu", [](Json a) { EXPECT_TRUE(a.is_object()) << a; }},
        {"/debug/track-output?track=Bass", [](Json a) { EXPECT_EQ(a["output"], "Stereo Output") << a; }},
        {"/debug/send-knob-value?track=Kick&bus=Bus%201", isObjectWithout("error")},
        {"/debug/append-and-reorder?track=Bass&plugin=Limiter&to=0",
         [this](Json a) {
             EXPECT_EQ(a["step"], "reorder") << a;
             EXPECT_EQ(a["appendedIndex"], 1) << a;
             EXPECT_EQ(inserts("Bass"), (std::vector<std::string>{"Limiter", "Compressor"})) << a;
         }},
        {"/debug/open-plugin?track=Lead%20Vox&plugin=COMPRESSOR", [](Json a) { EXPECT_EQ(a["ok"], true) << a; }},
        {"/debug/controls-read", [](Json a) { EXPECT_GT(a.value("count", 0), 0) << a; }},
        {"/debug/dump-open-plugin",
         [](Json a) {
             const auto picture = base64Decode(a.value("screenshotBase64", ""));
             EXPECT_TRUE(picture && isPngOrJpeg(*picture)) << a.dump().substr(0, 300);
         }},
        {"/debug/ensure-bus-track?track=Kick&bus=Bus%201", [](Json a) { EXPECT_TRUE(a.is_object()) << a; }},
        {"/debug/click-send?track=Kick&bus=Bus%201", [](Json a) { EXPECT_TRUE(a.is_object()) << a; }},
        {"/debug/switch-plugin-view?to=Controls", [](Json a) { EXPECT_EQ(a["target"], "controls") << a; }},
        {"/debug/ax-attrs?prefix=Thr", [](Json a) { EXPECT_TRUE(a.is_object()) << a; }},
        {"/debug/click-button?contains=Nothing%20Like%20This", [](Json a) { EXPECT_TRUE(a.is_object()) << a; }},
        {"/debug/dump-sidechain-menu", [](Json a) { EXPECT_TRUE(a.is_object()) << a; }},
        {"/debug/set-sidechain?track=Lead%20Vox&index=1&source=Bus%201",
         [](Json a) { EXPECT_TRUE(a["success"].is_boolean()) << a; }},
        {"/debug/set-param?track=Bass&index=1&param=Threshold&value=50",
         [](Json a) { EXPECT_TRUE(a["success"].is_boolean()) << a; }},
        {"/debug/dump-plugin-params?track=Lead%20Vox&index=0", isObjectWithout("error")},
        {"/debug/click-insert?track=", [](Json a) { EXPECT_TRUE(a.is_array()) << a; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        c.check(getJson(c.path));
    }
}

// The probes leave their menus open, which stops later track selections: they run on their own.
TEST_F(DebugRoutesTest, InsertBarProbesAnswerPicturesAndNineSweepRowsEvenWhenProbesFail) {
    const Json shot = getJson("/debug/click-insert-bar-and-screenshot?track=Bass&slot=0");
    const auto picture = readFile(shot.value("screenshot", ""));
    EXPECT_TRUE(picture.ok() && isPngOrJpeg(picture.bytes)) << shot;
    for (const std::string path : {"/debug/probe-insert-bar?track=Bass&slot=0&ydelta=-2",
                                   "/debug/crawl-everything-after-insert-click?track=Bass&slot=0",
                                   "/debug/test-type-to-filter-insert?track=Bass&slot=0&plugin=Limiter",
                                   "/debug/dump-plugin-insert-menu?track=Bass"}) {
        const Json probe = getJson(path);
        EXPECT_TRUE(probe.is_object() && !probe.empty()) << path << probe;
    }
    for (const std::string name : {"Bass", "Nope"}) {
        const double before = world().virtualSeconds();
        Json a = getJson("/debug/sweep-insert-bar?track=" + name + "&slot=0");
        EXPECT_GE(world().virtualSeconds() - before, 5.4 - 1e-9);
        EXPECT_EQ(a["track"], name);
        ASSERT_EQ(a["results"].size(), 9u) << a;
        for (int i = 0; i < 9; ++i) {
            Json& row = a["results"][static_cast<std::size_t>(i)];
            EXPECT_EQ(row.size(), 3u) << row;
            EXPECT_EQ(row["yDelta"], i - 4);
            EXPECT_TRUE(row["menuItems"].is_number_integer() && row["menuNodes"].is_number_integer()) << row;
            if (name == "Nope") {
                EXPECT_EQ(row["menuItems"], 0);
            }
        }
    }
}

// The world's clock, except that each pause of `held` seconds waits for the test to let it pass:
// a route that pauses so takes as long as the test wants, whatever the machine's speed.
class HeldPauses final : public platform::Clock {
public:
    HeldPauses(platform::Clock& inner, double held) : inner_(inner), held_(held) {}
    TimePoint now() override { return inner_.now(); }
    void sleep(std::chrono::duration<double> duration) override {
        if (duration.count() == held_) {
            ++pauses;
            gate.pass();
        }
        inner_.sleep(duration);
    }
    Subscription onMoved(std::function<void()> moved) override { return inner_.onMoved(std::move(moved)); }

    http::testing::Gate gate;
    std::atomic<int> pauses{0};

private:
    platform::Clock& inner_;
    const double held_;
};

// A burst of slow "/debug/..." requests took every worker (so "/conversations/create" waited as long
// as they ran), held their places while they waited (so "/health" and small analysis posts waited
// in the listen backlog) and ran to the end after their clients had gone. Now every route the
// controller does not name prompt is slow within the bounds of its own lane, the rest of the burst
// is refused at once, and a request whose client left while it waited is never run.
TEST_F(DebugRoutesTest, ABurstOfASlowDebugRouteLeavesEveryOtherRouteAnsweredAtOnce) {
    const std::string sweep = "GET /debug/sweep-insert-bar?track=Kick&slot=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    constexpr int kSweepPauses = 9;
    // What runs behind the lane's sweeps waits for them all: on a busy machine far longer than a
    // prompt answer may take, so only a hang runs out of this.
    constexpr std::chrono::milliseconds kBehindTheLane = std::chrono::minutes(5);
    for (const bool clientsLeave : {true, false}) {
        SCOPED_TRACE(clientsLeave ? "each client closes at once" : "each client waits");
        HeldPauses clock(world().clock(), 0.6);  // the sweep's pause after each probe
        auto services = world().services();
        services.clock = &clock;
        platform::ScopedServices held(services);
        constexpr int kBurst = 1100;  // past every worker and every connection place
        std::vector<std::unique_ptr<http::testing::RawClient>> burst;
        for (int i = 0; i < kBurst; ++i) {
            burst.push_back(std::make_unique<http::testing::RawClient>(port()));
            ASSERT_TRUE(burst.back()->send(sweep)) << i;
            if (clientsLeave) burst.back()->close();
        }
        const int laneRunning = static_cast<int>(http::WorkLane{}.maxRunning);  // a slow route's own bound
        ASSERT_TRUE(clock.gate.awaitArrivals(laneRunning));
        const auto ask = [&](const std::string& method, const std::string& path, const std::string& body) {
            std::string raw = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
            if (method == "POST") raw += "Content-Length: " + std::to_string(body.size()) + "\r\n";
            return http::testing::exchange(port(), raw + "\r\n" + body, http::testing::kPatience);
        };
        for (int round = 0; round < 3; ++round) {
            for (const auto& [method, path, body] : std::vector<std::tuple<std::string, std::string, std::string>>{
                     {"GET", "/health", ""},
                     {"GET", "/context", ""},
                     {"POST", "/analysis", R"({"trackName":"Kick","instanceID":"k"})"},
                     {"POST", "/conversations/create", "{}"},
                     {"GET", "/conversations", ""}}) {
                const auto answer = ask(method, path, body);
                ASSERT_TRUE(answer) << path << " unanswered while the sweeps are held";
                EXPECT_LT(answer->status, 300) << path;
            }
        }
        const int started = clock.pauses.load();  // each sweep held at its first pause
        EXPECT_EQ(started, laneRunning) << "the sweeps took more than their lane's share of the workers";
        clock.gate.allow();
        if (clientsLeave) {
            // One more behind whatever still waits in the sweep's lane: answered once they have run.
            const auto last = http::testing::exchange(port(), sweep, kBehindTheLane);
            ASSERT_TRUE(last);
            EXPECT_EQ(last->status, 200);
            // The held sweeps may still be making their last pauses when the one behind them answers.
            EXPECT_TRUE(clock.gate.awaitArrivals((started + 1) * kSweepPauses));
            EXPECT_EQ(clock.pauses.load(), (started + 1) * kSweepPauses) << "a sweep ran for a client that had gone";
        } else {
            int swept = 0, busy = 0;
            for (auto& client : burst) {
                auto answer = http::testing::parseAnswer(client->readAll(kBehindTheLane).bytes);
                ASSERT_TRUE(answer);
                swept += answer->status == 200;
                busy += answer->status == 503 && answer->headers["Retry-After"] == "1";
            }
            EXPECT_EQ(swept + busy, kBurst);
            EXPECT_EQ(clock.pauses.load(), swept * kSweepPauses);
            EXPECT_LE(swept, laneRunning + static_cast<int>(http::WorkLane{}.maxWaiting));  // nothing past its lane
        }
    }
}

TEST_F(DebugRoutesTest, ToolLogsListDecodableTurnsNewestFirst) {
    const auto dir = ToolLogger::shared().logsDir();
    std::filesystem::remove_all(dir);
    EXPECT_EQ(getJson("/debug/tool-logs"), Json::parse(R"({"count": 0, "logs": []})"));
    std::filesystem::create_directories(dir);
    TurnLog turn;
    turn.turnTimestamp = "2026-01-01T10:00:00Z";
    turn.userMessage = std::string(250, 'm');
    turn.toolCalls.resize(2);
    turn.totalRounds = 3;
    for (int i = 0; i < 12; ++i) {
        std::ofstream(dir / ("turn-2026-01-01-10000" + std::to_string(10 + i) + ".json")) << Json(turn).dump();
    }
    std::ofstream(dir / "turn-2026-01-01-1000099.json") << "{not a turn";
    for (const auto& [query, rows] :
         std::vector<std::pair<std::string, std::size_t>>{{"", 9},
                                                          {"?count=x", 9},
                                                          {"?count=-3", 0},
                                                          {"?count=2", 1},
                                                          {"?count=99999999999999999999", 9},
                                                          {"?count=100", 12}}) {
        Json a = getJson("/debug/tool-logs" + query);
        EXPECT_EQ(a["count"], rows) << query;
        ASSERT_EQ(a["logs"].size(), rows) << query;
        if (rows == 0) continue;
        EXPECT_EQ(a["logs"][0]["userMessage"], std::string(100, 'm'));
        EXPECT_EQ(a["logs"][0]["toolCount"], 2);
        EXPECT_EQ(a["logs"][0]["rounds"], 3);
        EXPECT_EQ(a["logs"][0]["timestamp"], turn.turnTimestamp);
    }
}

}  // namespace
}  // namespace corvane::app
