#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

namespace corvane {

class OverlaySpinner;

// One input of the form: a bezel-less line edit on a rounded field whose outline shows focus.
class LoginField : public QWidget {
public:
    LoginField(const QString& placeholder, bool secure, QWidget* parent = nullptr);
    QLineEdit* edit() const { return edit_; }
    QColor outlineColor() const;
    double outlineWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edit_;
};

// The bar that signs in: "Sign In", with a spinner on its left while a request runs, dimmed while
// it cannot be used.
class SignInButton : public QPushButton {
public:
    explicit SignInButton(QWidget* parent = nullptr);
    void setLoading(bool loading);
    bool isLoading() const { return loading_; }
    OverlaySpinner* spinner() const { return spinner_; }
    QSize sizeHint() const override;
    QColor background() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeSpinner();
    OverlaySpinner* spinner_;
    bool loading_ = false;
};

// The sign-in form: takes the service's loading flag and last error, and hands the two texts to
// `onSubmit` exactly as typed. Its fields live as long as the form.
class LoginForm : public QWidget {
public:
    struct Actions {
        std::function<void(const std::string& email, const std::string& password)> onSubmit;
        std::function<void(const std::string& url)> onOpenURL;
    };
    LoginForm(Actions actions, std::string signupURL, std::string forgotURL, QWidget* parent = nullptr);

    void setLoading(bool loading);
    void setErrorMessage(const std::optional<std::string>& message);
    // Return in either field and the button come here; nothing happens while a field is empty or a
    // request runs.
    void submit();

    LoginField* emailField() const { return email_; }
    LoginField* passwordField() const { return password_; }
    SignInButton* signInButton() const { return button_; }
    QLabel* errorLabel() const { return error_; }
    QPushButton* forgotButton() const { return forgot_; }
    QPushButton* signupButton() const { return signup_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateButton();

    Actions actions_;
    std::string signupURL_;
    std::string forgotURL_;
    bool loading_ = false;
    LoginField* email_;
    LoginField* password_;
    QLabel* error_;
    SignInButton* button_;
    QPushButton* forgot_;
    QPushButton* signup_;
};

}  // namespace corvane
