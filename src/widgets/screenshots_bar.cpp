#include "widgets/screenshots_bar.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QLayout>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdlib>

#include "widgets/account_settings.h"
#include "widgets/input_bar.h"
#include "widgets/sidebar.h"

namespace corvane {

namespace {

// Holds one view at a fixed height, the way the window would place it.
class Placed : public QWidget {
public:
    Placed(QWidget* view, int width, int height) : size_(width, height) {
        view->setParent(this, Qt::Widget);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
        view->show();
    }
    QSize sizeHint() const override { return size_; }
    void setHeight(int height) { size_.setHeight(height); }

private:
    QSize size_;
};

std::unique_ptr<QWidget> inputBar(bool busy, std::int64_t captures, const char* text, bool dragging) {
    auto* bar = new MessageInputView({});
    bar->setBusy(busy);
    bar->setPendingCaptureCount(captures);
    bar->setMessageText(text);
    if (dragging) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile("/tmp/snare.png")});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &enter);
    }
    // Shown first: the field measures its wrapped text at the width it is shown at.
    auto placed = std::make_unique<Placed>(bar, 560, 200);
    placed->resize(560, 200);
    placed->show();
    QCoreApplication::sendPostedEvents();
    placed->setHeight(bar->sizeHint().height());
    return placed;
}

ConversationSummary thread(std::string id, std::optional<std::string> project) {
    ConversationSummary summary;
    summary.threadID = std::move(id);
    summary.projectName = std::move(project);
    return summary;
}

std::unique_ptr<QWidget> sidebar(SidebarState state) {
    auto* view = new SidebarView({});
    view->setState(std::move(state));
    auto placed = std::make_unique<Placed>(view, SidebarView::kWidth, 420);
    placed->show();
    return placed;
}

// The sign-in answer without a network, so that the sheet has an e-mail to show.
class SampleTransport final : public http::HTTPTransport {
public:
    http::HTTPClientResponse send(const http::HTTPClientRequest&, std::stop_token) override {
        return {200, R"({"access_token":"a.e30.s","refresh_token":"r","user":{"email":"ada@example.com"}})"};
    }
};

std::unique_ptr<QWidget> settings() {
    // The sample session goes to a folder of its own, never the user's.
    static QTemporaryDir home;
    ::setenv("CORVANE_HOME", home.path().toLocal8Bit().constData(), 1);
    static networking::AuthService auth(networking::BackendConfiguration{}, std::make_shared<SampleTransport>());
    if (!auth.isAuthenticated()) auth.signIn("ada@example.com", "sample");
    auto* sheet = new SettingsView(auth, "https://corvane.app/dashboard", {});
    auto placed = std::make_unique<Placed>(sheet, 340, 280);
    placed->show();
    return placed;
}

}  // namespace

std::vector<BarScreenshot> barScreenshots() {
    const std::vector<ConversationSummary> threads = {thread("1", "Night Drive"), thread("2", "Night Drive"),
                                                      thread("3", "Basement Demo"), thread("4", "Summer Single"),
                                                      thread("5", std::nullopt)};
    const std::vector<std::string> names = {"Basement Demo", "Night Drive", "Summer Single"};
    return {
        {"input_bar", 560, [] { return inputBar(false, 0, "", false); }},
        {"input_bar_typed", 560,
         [] { return inputBar(false, 2, "Can you make the vocal sit a bit more forward in the chorus?", false); }},
        {"input_bar_busy", 560, [] { return inputBar(true, 1, "", false); }},
        {"input_bar_drop", 560, [] { return inputBar(false, 0, "", true); }},
        {"sidebar", SidebarView::kWidth,
         [=] {
             return sidebar({NavigationState::chat("3"), std::string("Night Drive"), threads, names});
         }},
        {"sidebar_empty", SidebarView::kWidth,
         [] {
             return sidebar({NavigationState::projectPage(std::nullopt), std::nullopt, {}, {}});
         }},
        {"account_settings", 340, [] { return settings(); }},
    };
}

}  // namespace corvane
