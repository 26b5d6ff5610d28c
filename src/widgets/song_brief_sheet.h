#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/chat_view_model.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace corvane {

// The modal sheet in which the user writes the open thread's song brief. It edits a copy:
// "Save" hands the text over exactly as typed, "Cancel" drops it, and so does Escape, as in the
// window's other sheets. Return in the editor starts a new line and is no key of either button;
// Tab moves on to the buttons.
//
// With a checked save the owner may refuse a save because the brief changed since the sheet
// opened (another copy of the program, the agent), answering the brief as stored now: the sheet
// then stays open with the user's text, shows the stored one, and a second Save goes over it.
// A save the disk refused keeps the sheet open with the user's text too, and says why.
class SongBriefEditorSheet : public QDialog {
public:
    using CheckedSave = std::function<SongBriefSaveOutcome(const std::string& text, const std::string& openedWith)>;

    SongBriefEditorSheet(std::string text, std::function<void(const std::string& text)> onSave,
                         QWidget* parent = nullptr);
    SongBriefEditorSheet(std::string text, CheckedSave onSave, QWidget* parent = nullptr);

    std::string text() const;
    // What the sheet says about a brief changed since it opened; empty when it says nothing.
    std::string notice() const;
    QPlainTextEdit* editor() const { return editor_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* saveButton() const { return save_; }

    void save();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CheckedSave onSave_;
    std::string openedWith_;  // the brief as stored when the sheet opened, or as last shown stored
    QLabel* notice_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* save_ = nullptr;
};

// The window shell's song-brief editor: seeded with the open thread's brief as stored now (shown
// again by the view model too), saving through saveSongBrief() over that brief.
SongBriefEditorSheet* makeSongBriefEditor(const std::shared_ptr<ChatViewModel>& viewModel, QWidget* parent);

}  // namespace corvane
