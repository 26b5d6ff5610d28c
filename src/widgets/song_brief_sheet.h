#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace corvane {

class ChatViewModel;

// The modal sheet in which the user writes the open thread's song brief. It edits a copy:
// "Save" hands the text over exactly as typed, "Cancel" drops it. Neither button has a key:
// Return and Escape do nothing here (Return in the editor starts a new line).
class SongBriefEditorSheet : public QDialog {
public:
    SongBriefEditorSheet(std::string text, std::function<void(const std::string& text)> onSave,
                         QWidget* parent = nullptr);

    std::string text() const;
    QPlainTextEdit* editor() const { return editor_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* saveButton() const { return save_; }

    void save();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void(const std::string&)> onSave_;
    QPlainTextEdit* editor_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* save_ = nullptr;
};

// The window shell's song-brief editor: seeded with the view model's song brief, saving through
// saveSongBrief().
SongBriefEditorSheet* makeSongBriefEditor(const std::shared_ptr<ChatViewModel>& viewModel, QWidget* parent);

}  // namespace corvane
