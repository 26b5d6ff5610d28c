#include "widgets/song_brief_sheet.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "transcript/theme.h"
#include "ui/chat_view_model.h"
#include "widgets/diagram_painter.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {
constexpr int kWidth = 400;
constexpr int kEditorMinHeight = 100;
constexpr int kEditorPadding = 10;
}  // namespace

SongBriefEditorSheet::SongBriefEditorSheet(std::string text, std::function<void(const std::string&)> onSave,
                                           QWidget* parent)
    : SongBriefEditorSheet(std::move(text),
                           CheckedSave([onSave = std::move(onSave)](const std::string& typed, const std::string&) {
                               if (onSave) onSave(typed);
                               return SongBriefSaveOutcome{};
                           }),
                           parent) {}

SongBriefEditorSheet::SongBriefEditorSheet(std::string text, CheckedSave onSave, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), onSave_(std::move(onSave)), openedWith_(text) {
    QVBoxLayout* stack = sheetColumn(this, QStringLiteral("Song brief"), white(1));
    auto* hint = makeLabel(QStringLiteral("Describe the genre, references, vibe, arrangement, and mix intent."),
                           uiFont(12), toQColor(CorvaneTheme::textSecondary));
    hint->setWordWrap(true);
    stack->addWidget(hint);

    auto* panel = new PaintedBox(10, toQColor(CorvaneTheme::surfaceElevated), toQColor(CorvaneTheme::surfaceBorder));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(kEditorPadding, kEditorPadding, kEditorPadding, kEditorPadding);
    editor_ = plainEditor(13);
    editor_->setTabChangesFocus(true);
    editor_->setPlainText(qText(text));
    panelLayout->addWidget(editor_);
    panel->setMinimumHeight(kEditorMinHeight);
    panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(panel, 1);

    notice_ = makeLabel(QString(), uiFont(12), toQColor(system_color::red));
    notice_->setWordWrap(true);
    notice_->setTextFormat(Qt::PlainText);
    notice_->hide();
    stack->addWidget(notice_);

    auto* buttons = new QHBoxLayout;
    cancel_ = new TextButton(QStringLiteral("Cancel"), {.font = uiFont(13),
                                                        .text = white(0.6),
                                                        .fill = toQColor(CorvaneTheme::buttonIdle),
                                                        .horizontalPadding = 16,
                                                        .verticalPadding = 8});
    save_ = new TextButton(QStringLiteral("Save"), {.font = uiFont(13, QFont::Medium),
                                                    .text = white(1),
                                                    .fill = toQColor(CorvaneTheme::primaryButton),
                                                    .horizontalPadding = 20,
                                                    .verticalPadding = 8});
    QObject::connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    QObject::connect(save_, &QPushButton::clicked, this, [this] { save(); });
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(save_);
    stack->addLayout(buttons);

    // As wide as the sheet and as tall as its content wants; the editor takes any height the user
    // adds by resizing.
    setFixedWidth(kWidth);
    stack->activate();
    const int height = stack->totalHeightForWidth(kWidth);
    setMinimumHeight(height);
    resize(kWidth, height);
}

std::string SongBriefEditorSheet::text() const { return editorText(editor_); }

std::string SongBriefEditorSheet::notice() const { return notice_->isVisible() ? notice_->text().toStdString() : ""; }

void SongBriefEditorSheet::save() {
    const SongBriefSaveOutcome outcome = onSave_ ? onSave_(text(), openedWith_) : SongBriefSaveOutcome{};
    if (outcome.done()) {
        accept();
        return;
    }
    if (const auto& stored = outcome.storedMeanwhile) {
        // Not written over unseen: the user sees what is stored now, and a second Save replaces it.
        openedWith_ = *stored;
        notice_->setText(
            stored->empty()
                ? QStringLiteral("This brief was removed elsewhere since you opened it. Save again to keep yours.")
                : QStringLiteral("This brief was changed elsewhere since you opened it. As stored now:\n") +
                      qText(*stored) + QStringLiteral("\nSave again to replace it with yours."));
    } else {
        // The text typed stays for another Save once the disk takes it.
        notice_->setText(qText(*outcome.refusal));
    }
    notice_->show();
    layout()->activate();
    setMinimumHeight(layout()->totalHeightForWidth(kWidth));
    resize(kWidth, std::max(height(), minimumHeight()));
}

// Without a window frame the sheet would melt into the window behind it, which has its colour.
void SongBriefEditorSheet::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    paintSheetEdge(this);
}

SongBriefEditorSheet* makeSongBriefEditor(const std::shared_ptr<ChatViewModel>& viewModel, QWidget* parent) {
    std::weak_ptr<ChatViewModel> weak = viewModel;
    // The brief belongs to the thread the sheet was opened for, whichever is open at Save; it is
    // read from the store now, as another copy of the program may have changed it.
    return new SongBriefEditorSheet(
        viewModel->reloadSongBrief(),
        SongBriefEditorSheet::CheckedSave(
            [weak, threadID = viewModel->currentThreadID()](const std::string& text, const std::string& openedWith) {
                if (auto vm = weak.lock()) return vm->saveSongBrief(text, threadID, openedWith);
                return SongBriefSaveOutcome{};
            }),
        parent);
}

}  // namespace corvane
