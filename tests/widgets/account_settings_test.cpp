#include "widgets/account_settings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

#include "test_support/temp_home.h"
#include "widget_events.h"
#include "widget_pixels.h"
#include "widgets/hover_button.h"
#include "widgets/widget_parts.h"

namespace corvane {
namespace {

using corvane::testing::click;

// The sign-in service's token answer, for any request.
class TokenTransport final : public http::HTTPTransport {
public:
    http::HTTPClientResponse send(const http::HTTPClientRequest&, std::stop_token) override {
        return {200, R"({"access_token":"a.eyJleHAiOjQxMDI0NDQ4MDB9.s","refresh_token":"refresh"})"};
    }
};

void escape(QWidget& widget) {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

class SettingsViewTest : public ::testing::Test {
protected:
    testing::TempHome home;
    networking::AuthService auth{networking::BackendConfiguration{}, std::make_shared<TokenTransport>()};
    std::vector<std::string> opened;
    QWidget window;
    SettingsView* sheet = nullptr;

    void open(const std::string& email = "ada@example.com") {
        auth.signIn(email, "secret");
        ASSERT_TRUE(auth.isAuthenticated());
        window.resize(600, 400);
        window.show();
        sheet = new SettingsView(
            auth, "https://corvane.app/dashboard", [this](const std::string& url) { opened.push_back(url); }, {},
            &window);
        sheet->open();
    }
};

TEST_F(SettingsViewTest, EscapeClosesTheSheetWithoutSigningOut) {
    open();
    EXPECT_EQ(sheet->size(), QSize(340, 280));
    EXPECT_EQ(sheet->emailText(), "ada@example.com");
    escape(*sheet);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(auth.isAuthenticated());
}

TEST_F(SettingsViewTest, SignOutAsksFirstAndCancelKeepsEverything) {
    open();
    click(*sheet->signOutRow());
    ASSERT_TRUE(sheet->showingSignOutConfirmation());
    EXPECT_EQ(sheet->confirmation()->text(), "Sign out of Corvane?");
    EXPECT_EQ(sheet->confirmation()->informativeText(), "You'll need to sign back in to use AI features.");
    EXPECT_FALSE(sheet->confirmSignOutButton()->isDefault());

    sheet->cancelSignOutButton()->click();
    EXPECT_FALSE(sheet->showingSignOutConfirmation());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(auth.isAuthenticated());

    // Escape in the confirmation is its Cancel, not the sheet's close.
    click(*sheet->signOutRow());
    escape(*sheet->confirmation());
    EXPECT_FALSE(sheet->showingSignOutConfirmation());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(auth.isAuthenticated());

    click(*sheet->signOutRow());
    sheet->confirmSignOutButton()->click();
    EXPECT_FALSE(auth.isAuthenticated());
    EXPECT_FALSE(sheet->isVisible()) << "the sheet closes after signing out";
}

TEST_F(SettingsViewTest, DashboardOpensInTheBrowserAndTheSheetStays) {
    open();
    click(*sheet->dashboardRow());
    EXPECT_EQ(opened, std::vector<std::string>{"https://corvane.app/dashboard"});
    EXPECT_TRUE(sheet->isVisible());
}

TEST_F(SettingsViewTest, TheEmailFollowsTheServiceAndALongOneIsShortenedInTheMiddle) {
    const std::string longEmail = "a.very.long.mailbox.name.for.testing@recording-studio.example.com";
    open(longEmail);
    window.resize(600, 400);
    QApplication::processEvents();
    const QString shown = sheet->emailLabel()->text();
    EXPECT_EQ(sheet->emailText().toStdString(), longEmail) << "the whole address stays";
    ASSERT_NE(shown, sheet->emailText());
    EXPECT_TRUE(shown.startsWith("a.very")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(".com")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_TRUE(sheet->emailLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);

    auth.signOut();
    sheet->refresh();
    EXPECT_EQ(sheet->emailText(), "\u2014") << "no e-mail known: one em dash";
}

}  // namespace
}  // namespace corvane
