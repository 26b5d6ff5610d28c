#include "widgets/sign_in_gate.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <future>

#include "networking/auth_service.h"
#include "test_support/temp_home.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

void pressReturn(QWidget* target) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(target, &press);
}

TEST(SignInGate, SwitchesAtOnceAndBringsBackAFreshForm) {
    testing::ensureApplication();
    // The window's content: a control, then the field typing belongs in.
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->addWidget(new QPushButton("Songs"));
    auto* field = new QLineEdit("the window");
    column->addWidget(field);
    content->setFocusProxy(field);
    SignInGate gate(content, {}, "https://site.test");
    gate.resize(800, 600);
    gate.show();
    ASSERT_NE(gate.loginForm(), nullptr);
    EXPECT_FALSE(gate.showsAppContent());
    EXPECT_FALSE(content->isVisible());
    gate.loginForm()->emailField()->edit()->setText("me@example.com");
    gate.loginForm()->emailField()->edit()->setFocus();

    gate.setAuthState({.isAuthenticated = true});
    EXPECT_TRUE(gate.showsAppContent());
    EXPECT_TRUE(content->isVisible());
    EXPECT_EQ(gate.focusWidget(), field) << "typing goes on in the window";
    EXPECT_EQ(gate.loginForm(), nullptr) << "the form's state goes with it";

    gate.setAuthState({.isAuthenticated = false, .errorMessage = "Session expired"});
    ASSERT_NE(gate.loginForm(), nullptr);
    EXPECT_FALSE(gate.showsAppContent());
    EXPECT_TRUE(gate.loginForm()->emailField()->edit()->text().isEmpty());
    EXPECT_EQ(gate.loginForm()->errorLabel()->text(), "Session expired");
    EXPECT_FALSE(gate.noticeLabel()->isVisible());

    // What is said of the session stays in sight on either side of the gate: a sign-in the disk
    // refused to store was said only by the form, which goes at once on success.
    for (const bool signedIn : {true, false}) {
        gate.setAuthState({.isAuthenticated = signedIn, .notice = "The session could not be saved"});
        EXPECT_TRUE(gate.noticeLabel()->isVisible()) << signedIn;
        EXPECT_EQ(gate.noticeLabel()->text(), "The session could not be saved");
        EXPECT_EQ(gate.showsAppContent(), signedIn);
    }
    gate.setAuthState({.isAuthenticated = true});
    EXPECT_FALSE(gate.noticeLabel()->isVisible());
}

// Answers the password grant once the test lets it, so the busy form can be looked at.
class GatedTransport final : public http::HTTPTransport {
public:
    http::HTTPClientResponse send(const http::HTTPClientRequest& request, std::stop_token) override {
        ++calls;
        body = request.body.value_or("");
        released.wait();
        return {200, R"({"access_token":"a.eyJleHAiOjQxMDI0NDQ4MDB9.c","refresh_token":"r","user":{"email":"me@example.com"}})"};
    }
    std::atomic<int> calls{0};
    std::string body;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
};

TEST(SignInGate, SignsInThroughTheServiceOffTheWindowsThread) {
    testing::ensureApplication();
    testing::TempHome home;
    auto transport = std::make_shared<GatedTransport>();
    networking::BackendConfiguration configuration;
    networking::AuthService auth(configuration, transport);
    auto* content = new QLabel("the window");
    std::vector<std::string> opened;
    std::unique_ptr<SignInGate> gate(SignInGate::forAuthService(
        auth, content, "https://site.test", [&](const std::string& url) { opened.push_back(url); }));
    gate->show();
    LoginForm* form = gate->loginForm();
    ASSERT_NE(form, nullptr);
    form->emailField()->edit()->setText("me@example.com");
    form->passwordField()->edit()->setText("pw");
    form->signupButton()->click();
    EXPECT_EQ(opened, std::vector<std::string>{"https://site.test/signup"});

    pressReturn(form->passwordField()->edit());
    EXPECT_TRUE(form->signInButton()->isLoading());
    EXPECT_FALSE(form->signInButton()->isEnabled());
    pressReturn(form->passwordField()->edit());  // the second Return sends nothing

    transport->release.set_value();
    EXPECT_TRUE(testing::pumpUntil([&] { return gate->showsAppContent(); }));  // for the request's thread
    EXPECT_EQ(transport->calls, 1);
    EXPECT_NE(transport->body.find("\"me@example.com\""), std::string::npos);
    EXPECT_TRUE(auth.isAuthenticated());

    auth.signOut();
    gate->authServiceChanged();
    ASSERT_NE(gate->loginForm(), nullptr);
    EXPECT_TRUE(gate->loginForm()->passwordField()->edit()->text().isEmpty());
}

}  // namespace
}  // namespace corvane
