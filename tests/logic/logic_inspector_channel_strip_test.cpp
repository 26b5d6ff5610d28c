#include <gtest/gtest.h>

#include "logic/logic_inspector.h"
#include "test_support/fake_ax.h"

namespace corvane {
namespace {

using testing::FakeElement;
using Node = std::shared_ptr<FakeElement>;

Node el(const std::string& role, const std::string& description = {}) { return FakeElement::make(role, description); }
Node at(Node n, double x, double y) { return n->set("AXPosition", platform::Point{x, y})->set("AXSize", platform::Size{80, 20}); }

TEST(TrackDescriptions, GrammarAcceptsBothQuoteKindsAndRejectsMalformedHeaders) {
    struct Case {
        const char* description;
        std::optional<std::int64_t> number;
        const char* name;
    };
    const Case cases[] = {
        {"Track 7 \u201CKick\u201D, muted", 7, "Kick"},
        {"  Track 12 \u201CBass\u201D\n", 12, "Bass"},
        {"Track 3 \"Lead Vox\"", 3, "Lead Vox"},
        {"Track +3 \u201CSnare\"", 3, "Snare"},
        {"Track -2 \"\"", -2, ""},
        {"Track 4 folder \u201CDrum Tracks\u201D", 4, "Drum Tracks"},
        {"Track 7 Kick", std::nullopt, ""},
        {"Track \u201CKick\u201D", std::nullopt, ""},
        {"Track x3 \u201CKick\u201D", std::nullopt, ""},
        {"Track 5 \u201C", std::nullopt, ""},
        {"Track 5 \u201CNo close", std::nullopt, ""},
        {"track 5 \u201CKick\u201D", std::nullopt, ""},
        {"Track 99999999999999999999 \"Big\"", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        auto parsed = LogicInspector::parseTrackDescription(c.description);
        ASSERT_EQ(parsed.has_value(), c.number.has_value()) << c.description;
        if (parsed) {
            EXPECT_EQ(parsed->number, *c.number) << c.description;
            EXPECT_EQ(parsed->name, c.name) << c.description;
        }
    }
}

TEST(TrackHeaders, SortedUniqueMutedFoldersAndIndents) {
    LogicInspector inspector;
    auto folder = at(el("AXGroup", "Track 1 \u201CDrums\u201D"), 100, 100)->add(el("AXDisclosureTriangle"));
    auto kick = at(el("AXGroup", "Track 2 \u201CKick\u201D, muted"), 112, 140);
    auto snare = at(el("AXGroup", "Track 3 \u201CSnare\u201D, Mute"), 118, 180);
    auto duplicate = at(el("AXGroup", "Track 2 \u201CKick copy\u201D"), 124, 220);
    auto bass = at(el("AXGroup", "Track 4 \u201CBass\u201D"), 124, 260);
    auto window = el("AXWindow")->add(el("AXGroup")->add(bass)->add(snare)->add(folder)->add(kick))->add(duplicate);

    auto headers = inspector.findTrackHeaders(window->handle());
    ASSERT_EQ(headers.size(), 4u);
    EXPECT_EQ(headers[0].name, "Drums");
    EXPECT_TRUE(headers[0].isFolder);
    EXPECT_EQ(headers[1].name, "Kick");  // the first one met wins
    EXPECT_TRUE(headers[1].isMuted);
    EXPECT_FALSE(headers[2].isMuted);  // the suffix is case-sensitive
    for (const auto& h : headers) EXPECT_FALSE(h.parentTrackNumber);

    auto indented = inspector.findTrackHeadersWithIndent(window->handle());
    std::vector<std::int64_t> levels;
    for (const auto& i : indented) levels.push_back(i.indentLevel);
    EXPECT_EQ(levels, (std::vector<std::int64_t>{0, 1, 2, 2}));
}

TEST(ChannelStrip, ReadsKeysByDescriptionRoleAndValue) {
    LogicInspector inspector;
    auto strip = el("AXGroup")
                     ->add(el("AXButton", "channel mode")->set("AXValue", std::string("Stereo")))
                     ->add(el("AXButton", "Bus 4")->set("AXHelp", std::string("Input slot: Bus 4")))
                     ->add(el("AXGroup")
                               ->add(el("AXGroup", "B 1"))
                               ->add(el("AXGroup", "B 12"))
                               ->add(el("AXGroup", "B 1"))
                               ->add(el("AXGroup", "B 1234"))
                               ->add(el("AXGroup", "Bus 1"))
                               ->add(el("AXGroup", "b 1")))
                     ->add(el("AXButton", "Stereo Output")->set("AXHelp", std::string("Output slot: Stereo Output")))
                     ->add(el("AXSlider", "volume fader")->set("AXValue", std::int64_t{200}))
                     ->add(el("AXTextField", "volume fader level")->set("AXTitle", std::string(" -6.0 dB ")))
                     ->add(el("AXCheckBox", "mute")->set("AXValue", std::int64_t{0}))
                     ->add(el("AXTextField", "name")->set("AXValue", std::string("Kick")))
                     ->add(el("AXTextField", "name")->set("AXValue", std::string("Decoy")));
    auto window = el("AXWindow")->add(el("AXGroup", "Inspector")->add(el("AXLayoutArea", "Mixer")->add(strip)));

    auto data = inspector.readChannelStrip(window->handle());
    EXPECT_EQ(data["name"], "Kick");
    EXPECT_EQ(data["volume"], "200");
    EXPECT_FALSE(data.contains("volumeDisplay"));  // a level field without a value says nothing
    EXPECT_EQ(data["mute"], "0");
    EXPECT_EQ(data["channelMode"], "Stereo");
    EXPECT_EQ(data["input"], "Bus 4");
    EXPECT_EQ(data["inputBus"], "Bus 4");
    EXPECT_EQ(data["output"], "Stereo Output");
    EXPECT_EQ(data["sends"], (nlohmann::json{"Bus 1", "Bus 12"}));
    EXPECT_FALSE(data.contains("pan"));

    auto hidden = el("AXWindow")->add(el("AXGroup", "Tracks"));
    EXPECT_EQ(inspector.readChannelStrip(hidden->handle()), (nlohmann::json{{"error", "Mixer area not found"}}));
    auto empty = el("AXWindow")->add(el("AXLayoutArea", "Mixer"));
    EXPECT_EQ(inspector.readChannelStrip(empty->handle()), (nlohmann::json{{"error", "No channel strip found"}}));
}

TEST(ChannelStrip, OutputAndInputBusComeFromButtonPositionsAroundTheFirstSlot) {
    LogicInspector inspector;
    auto makeWindow = [&](bool withBus2, bool withSlot) {
        auto strip = el("AXGroup");
        if (withBus2) strip->add(at(el("AXButton", "Bus 2"), 5, 100));
        if (withSlot) strip->add(at(el("AXButton", "insert bar"), 5, 150));
        strip->add(at(el("AXButton", "Bus 5"), 5, 300));
        strip->add(at(el("AXButton", "Stereo Output"), 5, 420));
        strip->add(at(el("AXButton", "stereo output"), 5, 500));
        return el("AXWindow")->add(el("AXLayoutArea", "Mixer")->add(strip));
    };
    auto full = makeWindow(true, true);
    EXPECT_EQ(inspector.readTrackOutput(full->handle()), "Bus 2");
    EXPECT_EQ(inspector.readTrackInputBus(full->handle()), "Bus 2");
    auto noBus2 = makeWindow(false, true);
    EXPECT_EQ(inspector.readTrackOutput(noBus2->handle()), "Stereo Output");
    EXPECT_FALSE(inspector.readTrackInputBus(noBus2->handle()));
    auto noSlot = makeWindow(true, false);
    EXPECT_EQ(inspector.readTrackOutput(noSlot->handle()), "Stereo Output");
    EXPECT_FALSE(inspector.readTrackInputBus(noSlot->handle()));
}

}  // namespace
}  // namespace corvane
