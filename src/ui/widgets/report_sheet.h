#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>

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

    // "Send report": the trimmed description (maybe empty) to onSend, then closes.
    void sendReport();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fitHeight();

    std::string previewText_;
    std::function<void(const std::string&)> onSend_;
    QWidget* preview_ = nullptr;
    QWidget* editorPanel_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* send_ = nullptr;
};

// Shows the report sheet over `window` while the view model holds a reported entry, sends
// through it, and clears the entry however the sheet closes, so the same reply can be reported
// again. The view model must outlive the presenter.
class ReportSheetPresenter {
public:
    ReportSheetPresenter(ChatViewModel& viewModel, QWidget* window);
    ~ReportSheetPresenter();
    ReportSheetPresenter(const ReportSheetPresenter&) = delete;
    ReportSheetPresenter& operator=(const ReportSheetPresenter&) = delete;

    ReportSheetView* sheet() const { return sheet_; }

private:
    void update();

    ChatViewModel& viewModel_;
    QWidget* window_;
    QPointer<ReportSheetView> sheet_;
    std::uint64_t observerToken_ = 0;
};

}  // namespace corvane
