#pragma once

// The warnings above the page or chat: what could not be done (the local API not served, a
// change not saved), Accessibility permission missing, and no analysis plug-in reporting yet.
// Each hands its address to the URL opener it is given.

#include <QStringList>
#include <QVBoxLayout>
#include <functional>
#include <string>
#include <vector>

#include "widgets/widget_parts.h"

namespace corvane {

using URLOpener = std::function<void(const std::string& url)>;

class AccessibilityBanner : public PaintedBox {
public:
    static constexpr const char* kSettingsURL =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

    explicit AccessibilityBanner(URLOpener openURL, QWidget* parent = nullptr);
    TextButton* enableButton() const { return enable_; }

private:
    TextButton* enable_;
};

// Something the user asked for or relies on did not happen: a title and the reason in full.
// With `dismiss`, a close button calls it; without, it stays as long as its problem does.
class ProblemBanner : public PaintedBox {
public:
    explicit ProblemBanner(const QString& title, std::function<void()> dismiss = nullptr, QWidget* parent = nullptr);
    void setProblem(const std::string& problem);
    QString problem() const;
    QWidget* dismissButton() const { return dismiss_; }

private:
    QLabel* detail_;
    QWidget* dismiss_ = nullptr;
};

// Something the user did went through (a report was sent): a quiet line that the caller shows for
// a few seconds.
class ConfirmationBanner : public PaintedBox {
public:
    explicit ConfirmationBanner(const QString& text, QWidget* parent = nullptr);
    QString text() const;

private:
    QLabel* text_;
};

// The status line under the chat: what the window is doing or last did, in one quiet line, and
// the failures told since the user's last action, each on a line of its own with a warning sign,
// kept in sight while later progress goes on under them.
class StatusLine : public QWidget {
public:
    explicit StatusLine(QWidget* parent = nullptr);
    // Failures in the order they came; the message shows under them while `busy`, and alone when
    // there are none.
    void setState(const std::string& message, const std::vector<std::string>& failures, bool busy);
    // The lines shown, top to bottom.
    QStringList lines() const;
    // Which of them are failures.
    int failureCount() const { return failureCount_; }

private:
    QVBoxLayout* column_;
    std::vector<QWidget*> rows_;
    QStringList lines_;
    int failureCount_ = 0;
};

class PluginMissingBanner : public PaintedBox {
public:
    // The download page is `siteURL` followed by "/download".
    PluginMissingBanner(std::string siteURL, URLOpener openURL, std::function<void()> dismiss,
                        QWidget* parent = nullptr);
    TextButton* installButton() const { return install_; }
    QWidget* dismissButton() const { return dismiss_; }
    // The download page's address; empty when none can be formed from the site's address.
    static std::string downloadURL(const std::string& siteURL);

private:
    TextButton* install_;
    QWidget* dismiss_;
};

}  // namespace corvane
