#pragma once

// The warnings above the page or chat: the local API not served, Accessibility permission
// missing, and no analysis plug-in reporting yet. Each hands its address to the URL opener it is given.

#include <functional>
#include <string>

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

// The local API could not be served: why, in full, for as long as the program runs.
class LoopbackBanner : public PaintedBox {
public:
    explicit LoopbackBanner(QWidget* parent = nullptr);
    void setProblem(const std::string& problem);
    QString problem() const;

private:
    QLabel* detail_;
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
