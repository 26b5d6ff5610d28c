#pragma once

// The account sheet opened from the sidebar's "Account" entry: who is signed in, a way to the
// account dashboard in the browser, and signing out after a confirmation.

#include <QDialog>
#include <functional>
#include <string>

#include "networking/auth_service.h"

class QMessageBox;
class QPushButton;

namespace corvane {

class ElidedLabel;
class HoverButton;

class SettingsView : public QDialog {
public:
    using OpenURL = std::function<void(const std::string& url)>;

    // `openURL` hands the dashboard address to the system's browser; `stopTurns` stops the
    // window's running turn, as its Stop does, before the sign-in it works with goes.
    SettingsView(networking::AuthService& authService, std::string dashboardURL, OpenURL openURL,
                 std::function<void()> stopTurns = {}, QWidget* parent = nullptr);

    // Reads the signed-in e-mail again; the window calls it when the sign-in state changed.
    void refresh();

    // The sign-out row: asks first.
    void requestSignOut();
    bool showingSignOutConfirmation() const;

    // For the window's tests.
    QString emailText() const;
    ElidedLabel* emailLabel() const { return email_; }
    HoverButton* closeButton() const { return close_; }
    HoverButton* dashboardRow() const { return dashboard_; }
    HoverButton* signOutRow() const { return signOut_; }
    QMessageBox* confirmation() const { return confirmation_; }
    QPushButton* confirmSignOutButton() const { return confirmSignOut_; }
    QPushButton* cancelSignOutButton() const { return cancelSignOut_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    networking::AuthService& authService_;
    std::string dashboardURL_;
    OpenURL openURL_;
    std::function<void()> stopTurns_;
    ElidedLabel* email_ = nullptr;
    HoverButton* close_ = nullptr;
    HoverButton* dashboard_ = nullptr;
    HoverButton* signOut_ = nullptr;
    QMessageBox* confirmation_ = nullptr;
    QPushButton* confirmSignOut_ = nullptr;
    QPushButton* cancelSignOut_ = nullptr;
};

}  // namespace corvane
