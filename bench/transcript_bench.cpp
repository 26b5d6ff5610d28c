// A 1,000-entry thread in the transcript, offscreen, in an 800 x 600 view: the time to its first
// painted frame beside the same text as one plain QLabel in the same scroll view, the time per
// appended entry to the frame that follows it (then the frames of the scroll that brings it into
// view), and a scroll through the whole thread frame by frame. One warm-up round, then several
// measured ones; each goal is printed as a ratio. CORVANE_BENCH_BRIEF set: a short thread, one
// round, no warm-up: only that the bench still runs.
#include <QApplication>
#include <QLabel>
#include <QPaintEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "widgets/transcript_view.h"

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

const bool kBrief = std::getenv("CORVANE_BENCH_BRIEF") != nullptr;
const int kEntries = kBrief ? 100 : 1000;
const int kAppends = kBrief ? 5 : 50;
const int kRounds = kBrief ? 1 : 5;
constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kScrollStep = 120;  // a quick flick of the wheel each frame
constexpr double kFirstPaintGoal = 1.2;
constexpr double kAppendGoalMs = 2;
constexpr double kFrameGoalMs = 16;

corvane::TranscriptItem entryAt(int i) {
    using namespace corvane;
    if (i % 10 == 9) {
        ToolCallGroup group;
        group.id = "group-" + std::to_string(i);
        ToolCallInfo call;
        call.id = "call-" + std::to_string(i);
        call.toolName = "set_track_volume";
        call.displayName = ToolCallInfo::displayNameFor(call.toolName);
        call.arguments = R"({"track_name":"Vocal","value":"-6 dB"})";
        call.status = ToolCallStatus::completed;
        call.summary = "Vocal set to -6 dB";
        group.toolCalls = {call};
        return TranscriptItem::toolCallGroup(group);
    }
    ConversationEntry e;
    e.timestamp = "2026-01-01T00:00:" + std::to_string(100000 + i);
    if (i % 2 == 0) {
        e.role = ConversationRole::user;
        e.content = "Can you make the vocal sit better in the mix? Message " + std::to_string(i);
    } else {
        e.role = ConversationRole::assistant;
        e.content =
            "## Vocal\nThe vocal is **2 dB** too loud against the `Bass` bus.\n- Lower the fader\n"
            "- Cut 300 Hz by 2 dB\n1. Listen again\n```\neq.cut(300, 2)\n```";
    }
    return TranscriptItem::message(std::move(e));
}

corvane::TranscriptItem toolMessage(int i) {
    corvane::ConversationEntry e;
    e.timestamp = "2026-01-01T00:00:" + std::to_string(100000 + i);
    e.role = corvane::ConversationRole::tool;
    e.content = R"({"ok":true})";
    return corvane::TranscriptItem::message(std::move(e));
}

std::string plainText(const corvane::TranscriptItem& item) {
    if (auto* e = std::get_if<corvane::ConversationEntry>(&item.value)) return e->content + "\n\n";
    return "Set Track Volume  Vocal -6 dB\n\n";
}

// Counts what the window system's repaint of a view drew: each frame is that repaint, so that
// a scroll that moves pixels already drawn is measured as it costs.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    long long pixels = 0;
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            for (const QRect& r : static_cast<QPaintEvent*>(event)->region())
                pixels += (long long)r.width() * r.height();
        }
        return false;
    }
};

// The slowest of the frames measured; 0 when there were none (a list of none has no worst).
double worst(const std::vector<double>& frames) {
    return frames.empty() ? 0 : *std::max_element(frames.begin(), frames.end());
}

// The frame: posted layout work, then the repaint into the window's backing store.
void frame() { QCoreApplication::processEvents(); }

struct Round {
    double label = 0;       // ms to the first frame
    double transcript = 0;  // ms to the first frame
    double appendMean = 0;
    double appendWorst = 0;
    double bareAppendMean = 0;  // an entry without a row: the transcript's own work
    double followWorst = 0;     // a frame of the scroll to a new entry
    double frameWorst = 0;
    double frameP99 = 0;
    size_t frames = 0;
    size_t mostRowsBuilt = 0;
    int estimatedHeight = 0;  // of the content at the first frame
    int measuredHeight = 0;   // after every row was built once
    double pixelsPerFrame = 0;
};

Round runRound(const std::vector<corvane::TranscriptItem>& thread, const QString& all) {
    Round round;

    // Baseline: the same text as one wrapped plain label in the same scroll view.
    {
        QScrollArea area;
        area.setWidgetResizable(true);
        area.resize(kWidth, kHeight);
        auto* label = new QLabel;
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        const auto start = Clock::now();
        label->setText(all);
        area.setWidget(label);
        PaintCounter painted(label);
        area.show();
        frame();
        round.label = msSince(start);
        if (!painted.paints) std::printf("warning: the label's first frame was not painted\n");
    }

    corvane::ManualAnimationClock clock;
    corvane::TranscriptView view(corvane::TranscriptHooks{[](const corvane::ConversationEntry&) {}, {}}, clock);
    view.resize(kWidth, kHeight);
    auto items = thread;
    // The thread's entries go along, as the view model hands them over (for the replies' diagrams).
    std::vector<corvane::ConversationEntry> entries;
    for (const auto& item : items)
        if (auto* e = std::get_if<corvane::ConversationEntry>(&item.value)) entries.push_back(*e);
    PaintCounter painted(view.content());
    auto start = Clock::now();
    view.setInputs(items, std::nullopt, entries);
    view.show();
    frame();
    round.transcript = msSince(start);
    if (!painted.paints) std::printf("warning: the transcript's first frame was not painted\n");
    round.estimatedHeight = view.content()->height();

    // Down the whole thread, a frame at a time, from the top: the transcript opens at its end.
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(bar->minimum());
    frame();
    std::vector<double> frames;
    painted.pixels = 0;
    while (bar->value() < bar->maximum()) {
        start = Clock::now();
        bar->setValue(bar->value() + kScrollStep);
        frame();
        frames.push_back(msSince(start));
        round.mostRowsBuilt = std::max(round.mostRowsBuilt, view.builtRowCount());
    }
    round.measuredHeight = view.content()->height();
    if (frames.empty()) std::printf("warning: the thread fits the view: no scroll frame was measured\n");
    round.pixelsPerFrame = frames.empty() ? 0 : double(painted.pixels) / double(frames.size());
    std::sort(frames.begin(), frames.end());
    round.frames = frames.size();
    round.frameWorst = worst(frames);
    round.frameP99 = frames.empty() ? 0 : frames[std::min(frames.size() - 1, frames.size() * 99 / 100)];

    // At the bottom, as a chat is: each new entry to the frame that follows it, then the frames
    // of the scroll that brings it into view. Every other entry is a tool message, which has no
    // row: its time is the transcript's own work, without a row to build or paint.
    std::vector<double> drawn;
    std::vector<double> bare;
    std::vector<double> follow;
    for (int i = 0; i < 2 * kAppends; ++i) {
        corvane::TranscriptItem item = entryAt(kEntries + i / 2);
        if (i % 2) item = toolMessage(kEntries + i / 2);
        start = Clock::now();
        items.push_back(std::move(item));
        view.setInputs(items, std::nullopt, entries);
        frame();
        (i % 2 ? bare : drawn).push_back(msSince(start));
        while (view.isScrollAnimating()) {
            clock.advance(1.0 / 60);
            start = Clock::now();
            view.tick();
            frame();
            follow.push_back(msSince(start));
        }
    }
    auto mean = [](const std::vector<double>& v) {
        return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
    };
    round.appendMean = mean(drawn);
    round.appendWorst = worst(drawn);
    round.bareAppendMean = mean(bare);
    round.followWorst = worst(follow);
    return round;
}

struct Spread {
    double median, low, high;
};

template <class Get>
Spread spread(const std::vector<Round>& rounds, Get get) {
    std::vector<double> values;
    for (const auto& round : rounds) values.push_back(get(round));
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

void printSpread(const char* what, Spread s, const char* unit) {
    std::printf("  %-34s %8.3f%s  (%.3f – %.3f over %d rounds)\n", what, s.median, unit, s.low, s.high, kRounds);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::vector<corvane::TranscriptItem> items;
    std::string all;
    for (int i = 0; i < kEntries; ++i) {
        items.push_back(entryAt(i));
        all += plainText(items.back());
    }
    const QString text = QString::fromStdString(all);

    if (!kBrief) runRound(items, text);  // warm-up: fonts, glyph caches, first allocations
    std::vector<Round> rounds;
    for (int r = 0; r < kRounds; ++r) {
        rounds.push_back(runRound(items, text));
        const Round& x = rounds.back();
        std::printf(
            "round %d: first paint %.1f ms (label %.1f ms), append %.2f ms (worst %.2f, without a row %.2f, scroll to "
            "it worst frame %.2f), scroll %zu frames worst "
            "%.2f ms p99 %.2f ms (%.0f%% of the view repainted), at most %zu rows built, content %d px estimated, %d "
            "px "
            "measured\n",
            r + 1, x.transcript, x.label, x.appendMean, x.appendWorst, x.bareAppendMean, x.followWorst, x.frames,
            x.frameWorst, x.frameP99, 100 * x.pixelsPerFrame / (kWidth * kHeight), x.mostRowsBuilt, x.estimatedHeight,
            x.measuredHeight);
    }

    std::printf("\ntranscript of %d entries, %d x %d view, median (min – max) of %d warm rounds:\n", kEntries, kWidth,
                kHeight, kRounds);
    printSpread("first paint, transcript", spread(rounds, [](const Round& r) { return r.transcript; }), " ms");
    printSpread("first paint, one plain QLabel", spread(rounds, [](const Round& r) { return r.label; }), " ms");
    printSpread("first paint ratio (goal <= 1.2)",
                spread(rounds, [](const Round& r) { return r.transcript / r.label; }), " ");
    printSpread("appended entry", spread(rounds, [](const Round& r) { return r.appendMean; }), " ms");
    printSpread("appended entry / 2 ms goal (< 1)",
                spread(rounds, [](const Round& r) { return r.appendMean / kAppendGoalMs; }), " ");
    printSpread("worst appended entry", spread(rounds, [](const Round& r) { return r.appendWorst; }), " ms");
    printSpread("appended entry without a row", spread(rounds, [](const Round& r) { return r.bareAppendMean; }), " ms");
    printSpread("  / 2 ms goal", spread(rounds, [](const Round& r) { return r.bareAppendMean / kAppendGoalMs; }), " ");
    printSpread("scroll to a new entry, worst frame", spread(rounds, [](const Round& r) { return r.followWorst; }),
                " ms");
    printSpread("scroll frame, worst", spread(rounds, [](const Round& r) { return r.frameWorst; }), " ms");
    printSpread("scroll frame, p99", spread(rounds, [](const Round& r) { return r.frameP99; }), " ms");
    printSpread("worst frame / 16 ms goal (<= 1)",
                spread(rounds, [](const Round& r) { return std::max(r.frameWorst, r.followWorst) / kFrameGoalMs; }),
                " ");
    const auto ratio = spread(rounds, [](const Round& r) { return r.transcript / r.label; });
    const auto append = spread(rounds, [](const Round& r) { return r.appendMean; });
    const auto bare = spread(rounds, [](const Round& r) { return r.bareAppendMean; });
    const auto frame = spread(rounds, [](const Round& r) { return std::max(r.frameWorst, r.followWorst); });
    std::printf("goals (median): first paint %s, appended entry %s (without a row %s), scroll %s\n",
                ratio.median <= kFirstPaintGoal ? "met" : "MISSED", append.median < kAppendGoalMs ? "met" : "MISSED",
                bare.median < kAppendGoalMs ? "met" : "missed", frame.median <= kFrameGoalMs ? "met" : "MISSED");
    return 0;
}
