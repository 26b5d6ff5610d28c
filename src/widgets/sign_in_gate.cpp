#include "widgets/sign_in_gate.h"

#include <QMetaObject>
#include <QTimer>
#include <QVBoxLayout>

#include "networking/auth_service.h"
#include "platform/platform.h"
#include "widgets/widget_parts.h"

namespace corvane {

SignInGate::SignInGate(QWidget* appContent, LoginForm::Actions actions, const std::string& siteURL, QWidget* parent)
    : SignInGate(appContent, std::move(actions), siteURL, nullptr, parent) {}

SignInGate::SignInGate(QWidget* appContent, LoginForm::Actions actions, const std::string& siteURL,
                       networking::AuthService* auth, QWidget* parent)
    : QWidget(parent),
      notice_(makeLabel(QString(), uiFont(12), white(0.9))),
      stack_(new QStackedLayout),
      content_(appContent),
      actions_(std::move(actions)),
      signupURL_(siteURL + kSignupPath),
      forgotURL_(siteURL + kForgotPasswordPath),
      auth_(auth) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // Over the form and the content alike: the user is told where they are after signing in or out.
    notice_->setWordWrap(true);
    notice_->setContentsMargins(16, 8, 16, 8);
    notice_->setAutoFillBackground(true);
    QPalette palette = notice_->palette();
    palette.setColor(QPalette::Window, rgb255(120, 78, 8));
    notice_->setPalette(palette);
    notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice_->hide();
    column->addWidget(notice_);
    column->addLayout(stack_, 1);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->addWidget(content_);
    if (auth_) {
        if (!actions_.onOpenURL)
            actions_.onOpenURL = [](const std::string& url) { platform::workspace().openURL(url); };
        actions_.onSubmit = [this](const std::string& email, const std::string& password) { signIn(email, password); };
        answered_ = new QTimer(this);
        answered_->setSingleShot(true);
        answered_->setInterval(0);
        connect(answered_, &QTimer::timeout, this, [this] {
            requestRunning_ = false;
            authServiceChanged();
        });
        authServiceChanged();
    } else {
        setAuthState({});
    }
}

SignInGate::~SignInGate() = default;

void SignInGate::setAuthState(const AuthState& state) {
    notice_->setText(state.notice ? QString::fromStdString(*state.notice) : QString());
    notice_->setVisible(state.notice.has_value());
    if (state.isAuthenticated) {
        // The form had the focus: typing goes on in the content (its field), not nowhere.
        const bool formShown = form_ && stack_->currentWidget() == form_;
        stack_->setCurrentWidget(content_);
        delete form_.data();
        if (formShown) content_->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!form_) {
        form_ = new LoginForm(actions_, signupURL_, forgotURL_);
        stack_->addWidget(form_);
    }
    form_->setLoading(state.isLoading || requestRunning_);
    form_->setErrorMessage(state.errorMessage);
    stack_->setCurrentWidget(form_);
}

SignInGate* SignInGate::forAuthService(networking::AuthService& auth, QWidget* appContent, const std::string& siteURL,
                                       std::function<void(const std::string& url)> openURL, QWidget* parent) {
    return new SignInGate(appContent, {{}, std::move(openURL)}, siteURL, &auth, parent);
}

void SignInGate::authServiceChanged() {
    if (!auth_) return;
    setAuthState({auth_->isAuthenticated(), auth_->isLoading(), auth_->errorMessage(), auth_->notice()});
}

// The service blocks for its answer, so it is asked off the UI thread. Until that thread is done
// the form counts as busy, so a second Return cannot start a second request before the service
// has raised its own loading flag.
void SignInGate::signIn(const std::string& email, const std::string& password) {
    if (!auth_ || requestRunning_) return;
    requestRunning_ = true;
    authServiceChanged();
    if (request_.joinable()) request_.join();
    request_ = std::jthread([this, email, password] {
        auth_->signIn(email, password);
        // A queued call that Qt builds in its own library: nothing made on this thread is read
        // on the UI thread through Qt's queue, which the race detector cannot see.
        QMetaObject::invokeMethod(answered_, "start", Qt::QueuedConnection);
    });
}

}  // namespace corvane
