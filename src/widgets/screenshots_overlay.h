#pragma once

#include <QWidget>
#include <memory>

namespace corvane::screenshots {

// Sample views of the sign-in form, the About panel and the agent overlay, at window size.
std::unique_ptr<QWidget> signInForm();
std::unique_ptr<QWidget> signInFormBusy();
std::unique_ptr<QWidget> aboutPanel();
std::unique_ptr<QWidget> agentOverlay();

}  // namespace corvane::screenshots
