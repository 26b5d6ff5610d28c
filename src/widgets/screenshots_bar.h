#pragma once

// Sample views of the input bar, the sidebar and the account sheet for corvane-screenshots.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

struct BarScreenshot {
    const char* name;
    int width;
    std::function<std::unique_ptr<QWidget>()> make;
};

std::vector<BarScreenshot> barScreenshots();

}  // namespace corvane
