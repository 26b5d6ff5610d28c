#pragma once

#include <QWidget>
#include <memory>

namespace corvane {

// Sample views of the project page and its sheets for corvane-screenshots.
std::unique_ptr<QWidget> projectPageScreenshot();
std::unique_ptr<QWidget> emptyProjectPageScreenshot();
std::unique_ptr<QWidget> reportSheetScreenshot();
std::unique_ptr<QWidget> reportSheetNotSentScreenshot();
std::unique_ptr<QWidget> songBriefSheetScreenshot();

}  // namespace corvane
