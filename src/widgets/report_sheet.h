#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace corvane {

class ChatViewModel;

// The reported reply as the sheet previews it: trimmed of white space and line breaks, whole up
// to 240 characters, otherwise its first 240 and "…".
std::string reportPreviewText(const std::string& assistantSnippet);

// The modal sheet in which the user reports a reply that went wrong: a preview of the reply, an
// optional description, "Cancel" (Escape) and "Send report" (Return outside the editor).
// Closing it is the presenter's signal (QDialog::finished); the description dies with it.
class ReportSheetView : public QDialog {
public:
    ReportSheetView(std::string assistantSnippet, std::function<void(const std::string& description)> onSend,
                    QWidget* parent = nullptr);

    const std::string& previewText() const { return previewText_; }
    // The lines the preview box shows: at most three, the last elided when more would follow.
    QStringList shownPreviewLines() const;
    QPlainTextEdit* descriptionEditor() const { return editor_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* sendButton() const { return send_; }

    // The description to start with (a report that was not sent, to send again).
    void setDescription(const std::string& text);
    // Why the report was not sent the last time; empty hides it.
    void setProblem(const std::string& text);
    QString problemText() const;

    // "Send report": the trimmed description (maybe empty) to onSend, then closes.
    void sendReport();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void fitHeight();

    std::string previewText_;
    std::function<void(const std::string&)> onSend_;
    QWidget* preview_ = nullptr;
    QWidget* editorPanel_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    QLabel* problem_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* send_ = nullptr;
};

// The window shell's report sheet for the view model's reported entry, sending through
// submitReport(); null while no entry is held. Clearing the entry when the sheet closes is the
// shell's.
ReportSheetView* makeReportSheet(const std::shared_ptr<ChatViewModel>& viewModel, QWidget* parent);

}  // namespace corvane
