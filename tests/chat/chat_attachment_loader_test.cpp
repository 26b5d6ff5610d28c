#include "chat/chat_attachment_loader.h"

#include <gtest/gtest.h>

#include "conversation/conversation_store.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::TempHome;

CaptureMetadata captureAt(std::optional<fs::path> path) {
    CaptureMetadata capture;
    if (path) capture.filePath = path->string();
    return capture;
}

TEST(ChatAttachmentLoader, LoadsQueuedScreenshotsInOrderAsDataURLsAndSkipsMissingFiles) {
    TempHome home;
    ConversationStore store;
    const std::string thread = store.createThread().currentThreadID;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a.JPG", "image/jpeg"}, {"b.tiff", "image/png"}, {"noextension", "image/png"}, {"c.webp", "image/webp"}};
    store.appendPendingCapture(captureAt(std::nullopt), thread);
    store.appendPendingCapture(captureAt(home.root() / "deleted.png"), thread);
    for (const auto& [name, mime] : files) {
        testing::writeAll(home.root() / name, "\x89PNG" + name);
        store.appendPendingCapture(captureAt(home.root() / name), thread);
    }
    const ChatAttachmentLoader loader(store);
    EXPECT_EQ(loader.loadAttachedCaptureInput(thread, false), std::nullopt);
    const auto loaded = loader.loadAttachedCaptureInput(thread, true);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ((*loaded)[i].imageDataURL.rfind("data:" + files[i].second + ";base64,", 0), 0u) << files[i].first;
        EXPECT_EQ((*loaded)[i].contextLabel, "user-queued Logic screenshot");
        EXPECT_EQ((*loaded)[i].metadata.filePath, (home.root() / files[i].first).string());
    }
    EXPECT_EQ((*loaded)[0].imageDataURL, "data:image/jpeg;base64,iVBOR2EuSlBH");
    EXPECT_EQ(store.pendingCaptures(thread).size(), files.size() + 2) << "the loader removes nothing";
}

TEST(ChatAttachmentLoader, NothingLoadableGivesNone) {
    TempHome home;
    ConversationStore store;
    const std::string thread = store.createThread().currentThreadID;
    store.appendPendingCapture(captureAt(std::nullopt), thread);
    store.appendPendingCapture(captureAt(home.root() / "gone.png"), thread);
    EXPECT_EQ(ChatAttachmentLoader(store).loadAttachedCaptureInput(thread, true), std::nullopt);
}

}  // namespace
}  // namespace corvane
