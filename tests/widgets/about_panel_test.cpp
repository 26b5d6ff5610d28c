#include "widgets/about_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include "widget_pixels.h"

namespace corvane {
namespace {

TEST(AboutView, VersionLineShowsADashForEachMissingPart) {
    const struct {
        std::optional<std::string> version, build;
        const char* line;
    } cases[] = {
        {"0.1.2", "3", "Version 0.1.2 (3)"},
        {"0.1.2", std::nullopt, "Version 0.1.2 (\u2014)"},
        {std::nullopt, std::nullopt, "Version \u2014 (\u2014)"},
    };
    for (const auto& c : cases) EXPECT_EQ(AboutView::versionLine(c.version, c.build), c.line);
}

TEST(AboutPanel, IsBuiltOnceAndShownAgainWithTheSameView) {
    testing::ensureApplication();
    int checks = 0;
    AboutPanel panel([&] { ++checks; }, "0.1.2", "3");
    panel.show();
    QWidget* window = panel.window();
    AboutView* view = panel.view();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "About Corvane");
    EXPECT_EQ(window->size(), QSize(320, 380));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));

    bool versionShown = false;
    for (const QLabel* label : view->findChildren<QLabel*>()) versionShown |= label->text() == "Version 0.1.2 (3)";
    EXPECT_TRUE(versionShown);

    window->close();
    panel.show();
    EXPECT_EQ(panel.window(), window);
    EXPECT_EQ(panel.view(), view);
    EXPECT_TRUE(window->isVisible());

    EXPECT_EQ(view->updateButton()->text(), "Check for Updates\u2026");
    EXPECT_FALSE(view->updateButton()->autoDefault());
    view->updateButton()->click();
    EXPECT_EQ(checks, 1);
}

}  // namespace
}  // namespace corvane
