#pragma once

#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

// The About panel's content: the mark, the name, the version and build, a line on what Corvane
// is, the update check and the maker's notice.
class AboutView : public QWidget {
public:
    AboutView(std::function<void()> checkForUpdates, std::optional<std::string> shortVersion,
              std::optional<std::string> build, QWidget* parent = nullptr);

    // "Version 0.1.2 (3)"; a missing part shows as an em dash.
    static std::string versionLine(const std::optional<std::string>& shortVersion,
                                   const std::optional<std::string>& build);

    QPushButton* updateButton() const { return update_; }

    static constexpr int kWidth = 320;
    static constexpr int kHeight = 380;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void()> checkForUpdates_;
    QPushButton* update_;
};

// "About Corvane": one panel, built on first use and shown again (centred, in front) on each later
// one; closing only hides it.
class AboutPanel {
public:
    AboutPanel(std::function<void()> checkForUpdates, std::optional<std::string> shortVersion,
               std::optional<std::string> build);
    ~AboutPanel();
    AboutPanel(const AboutPanel&) = delete;
    AboutPanel& operator=(const AboutPanel&) = delete;

    // The menu item's action.
    void show();
    QWidget* window() const { return window_.get(); }
    AboutView* view() const { return view_; }

private:
    std::function<void()> checkForUpdates_;
    std::optional<std::string> shortVersion_;
    std::optional<std::string> build_;
    std::unique_ptr<QWidget> window_;
    AboutView* view_ = nullptr;
};

}  // namespace corvane
