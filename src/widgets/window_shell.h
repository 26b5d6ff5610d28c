#pragma once

// The root view of the main window (CompanionRootView): the songs sidebar inline or over the
// whole window, and the main column with the top bar, the banners and either the project page or
// the chat pane; it presents the song-brief editor and the report sheet, and zooms the window on
// a double click along its top edge.
//
// The views of other parts (sidebar, project page, transcript, input bar, sheets) come from
// ShellViews factories; absent ones are shown as placeholders.

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "widgets/animation_clock.h"
#include "widgets/banners.h"
#include "widgets/top_bar.h"

namespace corvane {

class HoverButton;

// What the root view reads of the view model.
struct ShellState {
    bool isChat = false;
    std::optional<std::string> pageProjectName;     // the project page's project (projectPage only)
    std::optional<std::string> currentProjectName;  // for the back button
    std::string threadTitle;
    bool isBusy = false;
    std::string songBrief;
    bool accessibilityTrusted = true;
    bool showPluginMissingBanner = false;
    std::string loopbackProblem;  // empty: the local API is served
    std::string storeFailure;     // the last change the disk refused; empty: none to tell
    std::string otherSong;        // the open chat's song is not the one Logic Pro has open; empty: it is
    bool reporting = false;       // an entry is being reported
    bool reportSent = false;      // a report just went: its confirmation shows
    std::string statusMessage;    // the status line's progress or result
    // Failures told since the user's last action, kept in the status line.
    std::vector<std::string> statusFailures;
    friend bool operator==(const ShellState&, const ShellState&) = default;
};

// What the root view asks of the view model and the platform.
struct ShellActions {
    std::function<void()> loadConversations;                                             // when first shown
    std::function<void(const std::optional<std::string>& projectName)> showProjectPage;  // the back button
    std::function<void()> clearChat;
    std::function<void()> dismissPluginBanner;
    std::function<void()> dismissStoreFailure;
    std::function<void()> endReport;  // the report sheet closed: the reported entry is let go
    URLOpener openURL;
    std::string siteURL;         // the plug-in download page's site
    std::function<void()> zoom;  // null: the window toggles between zoomed and normal
};

// The other parts' views. The sidebar is built twice (inline and full-window); it calls
// `navigated` after the user picked a song or chat in it.
struct ShellViews {
    std::function<QWidget*(std::function<void()> navigated)> sidebar;
    std::function<QWidget*(const std::optional<std::string>& projectName)> projectPage;
    std::function<QWidget*()> transcript;
    std::function<QWidget*()> inputBar;
    // Sheets: modal dialogs the root view opens and that close themselves.
    std::function<QDialog*(QWidget* parent)> songBriefEditor;
    std::function<QDialog*(QWidget* parent)> reportSheet;
};

class CompanionRootView : public QWidget {
public:
    static constexpr double kSidebarWidth = 210;
    static constexpr double kSidebarAnimationSeconds = 0.18;
    static constexpr int kTitleStripInset = 78;
    static constexpr int kTitleStripHeight = 28;

    CompanionRootView(ShellActions actions, ShellViews views, double compactSidebarThreshold = 780,
                      AnimationClock& clock = AnimationClock::system(), QWidget* parent = nullptr);
    void setState(const ShellState& state);
    const ShellState& state() const { return state_; }
    // What is typed next goes where the page takes it: the chat's message field, or the song page's
    // new-chat field.
    void focusTypingPlace();

    bool isCompact() const { return width() < threshold_; }
    bool sidebarVisible() const { return sidebarVisible_; }
    // The sidebar button's action: toggles with the animation.
    void toggleSidebar();
    void showSongBriefEditor();
    bool showingSongBriefEditor() const { return songBriefSheet_ != nullptr; }
    // Moves the sidebar's animation to the clock's present (the frame timer calls it).
    void tick();

    TopBar* topBar() const { return topBar_; }
    QWidget* inlineSidebar() const { return inlineHolder_; }
    QWidget* fullWindowSidebar() const { return fullSidebar_; }
    ProblemBanner* loopbackBanner() const { return loopbackBanner_; }
    ProblemBanner* storeFailureBanner() const { return storeFailureBanner_; }
    ProblemBanner* otherSongBanner() const { return otherSongBanner_; }
    AccessibilityBanner* accessibilityBanner() const { return accessibilityBanner_; }
    PluginMissingBanner* pluginBanner() const { return pluginBanner_; }
    ConfirmationBanner* reportSentBanner() const { return reportSentBanner_; }
    StatusLine* statusLine() const { return statusLine_; }
    QWidget* projectPage() const { return projectPage_; }
    QWidget* chatPane() const { return chatPane_; }
    QWidget* inputBar() const { return inputBar_; }
    HoverButton* songBriefStrip() const { return songBriefStrip_; }
    QString songBriefStripText() const;
    QWidget* titleStrip() const { return titleStrip_; }
    QDialog* reportSheet() const { return reportSheet_; }

    // The first 80 characters of the trimmed brief, and "…" when there are more; empty when the
    // trimmed brief is.
    static std::string songBriefPreview(const std::string& brief);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // A double click in the title strip that no view under it took.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Given the focus as a whole (signed in, the window back), it hands it to the typing place.
    void focusInEvent(QFocusEvent* event) override;

private:
    void setSidebarVisible(bool visible, bool animated);
    void layoutLayers();
    void rebuildProjectPage();
    void updateSongBriefStrip();
    void syncReportSheet();
    void zoom();

    ShellActions actions_;
    ShellViews views_;
    double threshold_;
    AnimationClock& clock_;
    FrameTimer frames_;
    ShellState state_;
    bool firstShown_ = false;
    bool wasCompact_ = false;
    bool sidebarVisible_ = true;
    Transition inlineShown_{1, kSidebarAnimationSeconds, Transition::Curve::easeInOut};
    Transition fullShown_{0, kSidebarAnimationSeconds, Transition::Curve::easeInOut};

    QWidget* mainRow_;
    QWidget* inlineHolder_;
    QWidget* inlineContent_;
    QWidget* divider_;
    QWidget* fullSidebar_;
    QWidget* titleStrip_;
    TopBar* topBar_;
    ProblemBanner* loopbackBanner_;
    ProblemBanner* otherSongBanner_ = nullptr;
    ProblemBanner* storeFailureBanner_;
    AccessibilityBanner* accessibilityBanner_;
    PluginMissingBanner* pluginBanner_;
    ConfirmationBanner* reportSentBanner_;
    QWidget* pageHolder_;
    QWidget* projectPage_ = nullptr;
    std::optional<std::optional<std::string>> shownPage_;
    QWidget* chatPane_;
    QWidget* inputBar_;
    StatusLine* statusLine_;
    HoverButton* songBriefStrip_;
    ElidedLabel* songBriefLabel_ = nullptr;  // the strip's current label
    std::string songBriefPreview_;
    QPointer<QDialog> songBriefSheet_;
    QPointer<QDialog> reportSheet_;
};

}  // namespace corvane
