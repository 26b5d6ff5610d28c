#pragma once

// The message composer at the foot of the chat pane: a growing text field over a toolbar with
// the attach button, the answer-tier menu, the queued-images chip and the round send / stop
// button. The whole bar takes dropped images and image files. It holds no view model: the
// presenter hands it values through the setters and hears the user through the actions.

#include <QLabel>
#include <QMimeData>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/chat_model.h"
#include "platform/lifetime.h"
#include "platform/main_queue.h"
#include "platform/platform.h"
#include "ui/dropped_image.h"

class QMenu;
class QTextEdit;

namespace corvane {

class HoverButton;
class PaintedBox;

class MessageInputView : public QWidget {
public:
    struct Actions {
        // Return in the field or the send button; the presenter takes and empties the text.
        std::function<void()> onSend;
        // One image's bytes and its file extension, without the point.
        std::function<void(const std::string& data, const std::string& fileExtension)> onDropImage;
        // The tier menu's choice (the presenter stores it).
        std::function<void(ModelTier)> onSelectModelTier;
        // The stop button while a turn runs: cancels the turn; the bar leaves the busy flag alone,
    // but the field takes typing again at once, with the focus.
        std::function<void()> onStop;
    };
    // The open panel; answers the chosen file's path, none when cancelled.
    using ImagePicker = std::function<std::optional<std::string>(QWidget* parent)>;

    // A dropped or picked file is read up to this many bytes: one more than the view model takes,
    // so that it still says the file is too large, while a huge file is never read whole.
    static constexpr std::int64_t kMaxReadBytes = std::int64_t(DroppedImage::kMaxBytes) + 1;

    // Dropped and picked files are read off the UI thread; their bytes come back through
    // `mainQueue`.
    explicit MessageInputView(Actions actions, QWidget* parent = nullptr,
                              platform::MainQueue& mainQueue = platform::mainQueue());
    // Waits for files still being read; their bytes go nowhere.
    ~MessageInputView() override;
    void setActions(Actions actions) { actions_ = std::move(actions); }

    std::string messageText() const;
    void setMessageText(const std::string& text);
    ModelTier selectedModelTier() const { return tier_; }
    void setSelectedModelTier(ModelTier tier);
    std::int64_t pendingCaptureCount() const { return captureCount_; }
    void setPendingCaptureCount(std::int64_t count);
    bool isBusy() const { return busy_; }
    void setBusy(bool busy);
    // Why the text in the field was not sent; shown above it until the text changes. Empty: none.
    void setNotice(const std::string& text);
    QString noticeText() const;
    QLabel* noticeLabel() const { return notice_; }
    bool isDropTargeted() const { return dropTargeted_; }
    void setImagePicker(ImagePicker picker) { picker_ = std::move(picker); }

    // True when at least one item was taken up: each file URL is read and handed on; image data
    // without a URL is handed on as "png".
    bool handleDrop(const QMimeData& mime);
    // Whether a dropped or picked file is still being read.
    bool isReading() const;
    void pickImage();

    // What the views show, for the window's tests.
    QString placeholder() const;
    QTextEdit* textArea() const;
    HoverButton* attachButton() const { return attachButton_; }
    QWidget* tierPicker() const;
    QMenu* tierMenu() const { return tierMenu_; }
    QString tierLabelText() const;
    QWidget* captureChip() const;
    QString captureChipText() const;
    HoverButton* sendButton() const { return sendButton_; }
    std::string sendSymbol() const { return busy_ ? "stop.fill" : "arrow.up"; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Focus given to the bar (a chat opened) goes to the field, or waits in the bar until the
    // field takes typing.
    void focusInEvent(QFocusEvent* event) override;

private:
    class TextArea;
    class TierPicker;
    void refresh();
    void setDropTargeted(bool targeted);
    void sendPressed();
    void handOnFiles(const QStringList& paths);
    // On a reader thread.
    void read(const std::string& path, const std::string& extension, platform::Lifetime::Guard alive,
              platform::MainQueue& queue);

    Actions actions_;
    platform::MainQueue& mainQueue_;
    platform::Lifetime lifetime_;  // the UI thread's view of this bar's life, for the readers
    struct Reader {
        platform::Lifetime::Guard running;  // ends when the read has returned
        std::jthread thread;
    };
    std::vector<Reader> readers_;
    ImagePicker picker_;
    ModelTier tier_ = ModelTier::standard;
    std::int64_t captureCount_ = 0;
    bool busy_ = false;
    bool stopAsked_ = false;    // Stop was pressed during this busy spell
    bool focusParked_ = false;  // the bar holds the field's focus while the field is disabled
    bool dropTargeted_ = false;

    QLabel* notice_ = nullptr;
    TextArea* textArea_ = nullptr;
    HoverButton* attachButton_ = nullptr;
    TierPicker* tierPicker_ = nullptr;
    QMenu* tierMenu_ = nullptr;
    PaintedBox* captureChip_ = nullptr;
    QLabel* captureCountLabel_ = nullptr;
    HoverButton* sendButton_ = nullptr;
};

}  // namespace corvane
