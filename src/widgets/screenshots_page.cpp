#include "widgets/screenshots_page.h"

#include <QCoreApplication>

#include "widgets/chat_row.h"
#include "widgets/project_page.h"
#include "ui/chat_view_model.h"
#include "widgets/report_sheet.h"
#include "widgets/song_brief_sheet.h"

namespace corvane {

namespace {

ManualAnimationClock& stillClock() {
    static ManualAnimationClock clock;
    return clock;
}

ConversationSummary chat(std::string id, std::string title, std::string updatedAt,
                         std::optional<std::string> preview = std::nullopt) {
    ConversationSummary s;
    s.threadID = std::move(id);
    s.title = std::move(title);
    s.updatedAt = std::move(updatedAt);
    s.lastMessagePreview = std::move(preview);
    s.projectName = "Night Drive";
    return s;
}

// A page the height of a window, for a picture.
class WindowHighPage : public ProjectPageView {
public:
    using ProjectPageView::ProjectPageView;
    QSize sizeHint() const override { return {760, 520}; }
};

std::unique_ptr<WindowHighPage> page(std::optional<std::string> name) {
    ChatDateContext dates{QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone("America/New_York"),
                          [] { return *ISO8601::parse("2026-03-10T20:00:00.000Z"); }};
    return std::make_unique<WindowHighPage>(std::move(name), ProjectPageView::Actions{}, dates, stillClock());
}

}  // namespace

std::unique_ptr<QWidget> projectPageScreenshot() {
    auto view = page(std::string("Night Drive"));
    view->setThreads({
        chat("a", "Vocal sits behind the kick", "2026-03-10T19:07:00.000Z",
             "The vocal sits 4 dB under the kick, and both peak around 2.5 kHz."),
        chat("b", "", "2026-03-09T22:15:00.000Z"),
        chat("c", "Chorus width and a rather long title that has to be cut somewhere", "2026-03-04T15:07:00.000Z",
             "Widened the pads and narrowed the bass below 120 Hz so the chorus opens up without losing punch."),
        chat("d", "Master loudness", "2025-12-25T12:00:00.000Z", "Around -9 LUFS short-term in the chorus."),
    });
    // The second row as the pointer rests on it.
    view->resize(760, 520);
    view->show();
    view->rows()[1]->setHovered(true);
    stillClock().advance(0.2);
    view->rows()[1]->tick();
    return view;
}

std::unique_ptr<QWidget> emptyProjectPageScreenshot() { return page(std::nullopt); }

// Shown before the picture, so the editors lay out their text (and hide their scroll indicators).
template <class Sheet>
std::unique_ptr<QWidget> shown(std::unique_ptr<Sheet> sheet) {
    sheet->resize(sheet->width(), sheet->sizeHint().height());
    sheet->show();
    QCoreApplication::processEvents();
    return sheet;
}

namespace {
const char* kReportedReply =
    "\n# Vocal against the kick\nThe vocal sits **4 dB** under the kick, and both peak around `2.5 kHz`. I "
    "lowered the kick fader by 1.5 dB and cut the kick at 3 kHz with the Channel EQ, so the vocal's presence "
    "comes through without pushing its level. Play the chorus again and tell me if it is still buried; if it "
    "is, the next step is a gentle compressor on the vocal bus.";
}  // namespace

std::unique_ptr<QWidget> reportSheetScreenshot() {
    return shown(std::make_unique<ReportSheetView>(kReportedReply, [](const std::string&) {}));
}

// A report that did not go, back with its text and why.
std::unique_ptr<QWidget> reportSheetNotSentScreenshot() {
    auto sheet = std::make_unique<ReportSheetView>(kReportedReply, [](const std::string&) {});
    sheet->setDescription("It cut the kick, but I asked about the vocal's level.");
    sheet->setProblem(ChatViewModel::kReportNotSentNotice);
    return shown(std::move(sheet));
}

std::unique_ptr<QWidget> songBriefSheetScreenshot() {
    return shown(std::make_unique<SongBriefEditorSheet>(
        "Dream pop at 92 BPM, like early Beach House: hazy, wide pads, a vocal that floats but stays "
        "intelligible.\nChorus should open up; verses intimate and dry.",
        [](const std::string&) {}));
}

}  // namespace corvane
