#pragma once

#include <QLocale>
#include <QScrollArea>
#include <QTimeZone>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/conversation_model.h"
#include "support/iso8601.h"
#include "widgets/animation_clock.h"

class QLabel;
class QLineEdit;
class QMessageBox;
class QVBoxLayout;

namespace corvane {

class ChatRowView;
class ChatViewModel;
struct ViewModelAlert;

// Where and when the chat rows' dates are read: the user's locale and time zone, and now.
struct ChatDateContext {
    QLocale locale = QLocale::system();
    QTimeZone timeZone = QTimeZone::systemTimeZone();
    std::function<ISO8601::TimePoint()> now = &ISO8601::now;
};

// A chat row's date: the time ("3:07 PM") for an update earlier today, otherwise the month and
// day ("Mar 4"); empty when `updatedAt` is not a stored timestamp (with fractional seconds).
std::string formattedDate(const std::string& updatedAt, const ChatDateContext& context = {});

// The trimming of the new-chat field: horizontal white space only, line breaks are kept.
std::string trimmedNewChatText(const std::string& text);

// The view model's modal question (the chat rows' delete confirmation) as a warning box: its
// buttons in order, the destructive one marked, the first the default and "Cancel" on Escape.
QMessageBox* makeAlertBox(const ViewModelAlert& alert, QWidget* parent = nullptr);
// Asks and answers the index of the chosen button (the number of buttons when none was chosen);
// for ChatViewModel::setAlertPresenter.
std::size_t showViewModelAlert(const ViewModelAlert& alert, QWidget* parent);

// The main area while no chat is open: a project's name, the field that starts a new chat about
// it, and its chats, newest first. Built from plain values and actions; the constructor that
// takes a ChatViewModel binds it to the view model.
class ProjectPageView : public QScrollArea {
public:
    struct Actions {
        // Answers why the text was not sent (it then stays in the field); none when it went.
        std::function<std::optional<std::string>(const std::string& text)> sendMessage;
        std::function<void(const std::string& threadID)> openThread;
        std::function<void(const std::string& threadID)> deleteThread;
    };

    ProjectPageView(std::optional<std::string> projectName, Actions actions, ChatDateContext dates = {},
                    AnimationClock& clock = AnimationClock::system(), QWidget* parent = nullptr);
    // Lists viewModel.threadsForProject(projectName) whenever the threads change; sends, opens
    // and deletes through the view model.
    ProjectPageView(const std::shared_ptr<ChatViewModel>& viewModel, std::optional<std::string> projectName,
                    QWidget* parent = nullptr);
    ~ProjectPageView() override;

    // The threads of this page, in the order shown.
    void setThreads(std::vector<ConversationSummary> threads);
    // Another project's page in the same place: the new-chat text stays.
    void setProjectName(std::optional<std::string> projectName);
    const std::optional<std::string>& projectName() const { return projectName_; }

    QString headerText() const;
    QLineEdit* newChatField() const { return newChatField_; }
    // Why the field's text was not sent, under the field until the text changes.
    QString noticeText() const;
    QLabel* noticeLabel() const { return notice_; }
    // Runs on Return in the field.
    void submitNewChat();

    const std::vector<ChatRowView*>& rows() const { return rows_; }
    int dividerCount() const { return dividerCount_; }
    bool showsEmptyState() const { return emptyState_ != nullptr; }
    bool showsSectionLabel() const { return sectionLabel_ != nullptr; }

private:
    void build();
    void rebuildList();
    void unbind();

    std::optional<std::string> projectName_;
    Actions actions_;
    ChatDateContext dates_;
    AnimationClock& clock_;
    std::vector<ConversationSummary> threads_;

    QLabel* header_ = nullptr;
    QLineEdit* newChatField_ = nullptr;
    QLabel* notice_ = nullptr;
    QString sentText_;  // the text the notice was shown for
    QWidget* list_ = nullptr;
    QVBoxLayout* listLayout_ = nullptr;
    std::vector<ChatRowView*> rows_;
    QWidget* emptyState_ = nullptr;
    QWidget* sectionLabel_ = nullptr;
    int dividerCount_ = 0;

    std::weak_ptr<ChatViewModel> viewModel_;
    std::uint64_t observerToken_ = 0;
};

}  // namespace corvane
