// The reveal of a reply in virtual time, thread titles, error reports and dropped images.

#include "ui/chat_view_model.h"

#include "support/files.h"
#include "support/image_encoding.h"
#include "support/unicode.h"
#include "ui/dropped_image.h"
#include "ui/view_model_fixture.h"

namespace corvane::testing {
namespace {

class ChatViewModelRevealTest : public ViewModelTest {
protected:
    // The number of characters newly shown by each tick until the turn ends.
    std::vector<std::size_t> revealSteps(const std::string& reply) {
        model().sendMessage("Go");
        finish(reply);
        std::vector<std::size_t> steps;
        std::size_t shown = 0;
        while (model().isBusy() && steps.size() < 1000) {
            advance(ChatViewModel::kRevealInterval);
            const auto now = model().isBusy() ? text::graphemeCount(model().streamingText().value_or(""))
                                              : text::graphemeCount(reply);
            steps.push_back(now - shown);
            shown = now;
        }
        return steps;
    }
    static std::string png() {
        RGBAImage image{2, 2, std::vector<std::uint8_t>(16, 200)};
        return *encodePNG(image);
    }
    // An assistant message to report, known by its time.
    static ConversationEntry reply(const std::string& timestamp, const std::string& content) {
        ConversationEntry entry;
        entry.timestamp = timestamp;
        entry.role = ConversationRole::assistant;
        entry.content = content;
        return entry;
    }
    std::vector<CaptureMetadata> queued() {
        return controller_->conversationStore().pendingCaptures(model().currentThreadID());
    }
};

TEST_F(ChatViewModelRevealTest, RevealStepsFollowTheReplysLength) {
    auto repeat = [](std::size_t count, std::size_t step) { return std::vector<std::size_t>(count, step); };
    auto with = [](std::vector<std::size_t> steps, std::size_t last) {
        steps.push_back(last);
        return steps;
    };
    struct Case {
        std::size_t length;
        std::vector<std::size_t> steps;
    };
    const std::vector<Case> cases{
        {7, {7}},
        {239, with(repeat(23, 10), 9)},
        {240, repeat(24, 10)},
        {863, with(repeat(24, 35), 23)},
        {864, repeat(24, 36)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(revealSteps(std::string(c.length, 'a')), c.steps) << c.length;
        EXPECT_EQ(model().statusMessage(), "Ready.");
        EXPECT_FALSE(model().streamingText().has_value());
    }
}

// Stop while the reply is typed out, or before it came: the turn ends at once, with the reply as
// stored shown whole.
TEST_F(ChatViewModelRevealTest, StopDuringTheRevealEndsTheTurnAtOnce) {
    const std::string reply(3000, 'a');
    for (const bool stopBeforeReply : {false, true}) {
        model().sendMessage("Go");
        if (stopBeforeReply) model().stopTurn();
        finish(reply);
        if (!stopBeforeReply) {
            advance(ChatViewModel::kRevealInterval);
            ASSERT_TRUE(model().streamingText().has_value());
            model().stopTurn();
        }
        EXPECT_FALSE(model().isBusy()) << stopBeforeReply;
        EXPECT_FALSE(model().isTurnRunning()) << stopBeforeReply;
        EXPECT_FALSE(model().streamingText().has_value()) << stopBeforeReply;
        EXPECT_EQ(model().statusMessage(), "Ready.");
    }
}

TEST_F(ChatViewModelRevealTest, AnEmojiWithItsSkinToneIsOneCharacter) {
    const std::string thumbs = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // thumbs up, medium skin tone
    model().sendMessage("Go");
    finish("123456789" + thumbs + "abc");
    advance(ChatViewModel::kRevealInterval);
    EXPECT_EQ(model().streamingText(), "123456789" + thumbs);
    EXPECT_EQ(model().streamedLength(), 10);
    advance(ChatViewModel::kRevealInterval);
    EXPECT_FALSE(model().isBusy());

    // An empty reply ends the turn at once, with no timer.
    model().sendMessage("Again");
    finish("");
    EXPECT_FALSE(model().isBusy());
    EXPECT_EQ(model().statusMessage(), "Ready.");
    EXPECT_EQ(queue_.activeTimers(), 1u);  // the plug-in check alone
}

TEST_F(ChatViewModelRevealTest, ATitleRenamesTheExchangesThreadEvenAfterASwitch) {
    auto& store = controller_->conversationStore();
    const auto other = store.createThread(std::string("Demo Song")).currentThreadID;
    model().loadConversations();

    transport_->reply(textReply(""));  // no text: the title stays
    model().sendMessage("first");
    const auto first = model().currentThreadID();
    store.append(ConversationRole::user, "first", first);
    finish("ok");
    advance(1);  // the reveal
    ASSERT_TRUE(queue_.runUntil([&] { return transport_->requests().size() == 1; }));
    queue_.drain();
    EXPECT_EQ(model().currentThreadTitle(), "first");

    // A title that arrives after the user opened another thread.
    model().setNavigation(NavigationState::projectPage(std::string("Demo Song")));
    Gate release;
    transport_->replyAfter(release, textReply("Named later"));
    model().sendMessage("second");
    const auto second = model().currentThreadID();
    store.append(ConversationRole::user, "second", second);
    finish("ok");
    model().switchConversation(other);
    release.open();
    ASSERT_TRUE(queue_.runUntil([&] {
        for (const auto& summary : model().threads())
            if (summary.threadID == second) return summary.title == "Named later";
        return false;
    }));
    EXPECT_NE(model().currentThreadTitle(), "Named later");
}

TEST_F(ChatViewModelRevealTest, AReportWalksBackToItsUserMessage) {
    auto& conversations = controller_->conversationStore();
    const auto id = conversations.createThread(std::string("Demo Song")).currentThreadID;
    // Each entry a moment later than the one before: entries are known by time and role.
    struct Stamped {
        platform::ManualMainQueue& queue;
        ConversationStore& store;
        void append(ConversationRole role, const std::string& text, const std::string& thread) {
            store.append(role, text, thread);
            queue.advance(0.01);
        }
        void appendToolCall(const ToolCallInfo& call, std::int64_t user, const std::string& thread) {
            store.appendToolCall(call, user, thread);
            queue.advance(0.01);
        }
    } store{queue_, conversations};
    store.append(ConversationRole::user, "earlier", id);
    store.append(ConversationRole::assistant, "earlier reply", id);
    store.append(ConversationRole::user, "Tame the bass", id);
    auto eq = toolCall("c1", 0, "get_plugin_parameters");
    eq.succeeded = true;
    eq.summary = "Read EQ";
    store.appendToolCall(eq, 2, id);
    store.append(ConversationRole::tool, "raw", id);
    store.appendToolCall(toolCall("c2", 1), 2, id);
    store.append(ConversationRole::assistant, "Cut 200 Hz", id);
    model().switchConversation(id);

    transport_->status(200);
    transport_->status(500);
    model().setReportingEntry(model().entries().back());
    model().submitReport("Wrong band");
    EXPECT_FALSE(model().reportingEntry().has_value());
    ASSERT_TRUE(queue_.runUntil([&] { return model().reportSentConfirmation(); }));
    const auto sent = transport_->requests().back();
    EXPECT_NE(sent.url.find("/api/errors/report"), std::string::npos);
    EXPECT_EQ(sent.body["user_message"], "Tame the bass");
    EXPECT_EQ(sent.body["assistant_message"], "Cut 200 Hz");
    EXPECT_EQ(sent.body["user_description"], "Wrong band");
    EXPECT_EQ(sent.body["thread_id"], id);
    EXPECT_EQ(sent.body["tool_calls"],
              nlohmann::json::parse(
                  R"([{"name":"get_plugin_parameters","arguments":"{}","succeeded":true,"summary":"Read EQ"},
                                        {"name":"list_tracks","arguments":"{}"}])"));
    advance(2.9);
    EXPECT_TRUE(model().reportSentConfirmation());
    advance(0.2);
    EXPECT_FALSE(model().reportSentConfirmation());

    // An entry no longer in the thread: no user message and no calls; a refused report comes back
    // to be sent again, with its description, and is not called sent.
    model().setReportingEntry(reply("2020-01-01T00:00:00.000Z", "old"));
    model().submitReport("stale");
    ASSERT_TRUE(queue_.runUntil([&] { return transport_->requests().size() == 2; }));
    EXPECT_EQ(transport_->requests().back().body["user_message"], "");
    EXPECT_EQ(transport_->requests().back().body["tool_calls"], nlohmann::json::array());
    ASSERT_TRUE(queue_.runUntil([&] { return model().reportingEntry().has_value(); }));
    EXPECT_EQ(model().reportingEntry()->content, "old");
    EXPECT_EQ(model().reportDraft(), "stale");
    EXPECT_EQ(model().reportProblem(), ChatViewModel::kReportNotSentNotice);
    EXPECT_FALSE(model().reportSentConfirmation());
}

TEST_F(ChatViewModelRevealTest, OnlyImagesOfAtMost20MBAreQueued) {
    model().sendMessage("Go");
    finish("");
    struct Case {
        const char* label;
        std::string data;
        std::string extension;
        bool accepted;
    };
    const std::vector<Case> cases{
        {"png, upper-case extension", png(), "PNG", true},
        {"jpeg", *encodeJPEG(RGBAImage{2, 2, std::vector<std::uint8_t>(16, 90)}, 0.8), "jpg", true},
        {"text named png", "not an image at all", "png", false},
        {"truncated png", png().substr(0, 30), "png", false},
        {"too large", std::string(DroppedImage::kMaxBytes + 1, '\0'), "png", false},
    };
    std::int64_t count = 0;
    for (const auto& c : cases) {
        model().acceptDroppedImage(c.data, c.extension);
        count += c.accepted;
        EXPECT_EQ(model().pendingCaptureCount(), count) << c.label;
        EXPECT_EQ(static_cast<std::int64_t>(queued().size()), count) << c.label;
        if (c.accepted) {
            EXPECT_EQ(model().statusMessage(), "Attached image.") << c.label;
        } else {
            EXPECT_EQ(model().statusMessage().rfind("Drop failed: ", 0), 0u) << c.label;
        }
    }
    const auto first = queued().at(0);
    EXPECT_EQ(first.mode, CaptureMode::display);
    ASSERT_TRUE(first.filePath);
    EXPECT_EQ(std::filesystem::path(*first.filePath).extension(), ".PNG");
    EXPECT_EQ(std::filesystem::path(*first.filePath).parent_path(), home_.appFolder() / "Captures");
    EXPECT_EQ(readFile(*first.filePath).bytes, png());
    EXPECT_TRUE(first.logicContext.logicIsRunning);
}

TEST_F(ChatViewModelRevealTest, ImagesACrashLeftHalfDroppedGoWhenTheChatStartsAndNothingElseDoes) {
    const auto captures = home_.appFolder() / "Captures";
    std::filesystem::create_directories(captures);
    const auto leftover = captures / ".drop-1F2E3D4C-0000-4000-8000-00000000000A.PNG.tmp-0123456789ab";
    const std::vector<std::string> kept = {"drop-1F2E3D4C-0000-4000-8000-00000000000A.PNG",
                                           ".logic-capture-2026-12-06T15-23-51.123Z.png.tmp-0123456789ab",
                                           ".drop-1F2E3D4C.png.tmp-mine"};
    writeAll(leftover, "\x89PNG half");
    for (const auto& name : kept) writeAll(captures / name, "keep");
    model();
    EXPECT_FALSE(std::filesystem::exists(leftover));
    for (const auto& name : kept) EXPECT_EQ(readAll(captures / name), "keep") << name;
}

TEST_F(ChatViewModelRevealTest, AnImageAttachedDuringATurnGoesWithTheNext) {
    model().sendMessage("Go");
    model().acceptDroppedImage(png(), "png");
    EXPECT_EQ(model().pendingCaptureCount(), 1);
    controller_->conversationStore().clearPendingCaptures(model().currentThreadID());  // the turn's end
    finish("Here it is");
    EXPECT_EQ(model().pendingCaptureCount(), 1);
    EXPECT_EQ(queued().size(), 1u);
    model().acceptDroppedImage(png(), "png");  // while the reply shows
    advance(1);
    EXPECT_EQ(model().pendingCaptureCount(), 2);
    EXPECT_EQ(queued().size(), 2u);
    model().sendMessage("Now with the pictures");
    EXPECT_EQ(requests_.back().includePendingCaptures, true);
}

}  // namespace
}  // namespace corvane::testing

namespace corvane::testing {
namespace {

// The status line was set and then overwritten: a turn's error by the next call's progress and by
// "Ready." at the end of its reply, so no failure was ever in sight. Each failure stays, whatever
// progress follows, until the user does something else; then it goes.
TEST_F(ChatViewModelRevealTest, AFailureStaysInTheStatusLineUntilTheUsersNextAction) {
    const std::string toolLog = "Error: The turn's tool log could not be written: tool-logs is not a folder.";
    const std::string signedOut = "Error: Not authenticated: the sign-in has ended. Please sign in again.";
    const auto turnWith = [&](const std::vector<std::string>& errors) {
        return [this, errors] {
            ASSERT_TRUE(model().sendMessage("Check the mix balance"));
            for (const auto& error : errors) feed(AgentEvent::error(error.substr(7)));
            auto call = toolCall("c1", 0);
            feed(AgentEvent::toolCallStarted(call));
            call.succeeded = true;
            call.summary = "Listed 6 tracks";
            feed(AgentEvent::toolCallCompleted(call));
            finish("Balanced.");
            for (int i = 0; i < 400 && model().isBusy(); ++i) advance(ChatViewModel::kRevealInterval);
            EXPECT_EQ(model().statusMessage(), "Ready.") << "progress went on meanwhile";
        };
    };
    const auto reportNotSent = [this] {
        // A report fails while the sheet of another one is open.
        transport_->status(500);
        const ConversationEntry reported = reply("2026-12-06T15:23:51.000Z", "Balanced.");
        model().setReportingEntry(reported);
        model().submitReport("Wrong");
        model().setReportingEntry(reported);
        ASSERT_TRUE(queue_.runUntil([&] { return !model().statusFailures().empty(); }));
        model().setReportingEntry(std::nullopt);
    };
    struct Case {
        const char* label;
        std::function<void()> fail;
        std::vector<std::string> told;
    };
    const std::vector<Case> cases{
        {"a turn's tool log", turnWith({toolLog}), {toolLog}},
        {"signed out", turnWith({signedOut}), {signedOut}},
        {"two errors of one turn", turnWith({toolLog, signedOut}), {toolLog, signedOut}},
        {"a drop too large",
         [this] { model().acceptDroppedImage(std::string(DroppedImage::kMaxBytes + 1, '\0'), "png"); },
         {"Drop failed: the image is larger than 20 MB."}},
        {"a drop not an image",
         [this] { model().acceptDroppedImage("not an image", "png"); },
         {"Drop failed: the file is not a PNG, JPEG or TIFF image."}},
        {"a report", reportNotSent, {"An earlier report was not sent."}},
    };
    const std::vector<std::pair<const char*, std::function<void()>>> nextActions{
        {"an image dropped", [this] { model().acceptDroppedImage(png(), "png"); }},
        {"a message sent",
         [this] {
             ASSERT_TRUE(model().sendMessage("Next"));
             finish("");
         }},
        {"another chat opened", [this] { model().switchConversation(model().currentThreadID()); }},
    };
    for (const auto& c : cases)
        for (const auto& [action, next] : nextActions) {
            SCOPED_TRACE(std::string(c.label) + ", then " + action);
            c.fail();
            EXPECT_EQ(model().statusFailures(), c.told);
            advance(60);
            EXPECT_EQ(model().statusFailures(), c.told) << "kept in sight";
            next();
            EXPECT_EQ(model().statusFailures(), std::vector<std::string>{});
        }
}

}  // namespace
}  // namespace corvane::testing
