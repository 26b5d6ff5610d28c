#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace corvane {

// The window shell's views with sample data, for corvane-screenshots.
struct ShellScreenshot {
    const char* name;
    int width;
    std::function<std::unique_ptr<QWidget>()> make;
};
std::vector<ShellScreenshot> shellScreenshots();

}  // namespace corvane
