// Plug-in window bodies on the stand-in: editor controls bound to parameters, their probe regions,
// Logic's generic Controls view, parameter pop-ups and the slider write knobs.

#include <fstream>
#include <functional>
#include <sstream>

#include "platform/standin/standin_fixture.h"

namespace corvane::standin::testing {
namespace {

using platform::AXElement;
using platform::AXError;
namespace ax = platform::ax;

class PluginEditorTest : public StandinTest {
protected:
    void SetUp() override {
        std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/plugin-editors.json");
        std::stringstream s;
        s << in.rdbuf();
        load(nlohmann::json::parse(s.str()));
    }

    const InsertSlot& slot(const Project& p, const std::string& track, const std::string& plugin) {
        for (const auto& s : p.track(track)->strip.inserts)
            if (s.plugin == plugin) return s;
        throw std::runtime_error("no slot");
    }
    double param(const std::string& track, const std::string& plugin, const std::string& id) {
        const Project p = world().project();
        const auto& params = slot(p, track, plugin).params;
        auto it = params.find(id);
        return it == params.end() ? -1 : it->second;
    }
    // Opens the slot's window (the selected track is "Vox") and returns it.
    AXElement open(const std::string& plugin, const std::string& track = "Vox") {
        world().mutateProject([&](Project& p) { p.selectedTrackId = p.stripTrackId = p.track(track)->id; });
        auto group = find(*strip(0), plugin, "AXGroup");
        find(*group, "open")->performAction(ax::kPress);
        for (const auto& w : app().elements(ax::kWindows).value_or(std::vector<AXElement>{}))
            if (w.string(ax::kTitle) == std::optional<std::string>(track + ": " + plugin)) return w;
        throw std::runtime_error("no window");
    }
    static std::optional<AXElement> byIdentifier(const AXElement& root, const std::string& id) {
        std::optional<AXElement> found;
        std::function<void(const AXElement&)> walk = [&](const AXElement& e) {
            if (found) return;
            if (e.string(ax::kIdentifier) == std::optional<std::string>(id)) found = e;
            for (const auto& c : e.children()) walk(c);
        };
        walk(root);
        return found;
    }
    static std::vector<AXElement> byRole(const AXElement& root, const std::string& role) {
        std::vector<AXElement> out;
        std::function<void(const AXElement&)> walk = [&](const AXElement& e) {
            if (e.string(ax::kRole) == std::optional<std::string>(role)) out.push_back(e);
            for (const auto& c : e.children()) walk(c);
        };
        walk(root);
        return out;
    }
    void switchTo(const AXElement& window, const std::string& view) {
        auto button = *find(window, "view", "AXMenuButton");
        button.performAction(ax::kPress);
        for (const auto& item : button.children().at(0).children())
            if (item.string(ax::kTitle) == std::optional<std::string>(view)) item.performAction(ax::kPress);
    }
    std::optional<Rgb> windowPixel(const std::string& key, int x, int y) {
        auto shot = world().screenCapture().captureWindow(*world().windowId(key));
        return shot.ok() ? pixelAt(*shot.value, x, y) : std::nullopt;
    }
    std::string driftKey() {
        const Project p = world().project();
        return "plugin:" + std::to_string(slot(p, "Vox", "Drift Delay").uid);
    }
};

TEST_F(PluginEditorTest, EditorSlidersShowTheirRawValueAndADescriptionFromCurveAndUnit) {
    auto w = open("Drift Delay");
    struct Case {
        const char* identifier;
        std::int64_t raw;
        const char* shown;
    };
    for (const Case& c : {Case{"dd.time", 500, "141 ms"}, Case{"dd.decay", 100, "1.00 s"},
                          Case{"dd.cutoff", 127, "20.00 kHz"}, Case{"fb", 30, "   "}, Case{"dd.res", 20, "20%"}}) {
        auto slider = byIdentifier(w, c.identifier);
        ASSERT_TRUE(slider) << c.identifier;
        EXPECT_EQ(slider->number(ax::kValue), double(c.raw)) << c.identifier;
        EXPECT_EQ(slider->string(ax::kValueDescription), c.shown) << c.identifier;
    }
    // A write lands in the slot's parameter state, clamped to the raw range; the time reads in
    // seconds from a thousand milliseconds.
    auto time = *byIdentifier(w, "dd.time");
    EXPECT_EQ(time.setAttributeValue(ax::kValue, std::int64_t{946}), AXError::success);
    EXPECT_EQ(param("Vox", "Drift Delay", "time"), 946);
    EXPECT_EQ(time.string(ax::kValueDescription), "1.50 s");
    EXPECT_EQ(time.setAttributeValue(ax::kValue, 5000.0), AXError::success);
    EXPECT_EQ(param("Vox", "Drift Delay", "time"), 1000);
    EXPECT_EQ(time.setAttributeValue(ax::kValue, std::string("1")), AXError::illegalArgument);
    time.performAction(ax::kDecrement);
    EXPECT_EQ(param("Vox", "Drift Delay", "time"), 999);

    world().setKnob("blankValueDescription", true);
    EXPECT_EQ(byIdentifier(w, "dd.decay")->string(ax::kValueDescription), "   ");
}

TEST_F(PluginEditorTest, SliderWritesFollowTheQuantiseLagAndIgnoreKnobs) {
    auto w = open("Drift Delay");
    auto wow = *byIdentifier(w, "dd.wow");
    struct Case {
        const char* knob;
        nlohmann::json value;
        int writes;
        double expected;
    };
    for (const Case& c : {Case{"quantise", 10, 1, 40}, Case{"lagWrites", 3, 2, 0}, Case{"lagWrites", 3, 3, 37},
                          Case{"ignoreWrites", true, 4, 0}}) {
        world().mutateProject([](Project& p) { p.track("Vox")->strip.inserts[0].params["wow"] = 0; });
        world().setKnob(c.knob, c.value);
        for (int i = 0; i < c.writes; ++i)
            EXPECT_EQ(wow.setAttributeValue(ax::kValue, std::int64_t{37}), AXError::success);
        EXPECT_EQ(param("Vox", "Drift Delay", "wow"), c.expected) << c.knob << " " << c.writes;
        world().setKnob(c.knob, c.value.is_boolean() ? nlohmann::json(false) : nlohmann::json(0));
    }
}

TEST_F(PluginEditorTest, ValueLessTogglesAndOptionsPaintTheirProbeRegionLitOrDark) {
    auto w = open("Drift Delay");
    const Rgb syncLit{255, 170, 0}, syncDark{60, 60, 60}, modeLit{80, 220, 120}, modeDark{40, 40, 40};
    EXPECT_FALSE(find(w, "Tempo\u2028Sync")->number(ax::kValue));  // no AXValue to read
    EXPECT_EQ(windowPixel(driftKey(), 60, 180), syncDark);
    find(w, "Tempo\u2028Sync")->performAction(ax::kPress);
    EXPECT_EQ(param("Vox", "Drift Delay", "sync"), 1);
    EXPECT_EQ(windowPixel(driftKey(), 60, 180), syncLit);
    // Radio options: exactly the selected one is lit; pressing another selects it.
    EXPECT_EQ(windowPixel(driftKey(), 225, 180), modeDark);
    EXPECT_EQ(windowPixel(driftKey(), 280, 180), modeLit);
    byIdentifier(w, "mode.analog")->performAction(ax::kPress);
    EXPECT_EQ(param("Vox", "Drift Delay", "mode"), 2);
    EXPECT_EQ(windowPixel(driftKey(), 280, 180), modeDark);
    EXPECT_EQ(windowPixel(driftKey(), 335, 180), modeLit);
    // Momentary buttons count their presses.
    find(w, "Tap")->performAction(ax::kPress);
    find(w, "Tap")->performAction(ax::kPress);
    EXPECT_EQ(param("Vox", "Drift Delay", "tap"), 2);
}

TEST_F(PluginEditorTest, ParameterPopUpsOfferTheirOptionsAndAnswerDirectWritesByKnob) {
    auto w = open("Drift Delay");
    auto popups = byRole(w, "AXPopUpButton");
    ASSERT_EQ(popups.size(), 1u);
    auto filter = popups[0];
    EXPECT_EQ(filter.string(ax::kValue), "Low Pass");
    filter.performAction(ax::kPress);
    EXPECT_EQ(world().ui().openMenu, "parameter");
    std::vector<std::string> titles;
    std::optional<AXElement> bandPass;
    for (const auto& item : filter.children().at(0).children()) {
        titles.push_back(item.string(ax::kTitle).value_or(""));
        if (titles.back() == "Band Pass") bandPass = item;
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Low Pass", "High Pass", "Band Pass"}));
    bandPass->performAction(ax::kPress);
    EXPECT_EQ(world().ui().openMenu, "");
    EXPECT_EQ(param("Vox", "Drift Delay", "filter"), 2);
    EXPECT_EQ(filter.string(ax::kValue), "Band Pass");

    struct Case {
        const char* knob;
        const char* written;
        AXError code;
        double shows;
    };
    for (const Case& c :
         {Case{"ignore", "High Pass", AXError::success, 2},
          Case{"refuse", "High Pass", AXError::attributeUnsupported, 2}, Case{"accept", "Notch", AXError::success, 2},
          Case{"accept", " high pass", AXError::success, 1}}) {
        world().setKnob("popupDirectSet", c.knob);
        EXPECT_EQ(filter.setAttributeValue(ax::kValue, std::string(c.written)), c.code) << c.knob << " " << c.written;
        EXPECT_EQ(param("Vox", "Drift Delay", "filter"), c.shows) << c.knob << " " << c.written;
    }
    // Closing the window takes its open menu with it.
    filter.performAction(ax::kPress);
    find(w, "close")->performAction(ax::kPress);
    EXPECT_EQ(world().ui().openMenu, "");
}

TEST_F(PluginEditorTest, ControlsViewShowsOneRowPerVisibleParameterWithLabelsAndReadouts) {
    auto w = open("Tube Saturator");
    switchTo(w, "Controls");
    std::vector<std::string> labels;
    for (const auto& t : byRole(w, "AXStaticText")) labels.push_back(t.string(ax::kValue).value_or(""));
    EXPECT_EQ(labels, (std::vector<std::string>{"Drive", "Tone", "Release", "Gain", "Gain", "Ratio", "Steps", "Drive",
                                                "Oversample", "Soft Clip", "Bypass", "Character", "Reset"}));
    std::vector<std::string> helps, readouts;
    for (const auto& s : byRole(w, "AXSlider")) {
        helps.push_back(s.string(ax::kHelp).value_or(""));
        readouts.push_back(s.string(ax::kValueDescription).value_or(""));
    }
    EXPECT_EQ(helps,
              (std::vector<std::string>{"Drive slider", "", "Tone slider", "", "Release slider", "", "Gain slider", "",
                                        "Gain slider", "", "Ratio slider", "", "Steps slider", ""}));
    EXPECT_EQ(readouts, (std::vector<std::string>{"", "0.0 dB", "", "1.28 kHz", "", "100 ms", "", "0.0 dB", "",
                                                  "0.0 dB", "", "2.0:1", "", "4"}));
    // Each read-out sits on its slider's row.
    auto sliders = byRole(w, "AXSlider");
    EXPECT_EQ(sliders[0].point(ax::kPosition)->y, sliders[1].point(ax::kPosition)->y);
    EXPECT_EQ(find(w, "Character", "AXPopUpButton")->string(ax::kValue), "Warm");
    EXPECT_EQ(find(w, "Oversample", "AXCheckBox")->number(ax::kValue), 0);
    EXPECT_TRUE(find(w, "Reset", "AXButton"));
    // A check box Logic leaves undescribed is labelled only by the text to its left.
    std::vector<std::string> checkboxes;
    for (const auto& c : byRole(w, "AXCheckBox")) checkboxes.push_back(c.string(ax::kDescription).value_or("(none)"));
    EXPECT_EQ(checkboxes, (std::vector<std::string>{"bypass", "Drive", "Oversample", "(none)", "Bypass"}));

    // The Controls view writes the same parameter state the editor shows.
    sliders[0].setAttributeValue(ax::kValue, std::int64_t{80});
    EXPECT_EQ(param("Vox", "Tube Saturator", "drive"), 80);
    EXPECT_EQ(byRole(w, "AXSlider")[1].string(ax::kValueDescription), "12.0 dB");
}

TEST_F(PluginEditorTest, ControlsViewUsesControlsLabelsLeavesHiddenOnesOutAndInvertsWhereThePluginDoes) {
    auto w = open("Drift Delay");
    switchTo(w, "Controls");
    EXPECT_TRUE(find(w, "Filter Type", "AXPopUpButton"));
    EXPECT_FALSE(find(w, "Filter", "AXPopUpButton"));
    EXPECT_EQ(find(w, "Mode", "AXPopUpButton")->string(ax::kValue), "Digital");
    find(w, "close")->performAction(ax::kPress);

    auto gate = open("Inverse Gate", "Bass");
    switchTo(gate, "Controls");
    auto sliders = byRole(gate, "AXSlider");
    ASSERT_EQ(sliders.size(), 2u);
    EXPECT_EQ(sliders[0].number(ax::kValue), 80);  // 160 - 80
    sliders[0].setAttributeValue(ax::kValue, std::int64_t{40});
    EXPECT_EQ(param("Bass", "Inverse Gate", "threshold"), 120);
    EXPECT_EQ(sliders[1].string(ax::kValueDescription), "-20.0 dB");
    sliders[0].performAction(ax::kIncrement);
    EXPECT_EQ(param("Bass", "Inverse Gate", "threshold"), 119);
}

}  // namespace
}  // namespace corvane::standin::testing
