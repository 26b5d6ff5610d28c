#include <gtest/gtest.h>
#include <sys/stat.h>

#include "capture/capture_service.h"
#include "platform/standin/standin_fixture.h"
#include "support/app_paths.h"
#include "support/image_encoding.h"
#include "support/regex.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using standin::EventKind;

class CaptureServiceTest : public standin::testing::StandinTest {
protected:
    std::string failure(std::optional<CaptureMode> mode = std::nullopt) {
        try {
            service.captureLogic(false, mode);
        } catch (const CaptureError& e) {
            return e.what();
        }
        return "no error";
    }
    testing::TempHome home;
    LogicInspector inspector;
    PermissionService permissions;
    CaptureService service{inspector, permissions};
};

TEST_F(CaptureServiceTest, SavesTheLogicWindowAsPngInTheCapturesFolder) {
    auto artifact = service.captureLogic(true);
    EXPECT_EQ(artifact.metadata.mode, CaptureMode::logicWindow);
    ASSERT_TRUE(artifact.metadata.filePath);
    std::filesystem::path file = *artifact.metadata.filePath;
    EXPECT_EQ(file.parent_path(), home.appFolder() / "Captures");
    EXPECT_TRUE(
        Regex(R"(^logic-capture-\d{4}-\d\d-\d\dT\d\d-\d\d-\d\d\.\d{3}Z\.png$)").matches(file.filename().string()))
        << file;
    EXPECT_EQ(testing::readAll(file), artifact.pngData);
    auto image = decodePNG(artifact.pngData);
    ASSERT_TRUE(image);
    auto frame = *world().windowFrame();
    EXPECT_EQ(image->width, static_cast<int>(frame.width));
    EXPECT_EQ(image->height, static_cast<int>(frame.height));
    EXPECT_TRUE(artifact.metadata.logicContext.logicIsRunning);
    EXPECT_FALSE(artifact.metadata.logicContext.windows.empty());

    auto display = service.captureLogic(false, CaptureMode::display);
    EXPECT_EQ(display.metadata.mode, CaptureMode::display);
    EXPECT_FALSE(display.metadata.filePath);
    EXPECT_FALSE(nlohmann::json(display.metadata).contains("filePath"));
    EXPECT_EQ(decodePNG(display.pngData)->width, 1440);
}

TEST_F(CaptureServiceTest, StoredCapturesArePrivateAndAFailedStoreIsACaptureError) {
    auto artifact = service.captureLogic(true);
    struct stat info {};
    ASSERT_EQ(::stat(artifact.metadata.filePath->c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const auto captures = home.appFolder() / "Captures";
    std::filesystem::remove_all(captures);
    testing::writeAll(captures, "a file where the folder should be");
    try {
        service.captureLogic(true);
        ADD_FAILURE() << "a capture that could not be stored succeeded";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::screenshotFailed);
        EXPECT_TRUE(std::string(e.what()).starts_with("Screen capture failed: could not store ")) << e.what();
    }
}

TEST_F(CaptureServiceTest, ScreenshotsACrashLeftHalfWrittenGoAtStartAndNothingElseDoes) {
    const auto captures = home.appFolder() / "Captures";
    std::filesystem::create_directories(captures);
    const auto leftover = captures / ".logic-capture-2026-12-06T15-23-51.123Z.png.tmp-0123456789ab";
    const std::vector<std::string> kept = {"logic-capture-2026-12-06T15-23-51.123Z.png",
                                           ".drop-1F2E3D4C.png.tmp-0123456789ab"};
    testing::writeAll(leftover, "\x89PNG half");
    for (const auto& name : kept) testing::writeAll(captures / name, "keep");
    CaptureService started{inspector, permissions};
    EXPECT_FALSE(std::filesystem::exists(leftover));
    for (const auto& name : kept) EXPECT_EQ(testing::readAll(captures / name), "keep") << name;
}

TEST_F(CaptureServiceTest, EachFailureHasItsOwnText) {
    world().setKnob("contentError", "The user declined.");
    EXPECT_EQ(failure(), "Screen capture failed: The user declined.");
    load(standin::testing::demoSong());
    world().setKnob("noContent", true);
    EXPECT_EQ(failure(), "No capturable Logic window or display was found.");
    load(standin::testing::demoSong());
    world().setKnob("noImage", true);
    EXPECT_EQ(failure(), "No capturable Logic window or display was found.");
    load(standin::testing::demoSong());
    world().setKnob("captureError", "stream stopped");
    EXPECT_EQ(failure(), "Screen capture failed: stream stopped");
    load(standin::testing::demoSong());
    world().setKnob("degenerateImage", true);
    EXPECT_EQ(failure(), "The capture was taken, but it could not be encoded as PNG.");

    load(standin::testing::demoSongWith({{"permissions", {{"screenRecording", "undetermined"}}}}));
    EXPECT_EQ(failure(), "Screen Recording permission is required before the companion can capture Logic.");
    EXPECT_EQ(world().screenRecordingPrompts(), 1);

    load(standin::testing::demoSong());
    world().quitLogic();
    EXPECT_EQ(failure(), "Logic Pro is not currently running.");
    EXPECT_EQ(world().screenRecordingPrompts(), 0);  // no prompt when there is nothing to capture
    EXPECT_TRUE(std::filesystem::is_empty(AppPaths::appSupportDirectory(std::string("Captures"))));
}

TEST(CaptureChoice, LargestWindowFirstListedOnTiesAndDisplaysByIntersection) {
    using platform::Display;
    using platform::ShareableWindow;
    std::vector<ShareableWindow> windows(3);
    windows[0].windowID = 1, windows[0].frame = {0, 0, 100, 100};
    windows[1].windowID = 2, windows[1].frame = {0, 0, 200, 50};
    windows[2].windowID = 3, windows[2].frame = {1500, 0, 300, 300};
    EXPECT_EQ(CaptureService::chooseBestWindow(windows)->windowID, 3u);
    windows.pop_back();
    EXPECT_EQ(CaptureService::chooseBestWindow(windows)->windowID, 1u);

    std::vector<Display> displays{{1, {0, 0, 1440, 900}, 1, true}, {2, {1440, 0, 1920, 1080}, 1, false}};
    LogicContextSnapshot untrusted;
    std::vector<ShareableWindow> onSecond(1);
    onSecond[0].frame = {1500, 0, 300, 300};
    EXPECT_EQ(CaptureService::chooseBestDisplay(displays, untrusted, onSecond)->displayID, 2u);
    EXPECT_EQ(CaptureService::chooseBestDisplay(displays, untrusted, {})->displayID, 1u);
    LogicContextSnapshot focusedOffScreen;
    focusedOffScreen.windows.push_back({"Song - Tracks", {5000, 5000, 10, 10}, true});
    EXPECT_FALSE(CaptureService::chooseBestDisplay(displays, focusedOffScreen, onSecond));
}

}  // namespace
}  // namespace corvane
