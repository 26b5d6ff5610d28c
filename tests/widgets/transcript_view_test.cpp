#include "widgets/transcript_view.h"

#include <QScrollBar>
#include <QVBoxLayout>
#include <set>

#include "widget_pixels.h"
#include "widgets/analysis_diagrams.h"
#include "widgets/message_bubble.h"

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

// A thread of `count` items: user questions, long replies (their real height is far from what
// their text suggests, wide letters wrapping sooner) and a one-card tool round every tenth item.
std::vector<TranscriptItem> longThread(int count, int from = 0) {
    std::vector<TranscriptItem> items;
    std::string wide;
    for (int i = 0; i < 30; ++i) wide += "WWWWWW ";
    for (int i = from; i < from + count; ++i) {
        const std::string stamp = std::to_string(100000 + i);
        if (i % 10 == 9) {
            ToolCallGroup group;
            group.id = "g" + std::to_string(i);
            ToolCallInfo call;
            call.id = "c" + std::to_string(i);
            call.toolName = "set_track_volume";
            call.displayName = "Set Track Volume";
            call.status = ToolCallStatus::completed;
            call.summary = "Vocal set to -6 dB";
            group.toolCalls = {call};
            items.push_back(TranscriptItem::toolCallGroup(group));
        } else if (i % 2) {
            items.push_back(message(stamp, ConversationRole::assistant, "Reply " + stamp + "\n" + wide));
        } else {
            items.push_back(message(stamp, ConversationRole::user, "Question " + stamp));
        }
    }
    return items;
}

// The built rows lie one under the other, 6 pt apart, each as tall as it measures at the
// column's width.
void expectStacked(const TranscriptView& view) {
    const auto rows = view.rows();
    const int inner = view.content()->width() - 16;
    QWidget* previous = nullptr;
    for (QWidget* row : rows) {
        if (!row) {
            previous = nullptr;
            continue;
        }
        EXPECT_EQ(row->height(), row->heightForWidth(inner)) << row->y();
        if (previous) {
            EXPECT_EQ(row->y(), previous->y() + previous->height() + 6);
        }
        previous = row;
    }
}

int builtIndex(const std::vector<QWidget*>& rows, bool last) {
    const int n = int(rows.size());
    for (int k = 0; k < n; ++k)
        if (rows[size_t(last ? n - 1 - k : k)]) return last ? n - 1 - k : k;
    return -1;
}

// The thread's entries grow while its rows stay: a reply's diagram is drawn from the entries
// as they are now, the earlier ones kept and the new one added.
TEST(TranscriptView, AReplysDiagramFollowsTheThreadsListeningResults) {
    Fixture f;
    ConversationEntry question = entry("1", ConversationRole::user, "How loud is the vocal?");
    ConversationEntry listened = entry("2", ConversationRole::toolCall, "");
    listened.toolName = "listen_to_playback";
    listened.resultJSON =
        R"({"status":"ok","durationSeconds":8,"tracks":[{"trackName":"Vocal","isMaster":false,"shortTermLufs":-18}]})";
    const auto reply = message("3", ConversationRole::assistant, "Here:\n[visual:levels_compare tracks=\"Vocal\"]");
    auto diagrams = [&] {
        const auto children = f.view.rows()[1]->findChildren<QWidget*>();
        return std::count_if(children.begin(), children.end(),
                             [](QWidget* w) { return dynamic_cast<DiagramChoiceWidget*>(w) != nullptr; });
    };

    // Entries that change while no reply can draw a diagram still reach the first that can.
    f.view.setInputs({TranscriptItem::message(question)}, std::nullopt, {question});
    f.view.setInputs({TranscriptItem::message(question)}, std::nullopt, {question, listened});
    f.view.setInputs({TranscriptItem::message(question), reply}, std::nullopt, {question, listened});
    EXPECT_EQ(diagrams(), 1);
    f.view.setInputs({TranscriptItem::message(question), reply}, std::nullopt, {question});
    EXPECT_EQ(diagrams(), 0);
    f.view.setInputs({TranscriptItem::message(question), reply}, std::nullopt, {question, listened});
    EXPECT_EQ(diagrams(), 1);
    f.view.setInputs({TranscriptItem::message(question), reply}, std::nullopt, {listened});
    EXPECT_EQ(diagrams(), 1);
    f.view.setInputs({TranscriptItem::message(question), reply}, std::nullopt, {question});
    EXPECT_EQ(diagrams(), 0);
}

TEST(TranscriptView, ALongThreadBuildsOnlyTheRowsNearTheViewAndAppendsOne) {
    Fixture f;
    auto items = longThread(1000);
    f.view.setInputs(items, std::nullopt, {});
    auto rows = f.view.rows();
    ASSERT_EQ(rows.size(), 1000u);
    ASSERT_NE(rows[0], nullptr);
    EXPECT_EQ(rows[0]->y(), 10);
    EXPECT_EQ(rows.back(), nullptr);
    const size_t built = f.view.builtRowCount();
    EXPECT_GT(built, 2u);
    EXPECT_LT(built, 40u);
    expectStacked(f.view);

    // An append builds its own row at most and leaves the others, hovered or not, alone.
    auto* hovered = dynamic_cast<MessageBubbleWidget*>(rows[1]);
    ASSERT_NE(hovered, nullptr);
    hovered->setHovering(true);
    const auto more = longThread(1, 1000);
    items.insert(items.end(), more.begin(), more.end());
    f.view.setInputs(items, std::nullopt, {});
    EXPECT_EQ(f.view.rows()[1], hovered);
    EXPECT_TRUE(hovered->isHovering());
    EXPECT_LE(f.view.builtRowCount(), built + 1);

    // The scroll to the new item ends on the last rows, built and stacked above the anchor.
    f.clock.advance(0.2);
    f.view.tick();
    QScrollBar* bar = f.view.verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    rows = f.view.rows();
    ASSERT_NE(rows.back(), nullptr);
    EXPECT_EQ(rows[1], nullptr);
    EXPECT_LT(f.view.builtRowCount(), 40u);
    EXPECT_EQ(f.view.bottomAnchor()->y(), rows.back()->y() + rows.back()->height() + 6);
    EXPECT_EQ(f.view.content()->height(), f.view.bottomAnchor()->y() + 1 + 10);
    expectStacked(f.view);

    // Opening another long thread starts at its latest message.
    f.view.verticalScrollBar()->setValue(0);
    f.view.showLatest();
    f.view.setInputs(longThread(1000, 5000), std::nullopt, {});
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_NE(f.view.rows().back(), nullptr);
    EXPECT_LT(f.view.builtRowCount(), 40u);
}

// The sign-in form covers the chat (the view's holder is hidden) while a turn goes on storing its
// reply; once signed in again the chat shows its end, the reply and its Report link included, and
// stays there as banners or the window change its height, however the new rows measured against
// their estimates.
TEST(TranscriptView, AThreadAtItsEndShowsItsEndAfterGrowingHiddenAndAsItsHeightChanges) {
    testing::ensureApplication();
    for (const int added : {1, 2, 3, 12}) {
        SCOPED_TRACE(added);
        ManualAnimationClock clock;
        QWidget holder;
        auto* column = new QVBoxLayout(&holder);
        column->setContentsMargins(0, 0, 0, 0);
        bool open = false;  // every tool card
        ToolCardHooks cards{[&](const std::string&) { return open; }, [&](const std::string&, bool) {}};
        auto* view = new TranscriptView(TranscriptHooks{[](const ConversationEntry&) {}, cards}, clock);
        auto* banner = new QWidget;
        banner->setFixedHeight(40);
        banner->hide();
        column->addWidget(banner);
        column->addWidget(view, 1);
        holder.resize(600, 300);
        holder.show();
        auto items = longThread(200);
        items.push_back(longThread(1, 9).front());  // a tool card last
        view->setInputs(items, std::nullopt, {});
        view->showLatest();
        QScrollBar* bar = view->verticalScrollBar();
        ASSERT_EQ(bar->value(), bar->maximum());

        holder.hide();
        const auto more = longThread(added, 1000);
        items.insert(items.end(), more.begin(), more.end());
        view->setInputs(items, std::nullopt, {});
        clock.advance(0.2);
        view->tick();
        // The turn's end shows its last card's detail.
        open = true;
        view->refreshExpansion();
        // The turn's reply, revealed a step at a time, then stored with its Report link.
        const std::string reply = "I lost my sign-in. Sign in again and I'll be ready.";
        items.push_back(message("2000", ConversationRole::assistant, reply));
        for (size_t shown = 10; shown < reply.size(); shown += 10) view->setInputs(items, reply.substr(0, shown), {});
        view->setInputs(items, std::nullopt, {});
        banner->setVisible(added % 2);  // a banner comes with the window, or the window is as it was
        holder.show();
        for (int round = 0; round < 5; ++round) QCoreApplication::sendPostedEvents();
        EXPECT_EQ(bar->value(), bar->maximum());
        EXPECT_NE(view->rows().back(), nullptr) << "the newest row is not in view";
        holder.resize(600, 200);
        EXPECT_EQ(bar->value(), bar->maximum());
    }
}

TEST(TranscriptView, RowsBuiltAboveTheViewDoNotMoveWhatItShows) {
    Fixture f;
    f.view.setInputs(longThread(1000), std::nullopt, {});
    QScrollBar* bar = f.view.verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    auto rows = f.view.rows();
    const int first = builtIndex(rows, false);
    ASSERT_GT(first, 100);
    expectStacked(f.view);

    // Upwards into rows never built, whose heights were only estimated: a row in view keeps its
    // place on screen, lower by exactly the distance scrolled.
    size_t index = size_t(first);
    while (!rows[index] || rows[index]->mapTo(f.view.viewport(), QPoint()).y() < 0) ++index;
    QWidget* shown = rows[index];
    const int before = shown->mapTo(f.view.viewport(), QPoint()).y();
    for (int step = 0; step < 5; ++step) {
        bar->setValue(bar->value() - 40);
        ASSERT_EQ(f.view.rows()[index], shown);
        EXPECT_EQ(shown->mapTo(f.view.viewport(), QPoint()).y(), before + 40 * (step + 1));
    }
    rows = f.view.rows();
    EXPECT_LT(builtIndex(rows, false), first);
    expectStacked(f.view);
}

TEST(TranscriptView, ACardThatOpensOrClosesAwayFromTheViewChangesTheThreadsHeight) {
    testing::ensureApplication();
    ManualAnimationClock clock;
    std::set<std::string> open{"c9"};
    ToolCardHooks cards{[&](const std::string& id) { return open.count(id) > 0; }, {}};
    TranscriptView view(TranscriptHooks{{}, cards}, clock);
    view.resize(600, 1200);
    view.show();
    view.setInputs(longThread(1000), std::nullopt, {});
    ASSERT_NE(view.rows()[9], nullptr);

    // Its row is built no more, but its height is remembered: closing must forget it.
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    ASSERT_EQ(view.rows()[9], nullptr);
    const int withOpen = view.content()->height();
    open.clear();
    view.refreshExpansion();
    EXPECT_LT(view.content()->height(), withOpen);

    // A card never built opens too.
    const int closed = view.content()->height();
    open.insert("c509");
    view.refreshExpansion();
    EXPECT_GT(view.content()->height(), closed);
}

TEST(TranscriptView, AWidthChangeMeasuresTheRowsAtTheNewWidth) {
    Fixture f;
    f.view.setInputs(longThread(1000), std::nullopt, {});
    f.view.verticalScrollBar()->setValue(5000);
    const int wide = f.view.content()->height();
    f.view.resize(380, 300);
    expectStacked(f.view);
    EXPECT_GT(f.view.content()->height(), wide);
    f.view.resize(600, 300);
    expectStacked(f.view);
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
