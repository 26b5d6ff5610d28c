#pragma once

#include <QLabel>
#include <QPointer>
#include <QStackedLayout>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "widgets/login_form.h"

namespace corvane {

namespace networking {
class AuthService;
}

// The main window's outermost view: the app content once signed in, the sign-in form until then.
// The switch is immediate; each time the form comes back it is a fresh one, with empty fields.
class SignInGate : public QWidget {
public:
    struct AuthState {
        bool isAuthenticated = false;
        bool isLoading = false;
        std::optional<std::string> errorMessage = {};
        // What is said of the session above the form or the content: kept in memory only, a
        // sign-out not finished, a session the service ended.
        std::optional<std::string> notice = {};
    };

    // `siteURL` is the maker's site (scheme and host) the form's two links point into.
    SignInGate(QWidget* appContent, LoginForm::Actions actions, const std::string& siteURL, QWidget* parent = nullptr);
    ~SignInGate() override;

    void setAuthState(const AuthState& state);

    // Bound to the shared sign-in service: the form's sign-in runs on a thread of its own (the
    // service blocks); links go to `openURL`, else to the platform workspace. The service's
    // observer must call authServiceChanged() on the UI thread.
    static SignInGate* forAuthService(networking::AuthService& auth, QWidget* appContent, const std::string& siteURL,
                                      std::function<void(const std::string& url)> openURL = {},
                                      QWidget* parent = nullptr);
    void authServiceChanged();

    QWidget* appContent() const { return content_; }
    LoginForm* loginForm() const { return form_; }  // null while signed in
    bool showsAppContent() const { return stack_->currentWidget() == content_; }
    QLabel* noticeLabel() const { return notice_; }  // hidden while there is nothing to say

    static constexpr const char* kSignupPath = "/signup";
    static constexpr const char* kForgotPasswordPath = "/forgot-password";

private:
    SignInGate(QWidget* appContent, LoginForm::Actions actions, const std::string& siteURL,
               networking::AuthService* auth, QWidget* parent);
    void signIn(const std::string& email, const std::string& password);

    QLabel* notice_;
    QStackedLayout* stack_;
    QWidget* content_;
    QPointer<LoginForm> form_;
    LoginForm::Actions actions_;
    std::string signupURL_;
    std::string forgotURL_;

    networking::AuthService* auth_;
    bool requestRunning_ = false;  // from the click until the service answered, on the UI thread
    QTimer* answered_ = nullptr;   // started from the request's thread once the service answered
    std::jthread request_;
};

}  // namespace corvane
