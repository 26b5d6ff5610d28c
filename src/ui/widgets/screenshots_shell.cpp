#include "ui/widgets/screenshots_shell.h"

#include <QCoreApplication>
#include <QVBoxLayout>
#include <string>

#include "app/simulated_host.h"
#include "ui/widgets/logic_pro_window.h"
#include "ui/widgets/qt_main_queue.h"
#include "ui/widgets/transcript_view.h"
#include "ui/widgets/window_shell.h"

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

QWidget* midTurnTranscript() {
    auto* view = new TranscriptView(
        {[](const ConversationEntry&) {}, {[](const std::string&) { return false; }, [](const std::string&, bool) {}}},
        still());
    ConversationEntry user;
    user.timestamp = "t1";
    user.role = ConversationRole::user;
    user.content = "The vocal feels buried in the chorus. Can you check the balance?";
    ToolCallGroup group;
    group.id = "round-1";
    group.toolCalls = {call("c1", "list_tracks", ToolCallStatus::completed, "{}", "6 tracks"),
                       call("c2", "set_track_volume", ToolCallStatus::completed,
                            R"({"track_name":"Lead Vox","value":"+2 dB"})", "Lead Vox raised to -4.0 dB"),
                       call("c3", "listen_to_playback", ToolCallStatus::running, R"({"duration_seconds":8})")};
    view->setInputs({TranscriptItem::message(user), TranscriptItem::toolCallGroup(group)}, std::nullopt, {user});
    return view;
}

ShellViews sampleViews(bool withTranscript) {
    ShellViews views;
    if (withTranscript) views.transcript = [] { return midTurnTranscript(); };
    return views;
}

std::unique_ptr<QWidget> shell(QSize size, const ShellState& state, bool withTranscript = false,
                               bool openSidebar = false) {
    auto* root = new CompanionRootView({}, sampleViews(withTranscript), 780, still());
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
        {"window_project_page", 1100,
         [] {
             return shell({1100, 700}, projectPage());
         }},
        {"window_chat_mid_turn", 1100,
         [] {
             return shell({1100, 700}, chatMidTurn(), true);
         }},
        {"window_compact", 700,
         [] {
             return shell({700, 600}, chatMidTurn(), true);
         }},
        {"window_compact_sidebar", 700,
         [] {
             return shell({700, 600}, chatMidTurn(), true, true);
         }},
        {"logic_pro_window", 1080,
         [] {
             static QtMainQueue queue;
             static app::SimulatedHost host(
                 {std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json", 0, &queue});
             auto* window = new LogicProWindow(host.screenCapture(), host.screenChanges(), queue);
             return std::unique_ptr<QWidget>(new Frame(window, {1080, 675}));
         }},
    };
}

}  // namespace corvane
