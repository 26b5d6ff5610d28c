#pragma once

// The songs sidebar, the window's left column: one row per Logic Pro project with chats (the
// open one first, marked with a green dot), a row for the chats of no project, and the
// "Account" entry that opens the account sheet. It reads the view model's values through
// setState() and writes only the navigation.

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "widgets/sidebar_rows.h"

class QLabel;
class QVBoxLayout;

namespace corvane {

class HoverButton;

class SidebarView : public QWidget {
public:
    static constexpr int kWidth = 210;  // the window shell places it at this width

    struct Actions {
        // Assigns ChatViewModel::navigation.
        std::function<void(const NavigationState&)> setNavigation;
        // After every row click, with the row's project (none for "No project").
        std::function<void(const std::optional<std::string>&)> onNavigate;
        // The account sheet, created anew each time it is opened.
        std::function<QDialog*(QWidget* parent)> makeSettingsSheet;
    };

    explicit SidebarView(Actions actions, QWidget* parent = nullptr);

    void setState(SidebarState state);
    const std::vector<SidebarRow>& rows() const { return rows_; }

    // The "Account" entry: presents the sheet; dismissing it in any way closes it.
    void openSettings();
    bool showingSettings() const { return !settings_.isNull(); }
    QDialog* settingsSheet() const { return settings_; }
    // The sign-in state changed: an open account sheet shows the new e-mail.
    void authChanged();

    // For the window's tests.
    HoverButton* rowButton(std::size_t index) const {
        return index < rowButtons_.size() ? rowButtons_[index] : nullptr;
    }
    HoverButton* accountButton() const { return account_; }
    QLabel* headerLabel() const { return headerLabel_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuildRows();
    void click(const std::optional<std::string>& projectName);

    Actions actions_;
    SidebarState state_;
    std::vector<SidebarRow> rows_;
    std::vector<HoverButton*> rowButtons_;
    QVBoxLayout* list_ = nullptr;
    QLabel* headerLabel_ = nullptr;
    HoverButton* account_ = nullptr;
    QPointer<QDialog> settings_;
};

}  // namespace corvane
