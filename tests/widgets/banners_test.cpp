#include "widgets/banners.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <vector>

#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

using corvane::testing::click;

TEST(Banners, ButtonsHandTheirAddressesToTheOpener) {
    testing::ensureApplication();
    std::vector<std::string> opened;
    int dismissals = 0;
    auto opener = [&](const std::string& url) { opened.push_back(url); };
    AccessibilityBanner accessibility(opener);
    PluginMissingBanner plugin("https://corvane.app", opener, [&] { ++dismissals; });
    for (QWidget* banner : {static_cast<QWidget*>(&accessibility), static_cast<QWidget*>(&plugin)}) {
        banner->setAttribute(Qt::WA_DontShowOnScreen);
        banner->resize(700, 50);
        banner->show();
    }
    click(*accessibility.enableButton());
    click(*plugin.installButton());
    click(*plugin.dismissButton());
    const std::vector<std::string> expected{
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility",
        "https://corvane.app/download"};
    EXPECT_EQ(opened, expected);
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(plugin.dismissButton()->toolTip(), "Dismiss");
    EXPECT_EQ(plugin.installButton()->text(), "Install instructions \u2192");
}

TEST(Banners, NoDownloadPageWithoutAUsableSiteAddress) {
    testing::ensureApplication();
    std::vector<std::string> opened;
    PluginMissingBanner plugin(
        "not a site", [&](const std::string& url) { opened.push_back(url); }, [] {});
    plugin.installButton()->click();
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(PluginMissingBanner::downloadURL(""), "");
}

// The banners' fills and lines, as sRGB out of 255 at their opacities over black.
TEST(Banners, PaintTheirWarningColours) {
    testing::ensureApplication();
    AccessibilityBanner banner([](const std::string&) {});
    const QImage image = testing::render(banner, 600);
    const QColor fill = testing::at(image, 300, 2);
    EXPECT_NEAR(fill.red(), 160 * 0.18, 2);
    EXPECT_NEAR(fill.green(), 40 * 0.18, 2);
    const QColor line = testing::at(image, 300, image.height() - 1);
    EXPECT_NEAR(line.red(), 255 * 0.3 + 160 * 0.18 * 0.7, 3);
}

}  // namespace
}  // namespace corvane
