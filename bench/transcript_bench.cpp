// Lays out a 1,000-entry thread offscreen in the transcript and prints the time to the first
// painted frame and per appended entry, beside the same text laid out as one plain QLabel.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "widgets/transcript_view.h"

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

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

std::string plainText(const corvane::TranscriptItem& item) {
    if (auto* e = std::get_if<corvane::ConversationEntry>(&item.value)) return e->content + "\n\n";
    return "Set Track Volume  Vocal -6 dB\n\n";
}

void paint(QWidget& widget) {
    QImage frame(widget.size(), QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::black);
    widget.render(&frame);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    constexpr int kEntries = 1000;
    constexpr int kAppends = 50;
    std::vector<corvane::TranscriptItem> items;
    std::string all;
    for (int i = 0; i < kEntries; ++i) {
        items.push_back(entryAt(i));
        all += plainText(items.back());
    }

    // Baseline: the same text as one wrapped plain label.
    auto start = Clock::now();
    QLabel label(QString::fromStdString(all));
    label.setTextFormat(Qt::PlainText);
    label.setWordWrap(true);
    label.resize(800, label.heightForWidth(800));
    label.show();
    paint(label);
    const double baseline = msSince(start);

    corvane::TranscriptView view(corvane::TranscriptHooks{});
    view.resize(800, 600);
    start = Clock::now();
    view.setInputs(items, std::nullopt, {});
    view.show();
    paint(view);
    const double firstPaint = msSince(start);

    start = Clock::now();
    for (int i = 0; i < kAppends; ++i) {
        items.push_back(entryAt(kEntries + i));
        view.setInputs(items, std::nullopt, {});
        QCoreApplication::processEvents();
        paint(view);
    }

    const double perAppend = msSince(start) / kAppends;

    std::printf("transcript of %d entries: first paint %.1f ms, per appended entry %.2f ms\n", kEntries, firstPaint,
                perAppend);
    std::printf("baseline, the same text as one plain QLabel: layout and paint %.1f ms\n", baseline);
    return 0;
}
