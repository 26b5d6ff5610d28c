#pragma once

#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/input.h"
#include "platform/main_queue.h"
#include "platform/screen_capture.h"
#include "platform/workspace.h"

namespace corvane::platform {

// The services in place of the host's frameworks. The composition root installs one set;
// code above this layer reaches them only through these accessors.
struct Services {
    Accessibility* accessibility = nullptr;
    Input* input = nullptr;
    Workspace* workspace = nullptr;
    ScreenCapture* screenCapture = nullptr;
    Clock* clock = nullptr;
    MainQueue* mainQueue = nullptr;
};

Accessibility& accessibility();
Input& input();
Workspace& workspace();
ScreenCapture& screenCapture();
Clock& clock();
MainQueue& mainQueue();

// Installs services; null members fall back to the defaults (a real clock, a host without
// Logic Pro, a main queue on its own thread). Returns what was installed before.
Services install(const Services& services);
Services installed();

// Installs services for a scope and restores the previous ones after.
class ScopedServices {
public:
    explicit ScopedServices(const Services& services) : previous_(install(services)) {}
    ~ScopedServices() { install(previous_); }
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;

private:
    Services previous_;
};

}  // namespace corvane::platform
