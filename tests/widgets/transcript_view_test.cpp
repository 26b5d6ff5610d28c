#include "widgets/transcript_view.h"

#include <QScrollBar>

#include "widgets/message_bubble.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

ConversationEntry entry(std::string timestamp, ConversationRole role, std::string content) {
    ConversationEntry e;
    e.timestamp = std::move(timestamp);
    e.role = role;
    e.content = std::move(content);
    return e;
}

TranscriptItem message(std::string timestamp, ConversationRole role, std::string content) {
    return TranscriptItem::message(entry(std::move(timestamp), role, std::move(content)));
}

struct Fixture {
    ManualAnimationClock clock;
    std::vector<ConversationEntry> reported;
    TranscriptView view{TranscriptHooks{[this](const ConversationEntry& e) { reported.push_back(e); }, {}}, clock};
    Fixture() {
        testing::ensureApplication();
        view.resize(600, 300);
        view.show();
    }
};

TEST(TranscriptView, EachItemGetsItsRowAndOnlyStoredRepliesOfferReport) {
    Fixture f;
    ToolCallGroup group;
    group.id = "g1";
    f.view.setInputs({message("1", ConversationRole::user, "Hello"), message("1", ConversationRole::tool, "{}"),
                      TranscriptItem::toolCallGroup(group), message("2", ConversationRole::update, "Looking"),
                      message("3", ConversationRole::assistant, "Done"), TranscriptItem::thinking("thinking")},
                     std::nullopt, {});
    const auto rows = f.view.rows();
    ASSERT_EQ(rows.size(), 6u);
    auto bubble = [&](size_t i) { return dynamic_cast<MessageBubbleWidget*>(rows[i]); };
    ASSERT_NE(bubble(0), nullptr);
    EXPECT_EQ(bubble(0)->reportButton(), nullptr);
    EXPECT_EQ(rows[1], nullptr);  // a tool entry draws nothing
    EXPECT_NE(dynamic_cast<ToolCallGroupWidget*>(rows[2]), nullptr);
    EXPECT_EQ(bubble(3)->reportButton(), nullptr);
    ASSERT_NE(bubble(4)->reportButton(), nullptr);
    bubble(4)->reportButton()->click();
    ASSERT_EQ(f.reported.size(), 1u);
    EXPECT_EQ(f.reported[0].content, "Done");
    EXPECT_NE(dynamic_cast<ThinkingIndicatorWidget*>(rows[5]), nullptr);
}

TEST(TranscriptView, RevealHidesTheNewestReplyAndShowsTheStreamingRowWithoutReport) {
    Fixture f;
    const std::vector<TranscriptItem> items{message("1", ConversationRole::assistant, "Old"),
                                            message("2", ConversationRole::user, "Q"),
                                            message("3", ConversationRole::assistant, "New reply")};
    f.view.setInputs(items, std::string(), {});
    EXPECT_EQ(f.view.rows().size(), 2u);
    EXPECT_EQ(f.view.streamingRow(), nullptr);

    f.view.setInputs(items, std::string("New"), {});
    ASSERT_NE(f.view.streamingRow(), nullptr);
    EXPECT_EQ(static_cast<MessageBubbleWidget*>(f.view.streamingRow())->reportButton(), nullptr);
    EXPECT_EQ(f.view.rows().size(), 2u);

    f.view.setInputs(items, std::nullopt, {});
    EXPECT_EQ(f.view.streamingRow(), nullptr);
    EXPECT_EQ(f.view.rows().size(), 3u);
}

// The bubble of the reply being revealed was built by parsing the whole text again at every
// 0.125 s step, so a long reply cost the square of its length on the UI thread.
TEST(TranscriptView, EachRevealStepParsesOnlyWhatTheReplyGrewBy) {
    Fixture f;
    std::string reply;
    for (int i = 0; i < 40; ++i) reply += "- point " + std::to_string(i) + " with **bold** text\n";
    const std::vector<TranscriptItem> items{message("1", ConversationRole::user, "Q"),
                                            message("2", ConversationRole::assistant, reply)};
    size_t steps = 0;
    for (size_t shown = 36; shown < reply.size() + 36; shown += 36, ++steps) {
        const std::string text = reply.substr(0, std::min(shown, reply.size()));
        f.view.setInputs(items, text, {});
        f.view.setInputs(items, text, {});  // another field changed: no new parse, no rebuild
        auto* bubble = static_cast<MessageBubbleWidget*>(f.view.streamingRow());
        ASSERT_NE(bubble, nullptr);
        ASSERT_EQ(bubble->blocks(), MessageMarkdown::parseBlocks(ConversationRole::assistant, text)) << shown;
    }
    // Every line once, plus the unfinished last line again at each step.
    EXPECT_LE(f.view.streamingLinesParsed(), 40 + 2 * steps);
}

TEST(TranscriptView, AppendingKeepsRowsAndScrollsToTheBottomOverTwoTenthsOfASecond) {
    Fixture f;
    std::vector<TranscriptItem> items;
    for (int i = 0; i < 30; ++i)
        items.push_back(message(std::to_string(100 + i), i % 2 ? ConversationRole::assistant : ConversationRole::user,
                                "Message number " + std::to_string(i)));
    f.view.setInputs(items, std::nullopt, {});
    QWidget* first = f.view.rows().front();
    EXPECT_EQ(f.view.verticalScrollBar()->value(), 0);  // a thread opens where the scroll view puts it
    EXPECT_FALSE(f.view.isScrollAnimating());

    items.push_back(message("200", ConversationRole::user, "One more"));
    f.view.setInputs(items, std::nullopt, {});
    EXPECT_EQ(f.view.rows().front(), first);
    ASSERT_TRUE(f.view.isScrollAnimating());
    f.clock.advance(0.1);
    f.view.tick();
    const int bottom = f.view.verticalScrollBar()->maximum();
    ASSERT_GT(bottom, 0);
    EXPECT_GT(f.view.verticalScrollBar()->value(), 0);
    EXPECT_LT(f.view.verticalScrollBar()->value(), bottom);
    f.clock.advance(0.1);
    f.view.tick();
    EXPECT_EQ(f.view.verticalScrollBar()->value(), bottom);
    EXPECT_FALSE(f.view.isScrollAnimating());

    // A reveal tick follows at once; the same inputs again do not scroll.
    f.view.verticalScrollBar()->setValue(0);
    f.view.setInputs(items, std::string("Rev"), {});
    EXPECT_FALSE(f.view.isScrollAnimating());
    EXPECT_EQ(f.view.verticalScrollBar()->value(), f.view.verticalScrollBar()->maximum());
    f.view.verticalScrollBar()->setValue(0);
    f.view.setInputs(items, std::string("Rev"), {});
    EXPECT_EQ(f.view.verticalScrollBar()->value(), 0);
}

TEST(TranscriptView, OpeningACardGrowsItsRowAndMovesTheRowsBelow) {
    testing::ensureApplication();
    ManualAnimationClock clock;
    bool open = false;
    ToolCardHooks cards{[&](const std::string&) { return open; },
                        [&](const std::string&, bool current) { open = !current; }};
    TranscriptView view(TranscriptHooks{{}, cards}, clock);
    view.resize(600, 400);
    view.show();
    ToolCallGroup group;
    group.id = "g";
    ToolCallInfo call;
    call.id = "c";
    call.toolName = "set_track_volume";
    call.displayName = "Set Track Volume";
    call.status = ToolCallStatus::completed;
    call.summary = "Vocal set to -6 dB";
    group.toolCalls = {call};
    view.setInputs({TranscriptItem::toolCallGroup(group), message("9", ConversationRole::user, "Below")}, std::nullopt,
                   {});
    QCoreApplication::sendPostedEvents();
    const auto rows = view.rows();
    const int closed = rows[0]->height();
    const int belowTop = rows[1]->y();

    static_cast<ToolCallGroupWidget*>(rows[0])->cards()[0]->click();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(open);
    EXPECT_GT(rows[0]->height(), closed);
    EXPECT_EQ(rows[1]->y(), belowTop + rows[0]->height() - closed);
}

TEST(ThinkingIndicatorWidget, DotsWaitDimUntilShownThenPulseInAStaggeredWave) {
    testing::ensureApplication();
    ManualAnimationClock clock;
    clock.advance(5);
    ThinkingIndicatorWidget dots(clock);
    clock.advance(1);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(dots.dotOpacity(i), 0.3);
    dots.show();
    clock.advance(0.5);
    dots.tick();
    EXPECT_DOUBLE_EQ(dots.dotOpacity(0), 1.0);
    EXPECT_GT(dots.dotOpacity(1), dots.dotOpacity(2));
    const QImage image = testing::render(dots, dots.sizeHint().width());
    // The first dot is brighter than the third.
    EXPECT_GT(testing::brightness(testing::at(image, 16.5, 12.5)), testing::brightness(testing::at(image, 34.5, 12.5)));
}

}  // namespace
}  // namespace corvane
