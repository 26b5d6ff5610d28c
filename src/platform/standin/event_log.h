#pragma once

// The stand-in's record of everything done to it, with virtual timestamps.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "platform/input.h"

namespace corvane::standin {

enum class EventKind {
    key,
    mouse,
    warp,
    axAction,
    axWrite,
    activation,  // a request to activate an application, or a change of the frontmost one
    appleScript,
    hide,
    launch,
    quit,
    capture,
    openURL,
    permissionPrompt,
    analysisPost,     // a post of the analysis plug-in; `name` the instance, `code` the status, `outcome`
                      // delivered/dropped
    permissionCheck,  // a preflight or request of a permission; `route` says which, `outcome` the answer
};

struct Event {
    double time = 0;  // virtual seconds since the scenario epoch
    EventKind kind = EventKind::key;
    // Keys: "process" or "hid". Mouse: "process", "hid" (reached Logic) or "stray".
    std::string route;
    int pid = 0;  // the target process
    // Keys.
    std::uint16_t keyCode = 0;
    bool keyDown = true;
    std::uint64_t flags = 0;
    std::string text;  // the Unicode text of a key, UTF-8
    // Mouse and warp.
    platform::MouseEventType mouseType = platform::MouseEventType::moved;
    platform::Point point;
    // AX and mouse: the element as "<role> \"<description>\"", the action or attribute in `name`, the result code.
    std::string element;
    // Where that element sits, so that same-named elements can be told apart: the window's title, then
    // each ancestor below it and the element itself as role, description and index among its siblings,
    // e.g. window "Demo Song - Tracks" > AXGroup "Inspector"[2] > ... > AXButton "open"[2].
    std::string place;
    // Activation: the options the request carried (absent for the AppleScript route and frontmost changes).
    std::optional<unsigned> options;
    std::string name;  // action, attribute, script source, capture request, URL, prompt kind
    int code = 0;
    // What the stand-in did with it: "handled", "unhandled", "ignored", "dropped", "swallowed", "click",
    // "missed", "delayed", ... plus free detail.
    std::string outcome;
    std::string detail;
};

// The events in the order they happened. Tests keep every one; a program that runs for days keeps
// only the most recent `limit`, since every health check adds one.
class EventLog {
public:
    void setLimit(std::size_t limit) {  // 0: no limit
        limit_ = limit;
        trim();
    }
    void push_back(Event e) {
        events_.push_back(std::move(e));
        trim();
    }
    void clear() { events_.clear(); }
    std::size_t size() const { return events_.size(); }
    auto begin() const { return events_.begin(); }
    auto end() const { return events_.end(); }
    std::vector<Event> events() const { return {events_.begin(), events_.end()}; }

private:
    void trim() {
        while (limit_ != 0 && events_.size() > limit_) events_.pop_front();
    }
    std::deque<Event> events_;
    std::size_t limit_ = 0;
};

std::string to_string(EventKind kind);
std::string describe(const Event& e);

}  // namespace corvane::standin
