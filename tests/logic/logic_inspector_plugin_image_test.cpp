#include <gtest/gtest.h>

#include <cstdlib>

#include "logic/logic_inspector.h"
#include "platform/standin/standin_fixture.h"
#include "support/image_encoding.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

class LogicInspectorPluginImage : public standin::testing::StandinTest {
protected:
    void SetUp() override {
        auto editor = [](int w, int h) { return nlohmann::json{{"size", {w, h}}}; };
        load(standin::testing::demoSongWith(
            {{"plugins",
              nlohmann::json::array({{{"name", "Compressor"}, {"category", {"Dynamics"}}, {"editor", editor(520, 320)}},
                                     {{"name", "Wide"}, {"category", {"Imaging"}}, {"editor", editor(1600, 600)}},
                                     {{"name", "Flat"}, {"category", {"Imaging"}}, {"editor", editor(300, 10)}}})},
             {"project",
              {{"selected", "Kick"},
               {"tracks",
                {{{"name", "Kick"},
                  {"inserts", {{{"plugin", "Compressor"}}, {{"plugin", "Wide"}}, {{"plugin", "Flat"}}}}}}}}}}));
    }

    std::optional<std::string> captureSlot(int index) {
        inspector.closeOpenPluginAndRestoreEditorView();
        auto main = *inspector.findMainWindow();
        auto slots = inspector.findTrackPluginSlots(main);
        inspector.findChildButton(slots.at(static_cast<std::size_t>(index)).element, "open")
            ->performAction(platform::ax::kPress);
        return inspector.capturePluginWindowScreenshot(app(), main);
    }

    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicInspectorPluginImage, WindowImageIsAJpegAtMost800PixelsWide) {
    EXPECT_FALSE(
        inspector.capturePluginWindowScreenshot(app(), *inspector.findMainWindow()));  // no plug-in window open

    struct Case {
        int slot;
        int width, height;  // 0: no image
    };
    for (const Case& c : {Case{0, 520, 320}, Case{1, 800, 300}, Case{2, 0, 0}}) {
        auto jpeg = captureSlot(c.slot);
        if (c.width == 0) {
            EXPECT_FALSE(jpeg) << "slot " << c.slot;
            continue;
        }
        ASSERT_TRUE(jpeg) << "slot " << c.slot;
        auto image = decodeJPEG(*jpeg);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
        // It shows the plug-in window: its body, below the header.
        const auto* body = image->at(image->width / 2, image->height * 3 / 4);
        const standin::Rgb expected = standin::palette::pluginBody;
        EXPECT_LE(std::abs(body[0] - expected.r) + std::abs(body[1] - expected.g) + std::abs(body[2] - expected.b), 24)
            << "slot " << c.slot;
    }

    // Without Screen Recording there is no picture to take.
    world().setKnob("screenRecording", "denied");
    EXPECT_FALSE(captureSlot(0));
}

}  // namespace
}  // namespace corvane
