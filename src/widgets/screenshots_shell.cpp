#include "widgets/screenshots_shell.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QVBoxLayout>
#include <string>

#include "app/simulated_host.h"
#include "ui/chat_view_model.h"
#include "widgets/app_delegate.h"
#include "support/iso8601.h"
#include "widgets/input_bar.h"
#include "widgets/logic_pro_window.h"
#include "widgets/project_page.h"
#include "widgets/qt_main_queue.h"
#include "widgets/sidebar.h"
#include "widgets/transcript_view.h"
#include "widgets/window_shell.h"

namespace corvane {

namespace {

ManualAnimationClock& still() {
    static ManualAnimationClock clock;
    return clock;
}

// A fixed-size frame around a view, so that the picture has the window's size.
class Frame : public QWidget {
public:
    Frame(QWidget* content, QSize size) : size_(size) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
        resize(size);
    }
    QSize sizeHint() const override { return size_; }

private:
    QSize size_;
};

ToolCallInfo call(std::string id, std::string tool, ToolCallStatus status, std::string arguments,
                  std::optional<std::string> summary = {}) {
    ToolCallInfo info;
    info.id = std::move(id);
    info.toolName = tool;
    info.displayName = ToolCallInfo::displayNameFor(tool);
    info.arguments = std::move(arguments);
    info.status = status;
    info.summary = std::move(summary);
    return info;
}

QWidget* midTurnTranscript(
    const std::string& message = "The vocal feels buried in the chorus. Can you check the balance?") {
    // As the view model has it mid-turn: the card of the call started last is the active one,
    // open until the next call starts; the others are closed.
    static const std::string active = "c3";
    auto* view = new TranscriptView({[](const ConversationEntry&) {},
                                     {[](const std::string& id) { return id == active; },
                                      [](const std::string&, bool) {}}},
                                    still());
    ConversationEntry user;
    user.timestamp = "t1";
    user.role = ConversationRole::user;
    user.content = message;
    ToolCallGroup group;
    group.id = "round-1";
    group.toolCalls = {call("c1", "list_tracks", ToolCallStatus::completed, "{}", "6 tracks"),
                       call("c2", "listen_to_playback", ToolCallStatus::completed, R"({"duration_seconds":8})",
                            "Chorus: the vocal sits 4 dB under the pads around 2.5 kHz"),
                       call("c3", "set_track_volume", ToolCallStatus::completed,
                            R"({"track_name":"Lead Vox","value":"+2 dB"})",
                            "Lead Vox raised from -6.0 dB to -4.0 dB; the pads are unchanged")};
    view->setInputs({TranscriptItem::message(user), TranscriptItem::toolCallGroup(group),
                     TranscriptItem::thinking("thinking")},
                    std::nullopt, {user});
    return view;
}

ConversationSummary thread(std::string id, std::string title, std::optional<std::string> project, std::string updatedAt,
                           std::optional<std::string> preview = std::nullopt) {
    ConversationSummary summary;
    summary.threadID = std::move(id);
    summary.title = std::move(title);
    summary.projectName = std::move(project);
    summary.updatedAt = std::move(updatedAt);
    summary.lastMessagePreview = std::move(preview);
    return summary;
}

std::vector<ConversationSummary> sampleThreads() {
    return {thread("3", "Vocal balance in the chorus", "Midnight Drive", "2026-03-10T19:07:00.000Z",
                   "The vocal sits 4 dB under the pads around 2.5 kHz."),
            thread("2", "Kick and bass", "Midnight Drive", "2026-03-09T22:15:00.000Z",
                   "Side-chained the bass to the kick, 3 dB of ducking."),
            thread("1", "Master loudness", "Basement Demo", "2026-03-04T15:07:00.000Z"),
            thread("4", "Chat 1", std::nullopt, "2026-03-01T10:00:00.000Z")};
}

// The real views, filled with sample values instead of a view model.
ShellViews sampleViews(const ShellState& state, bool withTranscript, const std::string& message) {
    ShellViews views;
    if (withTranscript)
        views.transcript = [message] {
            return message.empty() ? midTurnTranscript() : midTurnTranscript(message);
        };
    views.sidebar = [state](std::function<void()>) -> QWidget* {
        auto* sidebar = new SidebarView({});
        sidebar->setState(
            {state.isChat ? NavigationState::chat("3") : NavigationState::projectPage(state.pageProjectName),
             std::string("Midnight Drive"),
             sampleThreads(),
             {"Basement Demo", "Midnight Drive"}});
        return sidebar;
    };
    views.projectPage = [](const std::optional<std::string>& name) -> QWidget* {
        ChatDateContext dates{QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone("America/New_York"),
                              [] { return *ISO8601::parse("2026-03-10T20:00:00.000Z"); }};
        auto* page = new ProjectPageView(name, {}, dates, still());
        std::vector<ConversationSummary> chats;
        for (auto& summary : sampleThreads())
            if (summary.projectName == name) chats.push_back(summary);
        page->setThreads(chats);
        return page;
    };
    views.inputBar = [state]() -> QWidget* {
        auto* bar = new MessageInputView({});
        bar->setBusy(state.isBusy);
        return bar;
    };
    return views;
}

std::unique_ptr<QWidget> shell(QSize size, const ShellState& state, bool withTranscript = false,
                               bool openSidebar = false, const std::string& message = {}) {
    auto* root = new CompanionRootView({}, sampleViews(state, withTranscript, message), 780, still());
    root->setState(state);
    auto frame = std::make_unique<Frame>(root, size);
    frame->setAttribute(Qt::WA_DontShowOnScreen);
    frame->show();
    if (openSidebar) root->toggleSidebar();
    still().advance(1);
    root->tick();
    QCoreApplication::processEvents();
    return frame;
}

ShellState projectPage() {
    ShellState state;
    state.pageProjectName = "Midnight Drive";
    state.currentProjectName = "Midnight Drive";
    return state;
}

ShellState chatMidTurn() {
    ShellState state;
    state.isChat = true;
    state.currentProjectName = "Midnight Drive";
    state.threadTitle = "Vocal balance in the chorus";
    state.isBusy = true;
    state.songBrief =
        "  Dark synth-pop, 104 BPM. The vocal should sit on top of the pads without sounding thin or "
        "harsh; the kick and bass carry the groove.\n";
    return state;
}

}  // namespace

std::vector<ShellScreenshot> shellScreenshots() {
    return {
        {"window_empty", 1100,
         [] {
             ShellState state;
             state.accessibilityTrusted = false;
             state.showPluginMissingBanner = true;
             return shell({1100, 700}, state);
         }},
        {"window_local_api_unavailable", 1100,
         [] {
             ShellState state = projectPage();
             state.loopbackProblem =
                 "Corvane could not serve its local API on 127.0.0.1:51234: Address already in use. The Corvane "
                 "plug-in and the test tools cannot reach Corvane until it is restarted with that port free.";
             return shell({1100, 700}, state);
         }},
        {"window_chat_not_saved", 1100,
         [] {
             ShellState state = chatMidTurn();
             state.isBusy = false;
             state.storeFailure =
                 "The chat could not be saved: /home/user/.local/share/Corvane/conversation.json could not be "
                 "written: No space left on device.";
             state.statusMessage = "Ready.";
             state.statusFailures = {
                 "Error: The turn's tool log could not be written: /home/user/.local/share/Corvane/tool-logs could "
                 "not be written: No space left on device.",
                 "Error: The chat could not be saved: /home/user/.local/share/Corvane/conversation.json could not "
                 "be written: No space left on device."};
             return shell({1100, 700}, state, true);
         }},
        // The status line under the chat: a refused drop stays while the turn's progress goes on.
        {"window_chat_status_line", 1100,
         [] {
             ShellState state = chatMidTurn();
             state.statusMessage = "Listen to playback...";
             state.statusFailures = {"Drop failed: the file is not a PNG, JPEG or TIFF image."};
             return shell({1100, 700}, state, true);
         }},
        {"window_project_page", 1100,
         [] {
             return shell({1100, 700}, projectPage());
         }},
        {"window_chat_mid_turn", 1100,
         [] {
             ShellState state = chatMidTurn();
             state.statusMessage = "Listen to playback...";
             return shell({1100, 700}, state, true);
         }},
        // The chat's song is not the one open, said for as long as the chat shows; a long path in the
        // user's message breaks across lines.
        {"window_chat_other_song", 1100,
         [] {
             ShellState state = chatMidTurn();
             state.otherSong =
                 "Logic Pro has \"Basement Demo\" open, not this chat's song \"Midnight Drive\": what Corvane reads "
                 "and changes now is in \"Basement Demo\". Open \"Midnight Drive\" in Logic Pro to work on it.";
             return shell({1100, 700}, state, true, false,
                          "Use the vocal from /Users/me/Music/Projects/Midnight_Drive/Audio_Files/" +
                              std::string(120, 'x') + ".wav please");
         }},
        {"window_compact", 700,
         [] {
             return shell({700, 600}, chatMidTurn(), true);
         }},
        {"window_compact_sidebar", 700,
         [] {
             return shell({700, 600}, chatMidTurn(), true, true);
         }},
        // A title and a brief longer than the bar: both end in an ellipsis; a report just sent.
        {"window_compact_long_title", 480,
         [] {
             ShellState state = chatMidTurn();
             state.isBusy = false;
             state.threadTitle = "the vocal feels buried, check the mix around the chorus and the bridge";
             state.songBrief =
                 "Dark synth-pop, 104 BPM, keep guitars wide and the lead vocal dry and upfront over the pads and "
                 "the bass";
             state.reportSent = true;
             return shell({480, 600}, state, true);
         }},
        // The window's dialogs take its dark palette.
        {"delete_confirmation", 420,
         [] {
             ViewModelAlert alert{ViewModelAlert::Style::warning,
                                  "Delete \"Vocal balance in the chorus\"?",
                                  "This can't be undone.",
                                  {"Delete", "Cancel"},
                                  0};
             return std::unique_ptr<QWidget>(makeAlertBox(alert));
         }},
        {"clear_confirmation", 420,
         [] {
             ViewModelAlert alert{ViewModelAlert::Style::warning,
                                  "Clear \"Vocal balance in the chorus\"?",
                                  "Every message in this chat will be removed. This can't be undone.",
                                  {"Clear", "Cancel"},
                                  0};
             return std::unique_ptr<QWidget>(makeAlertBox(alert));
         }},
        {"unopened_link_notice", 480,
         [] { return std::unique_ptr<QWidget>(makeUnopenedURLNotice("https://corvane.app/plugin")); }},
        {"logic_pro_window", 1080,
         [] {
             static QtMainQueue queue;
             // Virtual time: the picture must not depend on when it was taken.
             static app::SimulatedHost host({std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json", 0,
                                             &queue, standin::ClockMode::virtualTime});
             auto* window = new LogicProWindow(host.screenCapture(), host.screenChanges(), queue);
             return std::unique_ptr<QWidget>(new Frame(window, {1080, 675}));
         }},
    };
}

}  // namespace corvane
