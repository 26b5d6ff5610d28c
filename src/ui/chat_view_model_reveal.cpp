// What finishes or accompanies a turn: the reveal of the reply, the title of a new thread, the
// error report on one reply, and images dropped for the next message.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "chat/backend_chat_request_builder.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/unicode.h"
#include "support/uuid.h"
#include "ui/chat_view_model.h"
#include "ui/dropped_image.h"

namespace corvane {

// ---- the reveal ------------------------------------------------------------------------------------

void ChatViewModel::beginStreaming(const std::string& text) {
    // A turn the user stopped is not typed out: its stored reply shows whole.
    if (text.empty() || (turn_ && turn_->stopRequested)) {
        endTurn();
        setStatus(turnEndStatus_.empty() ? "Ready." : turnEndStatus_);
        return;
    }
    pendingFullResponse_ = text;
    revealLength_ = static_cast<std::int64_t>(text::graphemeCount(text));
    assign(streamedLength_, std::int64_t{0}, Field::streamedLength);
    assign(streamingText_, std::optional<std::string>(""), Field::streamingText);
    const std::weak_ptr<ChatViewModel> weak = weak_from_this();
    streamTimer_ = environment_.timers.schedule(std::chrono::duration<double>(kRevealInterval), true, [weak] {
        if (auto model = weak.lock()) model->advanceStream();
    });
}

void ChatViewModel::advanceStream() {
    if (!pendingFullResponse_) return;
    const auto n = revealLength_;
    const auto remaining = n - streamedLength_;
    std::int64_t step = 0;
    if (n < 240) {
        step = std::min<std::int64_t>(remaining, 10);
    } else if (n < 864) {
        step = std::min<std::int64_t>(n / 24, remaining);
    } else {
        step = std::min<std::int64_t>(remaining, 36);
    }
    assign(streamedLength_, streamedLength_ + step, Field::streamedLength);
    assign(streamingText_,
           std::optional<std::string>(
               text::graphemePrefix(*pendingFullResponse_, static_cast<std::size_t>(streamedLength_))),
           Field::streamingText);
    if (streamedLength_ >= n) finishStreaming();
}

void ChatViewModel::finishStreaming() {
    stopReveal();
    assign(streamedLength_, std::int64_t{0}, Field::streamedLength);
    endTurn();
    setStatus(turnEndStatus_.empty() ? "Ready." : turnEndStatus_);
}

void ChatViewModel::stopReveal() {
    streamTimer_.reset();
    assign(streamingText_, std::optional<std::string>(), Field::streamingText);
    pendingFullResponse_.reset();
}

void ChatViewModel::endTurnAfterDroppedReveal() {
    stopReveal();
    endTurn();
}

void ChatViewModel::endTurn() {
    const bool shown = turn_ && turn_->threadID == currentThreadID_;
    turn_.reset();
    refreshBusy();
    // A stopped turn stored no reply: its question says so now, not only once the chat is reopened.
    if (shown && lastQuestionUnanswered()) rebuildTranscriptFromEntries();
}

// ---- background work --------------------------------------------------------------------------------

void ChatViewModel::runInBackground(std::function<void()> work) {
    // A finished worker's thread is joined as it is erased.
    std::erase_if(workers_, [](const Worker& worker) { return !worker.running.alive(); });
    platform::Lifetime running;
    Worker worker{running.guard(), {}};
    worker.thread = std::jthread([work = std::move(work), running = std::move(running)]() mutable {
        work();
        running.end();
    });
    workers_.push_back(std::move(worker));
}

// ---- thread titles ----------------------------------------------------------------------------------

void ChatViewModel::generateTitle(const std::string& threadID, const std::string& userMessage,
                                  const std::string& assistantReply) {
    const std::weak_ptr<ChatViewModel> weak = weak_from_this();
    auto& queue = environment_.mainQueue;
    auto& service = *ports_.backend;
    runInBackground([weak, &queue, &service, threadID, userMessage, assistantReply] {
        std::string title;
        try {
            const auto body = BackendChatRequestBuilder{}.makeTitleBody(userMessage, assistantReply);
            title = networking::BackendChatService::cleanTitle(
                networking::BackendChatService::extractTitleText(service.sendRequest(body)).value_or(""));
        } catch (const std::exception&) {
            return;  // no title: the thread keeps the one the store gave it
        }
        if (title.empty()) return;
        queue.async([weak, threadID, title] {
            if (auto model = weak.lock()) model->applyTitle(threadID, title);
        });
    });
}

void ChatViewModel::applyTitle(const std::string& threadID, const std::string& title) {
    auto& store = *ports_.conversations;
    store.updateTitle(threadID, title);
    assign(threads_, store.conversationState(currentThreadID_).threads, Field::threads);
    if (threadID == currentThreadID_) assign(currentThreadTitle_, title, Field::currentThreadTitle);
}

// ---- error reports ------------------------------------------------------------------------------------

void ChatViewModel::submitReport(const std::string& userDescription) {
    if (!reportingEntry_) return;
    letGoOfFailures();
    const ConversationEntry reported = *reportingEntry_;
    // The thread the reply was reported in, as it was then: the window may show another by now.
    const Reporting reporting = reporting_;
    const auto& entries = reporting.entries;
    std::optional<std::string> userMessage;
    nlohmann::json records = nlohmann::json::array();
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const ConversationEntry& entry) {
        return entry.timestamp == reported.timestamp && entry.role == reported.role;
    });
    for (auto at = found; found != entries.end() && at != entries.begin();) {
        const auto& entry = *--at;
        if (entry.role == ConversationRole::user) {
            userMessage = entry.content;
            break;
        }
        if (entry.role != ConversationRole::toolCall) continue;
        nlohmann::json record = nlohmann::json::object();
        if (entry.toolName) record["name"] = *entry.toolName;
        if (entry.arguments) record["arguments"] = *entry.arguments;
        if (entry.succeeded) record["succeeded"] = *entry.succeeded;
        if (entry.summary) record["summary"] = *entry.summary;
        records.insert(records.begin(), std::move(record));  // in the thread's order
    }
    setReportingEntry(std::nullopt);

    const std::weak_ptr<ChatViewModel> weak = weak_from_this();
    auto& queue = environment_.mainQueue;
    auto& service = *ports_.backend;
    runInBackground([weak, &queue, &service, reported, reporting, userMessage, records, userDescription] {
        const bool accepted =
            service.submitErrorReport(reporting.threadID, userMessage, reported.content, records, userDescription);
        queue.async([weak, accepted, reported, reporting, userDescription] {
            auto model = weak.lock();
            if (!model) return;
            if (accepted)
                model->showReportConfirmation();
            else
                model->reportNotSent(reported, reporting, userDescription);
        });
    });
}

void ChatViewModel::reportNotSent(const ConversationEntry& entry, const Reporting& reporting,
                                  const std::string& description) {
    // Another report's sheet is open: that one stays; this one is told at least.
    if (reportingEntry_) {
        tellFailure("An earlier report was not sent.");
        return;
    }
    reporting_ = reporting;
    reportDraft_ = description;
    reportProblem_ = kReportNotSentNotice;
    assign(reportingEntry_, std::optional<ConversationEntry>(entry), Field::reportingEntry);
}

void ChatViewModel::showReportConfirmation() {
    assign(reportSentConfirmation_, true, Field::reportSentConfirmation);
    const std::weak_ptr<ChatViewModel> weak = weak_from_this();
    reportConfirmationTimers_.push_back(
        environment_.timers.schedule(std::chrono::duration<double>(kReportConfirmationSeconds), false, [weak] {
            if (auto model = weak.lock())
                model->assign(model->reportSentConfirmation_, false, Field::reportSentConfirmation);
        }));
}

// ---- dropped images ------------------------------------------------------------------------------------

void ChatViewModel::acceptDroppedImage(const std::string& data, const std::string& fileExtension) {
    letGoOfFailures();
    if (data.size() > DroppedImage::kMaxBytes) {
        tellFailure("Drop failed: the image is larger than 20 MB.");
        return;
    }
    const auto format = DroppedImage::format(data);
    if (!format) {
        tellFailure("Drop failed: the file is not a PNG, JPEG or TIFF image.");
        return;
    }
    const auto folder = AppPaths::appSupportDirectory(std::string("Captures"));
    const auto file = folder / ("drop-" + makeUUID() + "." + DroppedImage::fileExtension(fileExtension, *format));
    errno = 0;
    if (!writeFileAtomically(file, data, 0600)) {
        const int error = errno;
        tellFailure("Drop failed: " + std::string(error ? std::strerror(error) : "the image could not be written."));
        return;
    }
    CaptureMetadata metadata;
    metadata.timestamp = ISO8601::corvaneDefault(clock().now());
    metadata.mode = CaptureMode::display;
    metadata.filePath = file.string();
    const bool trusted = ports_.logic->accessibilityTrusted();
    metadata.logicContext = ports_.logic->logicContext(trusted);
    if (turn_ && !turn_->eventsEnded) {
        // The running turn's end empties its thread's queue: held until then.
        heldCaptures_.push_back(HeldCapture{std::move(metadata), currentThreadID_});
    } else if (!ports_.conversations->appendPendingCapture(metadata, currentThreadID_)) {
        forgetUnkeptImage(metadata, currentThreadID_);
        return;
    } else {
        storeSaved(currentThreadID_);
    }
    assign(pendingCaptureCount_, pendingCaptureCount_ + 1, Field::pendingCaptureCount);
    setStatus("Attached image.");
}

void ChatViewModel::forgetUnkeptImage(const CaptureMetadata& capture, const std::string& threadID) {
    // Not queued, the image would never be sent: it is not attached, and its file goes.
    std::error_code ignored;
    if (capture.filePath) std::filesystem::remove(*capture.filePath, ignored);
    tellStoreFailure("Drop failed: the chat could not keep the image: " +
                         ports_.conversations->lastFailure().value_or("it could not be stored") + ".",
                     threadID);
}

std::int64_t ChatViewModel::heldCaptureCount(const std::string& threadID) const {
    return static_cast<std::int64_t>(std::count_if(heldCaptures_.begin(), heldCaptures_.end(),
                                                   [&](const HeldCapture& c) { return c.threadID == threadID; }));
}

}  // namespace corvane
