#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>

#include "logic/logic_inspector.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/fake_ax.h"
#include "test_support/manual_clock.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using nlohmann::json;
using testing::FakeElement;
using Node = std::shared_ptr<FakeElement>;

std::vector<std::string> traceMessages() {
    std::vector<std::string> lines;
    std::string all = testing::readAll(PlayheadDebug::url());
    for (size_t start = 0, nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = all.substr(start, nl - start);
        lines.push_back(line.substr(line.find("] ") + 2));
    }
    return lines;
}

json span(int start, int end) { return {{"startBar", start}, {"endBar", end}}; }
json row(int number, const std::string& name) {
    return {{"trackNumber", number}, {"name", name}, {"hasContent", false}};
}
json row(int number, const std::string& name, json spans) {
    return {{"trackNumber", number}, {"name", name}, {"hasContent", true}, {"spans", std::move(spans)}};
}

// --- On the simulated Logic Pro ----------------------------------------------------------------

class LogicInspectorTransport : public standin::testing::StandinTest {
protected:
    platform::AXElement window() {
        auto w = inspector.findMainWindow();
        EXPECT_TRUE(w);
        return w.value_or(platform::AXElement());
    }
    standin::PlayheadPosition playhead() { return world().project().transport.playhead(); }

    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicInspectorTransport, ButtonsPlayStopRewindAndSoloTheProjectNotATrack) {
    EXPECT_EQ(inspector.readTransport(window()), (json{{"tempo", "120"},
                                                       {"timeSignature", "4/4"},
                                                       {"isPlaying", false},
                                                       {"isRecording", false},
                                                       {"cycleEnabled", true},
                                                       {"globalSolo", false}}));
    world().mutateProject([](standin::Project& p) { p.transport.cycleOn = false; });

    ASSERT_TRUE(inspector.clickTransportButton("Play", window()).success);
    EXPECT_TRUE(world().project().transport.playing);
    EXPECT_EQ(inspector.readTransport(window())["isPlaying"], true);
    world().advance(4.0);  // two bars of 4/4 at 120
    EXPECT_EQ(inspector.currentBar(window()), 3);

    ASSERT_TRUE(inspector.clickTransportButton("Stop", window()).success);
    EXPECT_FALSE(world().project().transport.playing);
    EXPECT_EQ(playhead().bar, 3);
    ASSERT_TRUE(inspector.clickTransportButton("Go to Beginning", window()).success);
    EXPECT_EQ(playhead(), (standin::PlayheadPosition{1, 1, 1, 1}));
    EXPECT_EQ(inspector.currentBar(window()), 1);

    EXPECT_FALSE(inspector.clickTransportButton("Fast Forward", window()).success);

    // The headers' toggles are the lower-case "solo": matching must stay case-sensitive.
    ASSERT_TRUE(inspector.clickTransportButton("Solo", window()).success);
    auto p = world().project();
    EXPECT_TRUE(p.transport.globalSolo);
    for (const auto& t : p.tracks) EXPECT_FALSE(t.soloed) << t.name;
    EXPECT_EQ(inspector.readTransport(window())["globalSolo"], true);
}

TEST_F(LogicInspectorTransport, MovePlayheadLandsOnTheBarsDownbeatAndTracesTheChoice) {
    world().mutateProject([](standin::Project& p) { p.transport.setPlayhead({5, 3, 2, 100}); });
    ASSERT_TRUE(inspector.movePlayhead(17, window()).success);
    EXPECT_EQ(playhead(), (standin::PlayheadPosition{17, 1, 1, 1}));
    EXPECT_EQ(inspector.currentBar(window()), 17);

    auto frame = world().controlFrame("Playhead Position");
    ASSERT_TRUE(frame);
    EXPECT_EQ(traceMessages().back(), fmt::format("target bar=17 candidates=1 chose frame=(x={} y={} w={} h={})",
                                                  int(frame->x), int(frame->y), int(frame->width), int(frame->height)));

    // Logic Pro clamps to its last bar: the write is not confirmed.
    auto clamped = inspector.movePlayhead(500, window());
    EXPECT_FALSE(clamped.success);
    EXPECT_EQ(clamped.message, "The playhead did not move to bar 500.");
    EXPECT_EQ(playhead().bar, 64);
}

TEST_F(LogicInspectorTransport, ReadOnlyPositionDisplayHigherUpIsNeverTheOneWritten) {
    world().setKnob("secondPlayheadGroup", true);
    ASSERT_TRUE(inspector.movePlayhead(9, window()).success);
    EXPECT_EQ(playhead().bar, 9);
    auto upper = world().controlFrame("Playhead Position");  // the first in the window
    ASSERT_TRUE(upper);
    std::string trace = traceMessages().back();
    EXPECT_EQ(trace.rfind("target bar=9 candidates=2 chose frame=(", 0), 0u) << trace;
    EXPECT_EQ(trace.find(fmt::format(" y={} ", int(upper->y))), std::string::npos) << trace;
    // The read follows the first group found, which shows the same position.
    EXPECT_EQ(inspector.currentBar(window()), 9);
}

TEST_F(LogicInspectorTransport, ArrangementSpansReadAsBarsOnceThePlayheadCalibratesTheScale) {
    ASSERT_TRUE(inspector.movePlayhead(11, window()).success);
    // Bass's second region is muted and Drums holds none; Keys is muted as a track, its region is not.
    EXPECT_EQ(nlohmann::json(inspector.readArrangement(window(), std::nullopt)),
              (json{row(1, "Drums"), row(2, "Kick", {span(1, 33)}), row(3, "Snare", {span(5, 33)}),
                    row(4, "Bass", {span(1, 17)}), row(5, "Lead Vox", {span(9, 33)}), row(6, "Keys", {span(1, 33)}),
                    row(7, "Guitar", {span(17, 33)})}));

    // Touching regions merge; one bar apart they stay two spans.
    world().mutateProject([](standin::Project& p) {
        p.track("Guitar")->regions = {{"G1", 1, 4, false}, {"G2", 5, 4, false}, {"G3", 10, 2, false}};
        p.track("Kick")->regions = {{"K1", 3, 2, true}};
    });
    EXPECT_EQ(nlohmann::json(inspector.readArrangement(window(), std::string("guitar"))),
              (json{row(7, "Guitar", {span(1, 9), span(10, 12)})}));
    EXPECT_EQ(nlohmann::json(inspector.readArrangement(window(), std::string("Kick"))),
              (json{row(2, "Kick", json::array())}));
}

// Measuring the scale moves the playhead; where that move rebuilds the window, or handles stop
// answering after a few reads, the playhead is still put back and the arrangement read.
TEST_F(LogicInspectorTransport, APlayheadMovedToMeasureIsPutBackWhereHandlesGoStale) {
    for (const char* stale : {"always", "afterReads 3"}) {
        SCOPED_TRACE(stale);
        load(standin::testing::demoSong());
        world().setKnob("staleAfter", stale);
        // As a tool call reads: answers kept until a change, places kept for the call.
        const platform::AXReadScope reads;
        const LogicInspector::KeptPlaces places(inspector);

        const auto read = nlohmann::json(inspector.readArrangement(window(), std::string("Bass")));

        EXPECT_EQ(playhead(), standin::PlayheadPosition{});
        EXPECT_EQ(read, (json{row(4, "Bass", {span(1, 17)})}));
    }
}

TEST_F(LogicInspectorTransport, TrackFilterMatchesNamesOnlyIgnoringCase) {
    ASSERT_TRUE(inspector.movePlayhead(2, window()).success);
    world().mutateProject([](standin::Project& p) {
        p.track("Lead Vox")->name = "Synth Bass";
        p.track("Guitar")->name = "Bass DI";
    });
    auto names = [&](const std::string& filter) {
        std::vector<std::string> out;
        for (const auto& entry : nlohmann::json(inspector.readArrangement(window(), filter)))
            out.push_back(entry.value("name", "?"));
        return out;
    };
    EXPECT_EQ(names("BASS"), (std::vector<std::string>{"Bass", "Synth Bass", "Bass DI"}));
    EXPECT_EQ(names("4"), std::vector<std::string>{});  // Bass is track 4; numbers are not names
    EXPECT_EQ(names("").size(), 7u);
}

TEST_F(LogicInspectorTransport, ArrangementFailuresComeBackAsOneErrorEntry) {
    world().setKnob("axError", json{{"element", "Tracks contents"}, {"attribute", "AXChildren"}});
    EXPECT_EQ(nlohmann::json(inspector.readArrangement(window(), std::nullopt)),
              (json{{{"error", "No track content areas found"}}}));
    auto bare = FakeElement::make("AXWindow")->add(FakeElement::make("AXGroup", "Tracks"));
    EXPECT_EQ(nlohmann::json(inspector.readArrangement(bare->handle(), std::nullopt)),
              (json{{{"error", "Tracks contents area not found"}}}));
}

// --- On hand-built trees: shapes the simulated Logic Pro does not show ----------------------

class LogicInspectorTransportShapes : public ::testing::Test {
protected:
    static Node el(const std::string& role, const std::string& description = {}) {
        return FakeElement::make(role, description);
    }
    static Node framed(Node e, double x, double y, double w, double h) {
        e->set("AXPosition", platform::Point{x, y});
        e->set("AXSize", platform::Size{w, h});
        return e;
    }
    // The beat, division and tick fields all show `within`.
    static Node playheadGroup(double y, std::int64_t bar, std::int64_t within = 2) {
        auto g = framed(el("AXGroup", "Playhead Position"), 0, y, 100, 20);
        for (const char* name : {"bar", "beat", "division", "tick"})
            g->add(el("AXSlider", name)->set("AXValue", std::string(name) == "bar" ? bar : within));
        return g;
    }
    static Node slider(const Node& group, const std::string& name) {
        for (auto& c : group->children)
            if (std::get<std::string>(c->attributes["AXDescription"]) == name) return c;
        return nullptr;
    }
    // A ruler with the start marker at x 100 and the playhead at x 190 on bar 11's downbeat: 9
    // points per bar.
    static Node arrangement(const std::vector<Node>& rows) {
        auto contents = el("AXLayoutArea", "Tracks contents");
        for (auto& r : rows) contents->add(r);
        return el("AXWindow")
            ->add(playheadGroup(50, 11, 1))
            ->add(framed(el("AXValueIndicator", "Start Marker"), 100, 80, 1, 20))
            ->add(framed(el("AXValueIndicator", "Playhead thumb"), 190, 80, 1, 20))
            ->add(contents);
    }
    static Node region(double x0, double x1, const std::string& description = "Region") {
        return framed(el("AXLayoutItem", description), x0, 120, x1 - x0, 30);
    }

    testing::ManualClock clock;
    platform::ScopedServices services{{.clock = &clock}};
    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicInspectorTransportShapes, LowestGroupIsWrittenAndEqualHeightsKeepTheWalkOrder) {
    auto upper = playheadGroup(40, 1);
    auto lower = playheadGroup(900, 1);
    auto window = el("AXWindow")->add(upper)->add(el("AXGroup")->add(lower));
    ASSERT_TRUE(inspector.movePlayhead(17, window->handle()).success);
    EXPECT_TRUE(slider(upper, "bar")->writes.empty());
    std::vector<double> written;
    for (const char* name : {"bar", "beat", "division", "tick"})
        for (auto& w : slider(lower, name)->writes) written.push_back(std::get<double>(w));
    EXPECT_EQ(written, (std::vector<double>{17, 1, 1, 1}));
    EXPECT_EQ(traceMessages().back(), "target bar=17 candidates=2 chose frame=(x=0 y=900 w=100 h=20)");

    auto first = playheadGroup(300, 1);
    auto second = playheadGroup(300, 1);
    ASSERT_TRUE(inspector.movePlayhead(3, el("AXWindow")->add(first)->add(second)->handle()).success);
    EXPECT_FALSE(slider(first, "bar")->writes.empty());
    EXPECT_TRUE(slider(second, "bar")->writes.empty());
}

TEST_F(LogicInspectorTransportShapes, OnlyTheBarWriteDecidesTheOutcome) {
    auto group = playheadGroup(50, 1);
    slider(group, "tick")->rejectWrites = true;
    EXPECT_TRUE(inspector.movePlayhead(17, el("AXWindow")->add(group)->handle()).success);
    group = playheadGroup(50, 1);
    slider(group, "bar")->rejectWrites = true;
    EXPECT_FALSE(inspector.movePlayhead(17, el("AXWindow")->add(group)->handle()).success);
    EXPECT_EQ(slider(group, "tick")->writes.size(), 1u);  // the others are still written

    EXPECT_FALSE(inspector.movePlayhead(4, el("AXWindow")->add(el("AXGroup", "Control Bar"))->handle()).success);
    EXPECT_EQ(traceMessages().back(), "no Playhead Position AXGroup found in window");
}

TEST_F(LogicInspectorTransportShapes, NaNFramesNeitherCrashTheSortNorReachTheTrace) {
    auto odd = framed(playheadGroup(0, 1), NAN, NAN, INFINITY, -INFINITY);
    ASSERT_TRUE(inspector.movePlayhead(2, el("AXWindow")->add(odd)->handle()).success);
    EXPECT_EQ(traceMessages().back(), "target bar=2 candidates=1 chose frame=(x=0 y=0 w=0 h=0)");
}

TEST_F(LogicInspectorTransportShapes, TransportValuesAreTextOrOneAndMissingValuesLeaveKeysOut) {
    auto window = el("AXWindow")
                      ->add(el("AXGroup", "Control Bar")
                                ->add(el("AXCheckBox", " Play\n")->set("AXValue", std::int64_t{0}))
                                ->add(el("AXCheckBox", "Record")->set("AXValue", std::int64_t{2}))
                                ->add(el("AXCheckBox", "Cycle")->set("AXValue", true))
                                ->add(el("AXCheckBox", "solo")->set("AXValue", std::int64_t{1}))
                                ->add(el("AXSlider", "Tempo"))
                                ->add(el("AXStaticText", "Time Signature")->set("AXValue", std::string("7/8"))));
    EXPECT_EQ(inspector.readTransport(window->handle()),
              (json{{"isPlaying", false}, {"isRecording", false}, {"cycleEnabled", true}, {"timeSignature", "7/8"}}));

    auto tempo = el("AXSlider", "Tempo")->set("AXValue", 92.5);
    EXPECT_EQ(inspector.readTransport(el("AXWindow")->add(tempo)->handle()), (json{{"tempo", "92.5"}}));
}

TEST_F(LogicInspectorTransportShapes, RegionsMergeWithinTwoPointsAndNeverReadBelowBarOne) {
    auto window = arrangement({
        el("AXGroup", "Track 1 \u201CMerged\u201D")->add(region(100, 136))->add(region(137, 172)),
        el("AXGroup", "Track 2 \"Apart\"")->add(region(139, 172))->add(region(100, 136)),
        el("AXGroup", "Track 3 \u201CEarly\u201D")->add(region(50, 60)),
        el("AXGroup", "Track 4 \u201CMuted\u201D")->add(region(100, 136, "Take, muted")),
        el("AXGroup", "Track 5 \u201CEmpty\u201D")->add(region(100, 100))->add(el("AXGroup", "Region")),
        el("AXGroup", "Track 6 Unquoted")->add(region(100, 136)),
        el("AXGroup", "Lane \u201CNot a track\u201D")->add(region(100, 136)),
    });
    EXPECT_EQ(nlohmann::json(inspector.readArrangement(window->handle(), std::nullopt)),
              (json{row(1, "Merged", {span(1, 9)}), row(2, "Apart", {span(1, 5), span(5, 9)}),
                    row(3, "Early", {span(1, 1)}), row(4, "Muted", json::array()), row(5, "Empty")}));
}

TEST_F(LogicInspectorTransportShapes, UnplaceableRegionFramesAreLeftOutNotConverted) {
    auto window = arrangement({el("AXGroup", "Track 1 \u201COdd\u201D")
                                   ->add(framed(el("AXLayoutItem", "Lost"), NAN, 120, 10, 30))
                                   ->add(framed(el("AXLayoutItem", "Far"), INFINITY, 120, 10, 30))
                                   ->add(framed(el("AXLayoutItem", "Huge"), 1e300, 120, 1e300, 30))
                                   ->add(region(100, 136))});
    EXPECT_EQ(nlohmann::json(inspector.readArrangement(window->handle(), std::nullopt)),
              (json{row(1, "Odd", {span(1, 5)})}));
}

TEST_F(LogicInspectorTransportShapes, AScaleTheRulerDoesNotShowIsSaidNeverGuessed) {
    // Playhead on bar 1: it is moved a few bars to measure, but its thumb stays where it was.
    auto contents =
        el("AXLayoutArea", "Tracks contents")->add(el("AXGroup", "Track 1 \u201CA\u201D")->add(region(100, 136)));
    auto group = playheadGroup(50, 1);
    auto window = el("AXWindow")
                      ->add(group)
                      ->add(framed(el("AXValueIndicator", "Start Marker"), 100, 80, 1, 20))
                      ->add(framed(el("AXValueIndicator", "Playhead thumb"), 100, 80, 1, 20))
                      ->add(contents);
    EXPECT_EQ(nlohmann::json(inspector.readArrangement(window->handle(), std::nullopt)),
              (json{{{"error", "Cannot measure the bar scale: the ruler's marks do not follow the playhead."}}}));
    std::vector<double> written;
    for (auto& w : slider(group, "bar")->writes) written.push_back(std::get<double>(w));
    EXPECT_EQ(written, (std::vector<double>{5, 1}));  // and put back
}

}  // namespace
}  // namespace corvane
