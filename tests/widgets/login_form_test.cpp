#include "widgets/login_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <vector>

#include "transcript/theme.h"
#include "widgets/agent_overlay.h"
#include "widgets/diagram_painter.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

void pressReturn(QWidget* target) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(target, &release);
}

void click(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

struct Submitted {
    std::string email, password;
    bool operator==(const Submitted&) const = default;
};

class LoginFormTest : public ::testing::Test {
protected:
    LoginFormTest() {
        testing::ensureApplication();
        form =
            std::make_unique<LoginForm>(LoginForm::Actions{[this](const std::string& e, const std::string& p) {
                                                               sent.push_back({e, p});
                                                           },
                                                           [this](const std::string& url) { opened.push_back(url); }},
                                        "https://site.test/signup", "https://site.test/forgot-password");
        form->resize(800, 600);
        form->show();
    }
    void type(const QString& email, const QString& password) {
        form->emailField()->edit()->setText(email);
        form->passwordField()->edit()->setText(password);
    }

    std::unique_ptr<LoginForm> form;
    std::vector<Submitted> sent;
    std::vector<std::string> opened;
};

TEST_F(LoginFormTest, NothingIsSentWhileAFieldIsEmptyOrARequestRuns) {
    const struct {
        const char* email;
        const char* password;
        bool loading;
        bool usable;
    } cases[] = {
        {"", "", false, false},       {"a@b.c", "", false, false},  {"", "pw", false, false},
        {"a@b.c", "pw", true, false}, {"a@b.c", "pw", false, true},
    };
    for (const auto& c : cases) {
        sent.clear();
        type(c.email, c.password);
        form->setLoading(c.loading);
        SignInButton* button = form->signInButton();
        EXPECT_EQ(button->isEnabled(), c.usable) << c.email << "/" << c.password << c.loading;
        EXPECT_NEAR(button->background().alphaF(), c.usable ? 1.0 : 0.4, 0.01);
        EXPECT_EQ(button->spinner()->isVisible(), c.loading);
        EXPECT_EQ(button->text(), "Sign In") << "the title stays while busy";
        click(button);
        pressReturn(form->emailField()->edit());
        pressReturn(form->passwordField()->edit());
        EXPECT_EQ(sent.size(), c.usable ? 3u : 0u);
    }
}

TEST_F(LoginFormTest, TheTextsGoOutExactlyAsTypedOnTheFirstReturn) {
    form->emailField()->edit()->setFocus();
    type("  ", " Secret ");
    pressReturn(form->emailField()->edit());
    EXPECT_EQ(sent, (std::vector<Submitted>{{"  ", " Secret "}}));
    EXPECT_EQ(form->passwordField()->edit()->text(), " Secret ") << "nothing is cleared after sending";
}

TEST_F(LoginFormTest, FailuresWrapCentredInTheColumnUntilReplaced) {
    EXPECT_FALSE(form->errorLabel()->isVisible());
    QApplication::processEvents();
    const int fieldHeight = form->emailField()->height();
    std::string longText;
    for (int i = 0; i < 6; ++i) longText += "Network error. Check your connection. ";
    form->setErrorMessage(longText);
    QApplication::processEvents();
    QLabel* error = form->errorLabel();
    EXPECT_TRUE(error->isVisible());
    EXPECT_TRUE(error->wordWrap());
    EXPECT_TRUE(error->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_EQ(error->width(), 320) << "the field column is at most 320 wide";
    EXPECT_GE(error->height(), 2 * error->fontMetrics().height()) << "it wraps";
    EXPECT_EQ(form->emailField()->height(), fieldHeight) << "the wrapped text squeezes nothing";
    EXPECT_EQ(form->emailField()->width(), 320);
    type("a", "b");
    EXPECT_TRUE(error->isVisible()) << "typing does not clear it";
    form->setErrorMessage(std::nullopt);
    EXPECT_FALSE(error->isVisible());
    // The message comes from the sign-in service: markup in it is shown, never followed.
    form->setErrorMessage("<a href=\"https://elsewhere.example\">Reset here</a>");
    EXPECT_EQ(error->textFormat(), Qt::PlainText);

    form->resize(300, 600);
    QApplication::processEvents();
    EXPECT_EQ(form->emailField()->width(), 300 - 64) << "narrower windows shrink the column";
}

TEST_F(LoginFormTest, TheFocusedFieldIsOutlinedInTheButtonBlue) {
    form->activateWindow();
    form->passwordField()->edit()->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(form->passwordField()->edit()->hasFocus());
    EXPECT_EQ(form->passwordField()->outlineColor(), toQColor(CorvaneTheme::primaryButton));
    EXPECT_EQ(form->passwordField()->outlineWidth(), 1.5);
    EXPECT_EQ(form->emailField()->outlineColor(), toQColor(CorvaneTheme::surfaceBorder));
    EXPECT_EQ(form->emailField()->outlineWidth(), 1);
    EXPECT_EQ(form->passwordField()->edit()->echoMode(), QLineEdit::Password);
}

TEST_F(LoginFormTest, TheLinksOpenTheirPages) {
    click(form->forgotButton());
    click(form->signupButton());
    EXPECT_EQ(opened, (std::vector<std::string>{"https://site.test/forgot-password", "https://site.test/signup"}));
    EXPECT_EQ(form->forgotButton()->text(), "Forgot your password?");
    EXPECT_FALSE(form->signInButton()->autoDefault());
}

}  // namespace
}  // namespace corvane
