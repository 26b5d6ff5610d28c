#include <fmt/format.h>

#include <algorithm>
#include <functional>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/key_codes.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

using ax_read::blanksForLineSeparators;
using ax_read::trimmed;
using ax_read::wholeNumber;

bool LogicInspector::isLogicMainWindowTitle(const std::string& title) {
    return title.find("- Tracks") != std::string::npos || title.find("- Mixer") != std::string::npos;
}

namespace {

// What each element of a level is read with, its siblings in the same round trip: what the walks
// of the main window that follow ask of the same elements (the header walk its frame and selection,
// the transport's its value), so that they find those answers kept.
const std::vector<std::string> kLevelReads{ax::kRole,     ax::kDescription, ax::kTitle, ax::kChildren,
                                           ax::kPosition, ax::kSize,        ax::kValue, ax::kSelected};

// Menus, the control bar and a Mixer area's strips hold none of a window's own areas.
bool holdsNoLayoutArea(const AXElement& e, const std::string& description) {
    const std::string role = textOf(e, ax::kRole);
    return role == "AXMenuBar" || role == "AXMenu" || (role == "AXLayoutArea" && description == "Mixer") ||
           (role == "AXGroup" && description == "Control Bar");
}

// The first element, level by level from depth 1 to maxDepth-1, whose trimmed description
// `accepts` takes.
std::optional<AXElement> nearest(const AXElement& in, int maxDepth,
                                 const std::function<bool(const AXElement&, const std::string&)>& accepts) {
    std::vector<AXElement> level{in};
    for (int depth = 1; depth < maxDepth && !level.empty(); ++depth) {
        std::vector<AXElement> below;
        for (const auto& parent : level) {
            parent.prefetchChildren(kLevelReads);
            for (const auto& e : parent.children()) {
                const std::string described = trimmed(e, ax::kDescription);
                if (accepts(e, described)) return e;
                if (holdsNoLayoutArea(e, described)) continue;
                // Read with the element's siblings: a leaf costs nothing more.
                if (auto children = e.elements(ax::kChildren); children && !children->empty()) below.push_back(e);
            }
        }
        level = std::move(below);
    }
    return std::nullopt;
}

}  // namespace

std::optional<AXElement> LogicInspector::findNearestDescendant(
    const AXElement& in, const std::string& description, int maxDepth,
    const std::function<bool(const AXElement&)>& accepts) const {
    return nearest(in, maxDepth, [&](const AXElement& e, const std::string& described) {
        return described == description && (!accepts || accepts(e));
    });
}

std::optional<AXElement> LogicInspector::findMainWindow() const {
    auto logic = logicApplication();
    if (!logic) return std::nullopt;
    // The application's handle stands for its process, so it is kept while places are.
    auto& kept = detail::keptPlaces();
    const bool keptApp = kept.open > 0 && kept.application && kept.applicationPid == logic->processIdentifier;
    AXElement app = keptApp ? kept.application : platform::accessibility().applicationElement(logic->processIdentifier);
    // A read that failed is kept for the rest of the call, yet Logic Pro often answers it the next
    // time: only a failure is read again, from the application down, a few times.
    constexpr int kReadsAfterFailure = 3;
    for (int attempt = 0;; ++attempt) {
        auto windows = app.elements(ax::kWindows);
        if (!windows && (keptApp || attempt > 0)) {  // a process that went away took its handle with it
            // The kept handle's failure is kept for this call too, and a new handle is the same element.
            platform::invalidateAccessibilityReads();
            app = platform::accessibility().applicationElement(logic->processIdentifier);
            windows = app.elements(ax::kWindows);
        }
        if (kept.open > 0) {
            kept.application = app;
            kept.applicationPid = logic->processIdentifier;
            kept.applicationChecked = windows.has_value();
        }
        bool readFailed = !windows;
        std::vector<AXElement> withoutTracks;  // asked whether they could be read only when none is the one
        if (windows) {
            // The handle just listed, not the one kept: the same element, yet one read too often may go stale.
            if (kept.open > 0 && kept.mainWindow)
                if (const auto listed = std::find(windows->begin(), windows->end(), kept.mainWindow);
                    listed != windows->end())
                    return kept.mainWindow = *listed;
            // Only Logic Pro's own window titles: a plug-in window of a track named "Drum Tracks" must
            // never be taken for the main window. Of those, the one with the track list: Logic Pro's
            // Mixer window, often in front, has a title of the same kind and only channel strips.
            for (const auto& w : *windows) {
                const auto title = w.string(ax::kTitle);
                if (!title) readFailed = true;
                if (!title || !isLogicMainWindowTitle(*title)) continue;
                if (!holdsTracksArea(w)) {
                    withoutTracks.push_back(w);
                    continue;
                }
                if (kept.open > 0) kept.mainWindow = w;
                return w;
            }
        }
        for (const auto& w : withoutTracks)
            if (!w.elements(ax::kChildren)) readFailed = true;
        if (!readFailed || attempt == kReadsAfterFailure) return std::nullopt;
        platform::invalidateAccessibilityReads();
    }
}

// The "Tracks" group holds the track headers, the ruler and the arrangement area; a window of
// another shape may show the arrangement area alone.
bool LogicInspector::holdsTracksArea(const AXElement& window) const {
    auto tracksArea = [](const AXElement& e, const std::string& described) {
        return described == "Tracks contents" ||
               (described == "Tracks" && e.string(ax::kRole) == std::optional<std::string>("AXGroup"));
    };
    return nearest(window, search_depth::kArrangeArea, tracksArea).has_value();
}

std::optional<AXElement> LogicInspector::findDescendant(const AXElement& of, const std::string& description,
                                                        const std::optional<std::string>& role, int maxDepth,
                                                        int depth) const {
    return ax_tree::findFirst(
        of, maxDepth,
        [&](const AXElement& e) {
            return trimmed(e, ax::kDescription) == description && (!role || e.string(ax::kRole) == role);
        },
        depth);
}

std::optional<platform::Rect> LogicInspector::findElementFrame(const AXElement& in, const std::string& description,
                                                               int maxDepth, int depth) const {
    std::optional<Rect> found;
    ax_tree::walk(
        in, maxDepth,
        [&](const Step& step) {
            if (trimmed(step.element, ax::kDescription) != description) return Next::children;
            // A zero frame is no answer, and nothing below its element is searched.
            const Rect frame = frameForElement(step.element);
            if (frame == Rect{}) return Next::siblings;
            found = frame;
            return Next::stop;
        },
        depth);
    return found;
}

std::optional<AXElement> LogicInspector::findSlider(const AXElement& in, const std::string& description, int maxDepth,
                                                    int depth) const {
    return findDescendant(in, description, std::string("AXSlider"), maxDepth, depth);
}

namespace {

enum class SliderWrite { shown, notShown, stale };

// Writes the value until the slider shows it, spending the writes left, and counts one step off as
// shown. A refused write ends it; a handle that stops answering is told apart from a value not
// reached, which writing again through a handle found anew cannot change.
SliderWrite writeSliderUntilShown(const AXElement& slider, std::int64_t target, int& left) {
    while (left > 0) {
        auto current = wholeNumber(slider);
        if (!current) break;
        if (*current == target) return SliderWrite::shown;
        const auto code = slider.setAttributeValue(ax::kValue, static_cast<double>(target));
        if (code == platform::AXError::invalidUIElement) return SliderWrite::stale;
        if (code != platform::AXError::success) return SliderWrite::notShown;
        --left;
        platform::pause(pacing::kSliderWriteRetry);
    }
    auto last = wholeNumber(slider);
    if (last && std::llabs(*last - target) <= 1) return SliderWrite::shown;
    return !last && ax_read::gone(slider) ? SliderWrite::stale : SliderWrite::notShown;
}

}  // namespace

Outcome LogicInspector::setSliderValue(const AXElement& in, const std::string& description, double value, int maxDepth,
                                       int depth, SliderWrites* writes) const {
    // A caller's value that is not finite or not representable is refused, never converted.
    const auto whole = checkedInteger(value, INT64_MIN / 2, INT64_MAX / 2);
    if (!whole) return {false, fmt::format("{} is no value for '{}'.", value, description)};
    SliderWrites own;
    SliderWrites& budget = writes ? *writes : own;
    budget.stale = false;
    bool confirmed = false;
    bool matched = false;
    ax_tree::walk(
        in, maxDepth,
        [&](const Step& step) {
            if (step.element.string(ax::kRole) != std::optional<std::string>("AXSlider") ||
                trimmed(step.element, ax::kDescription) != description)
                return Next::children;
            matched = true;
            const SliderWrite written = writeSliderUntilShown(step.element, *whole, budget.left);
            confirmed = written == SliderWrite::shown;
            budget.stale = written == SliderWrite::stale;
            // Not confirmed: the search goes on with the next matching slider, unless the tree
            // it walks was rebuilt.
            return confirmed || budget.stale ? Next::stop : Next::siblings;
        },
        depth);
    // An element searched that no longer answers finds no slider at all.
    if (!matched && ax_read::gone(in, ax::kChildren)) budget.stale = true;
    if (!confirmed) return {false, fmt::format("No slider '{}' took the value {}.", description, *whole)};
    return {true, fmt::format("Set '{}' to {}.", description, *whole)};
}

Outcome LogicInspector::findAndClickButton(const AXElement& in, const std::string& description, int depth,
                                           int maxDepth) const {
    auto button = ax_tree::findFirst(
        in, maxDepth,
        [&](const AXElement& e) {
            auto role = textOf(e, ax::kRole);
            return (role == "AXButton" || role == "AXCheckBox") &&
                   (trimmed(e, ax::kDescription) == description || trimmed(e, ax::kTitle) == description);
        },
        depth);
    if (!button) return {false, "No button '" + description + "' found."};
    button->performAction(ax::kPress);
    return {true, "Pressed '" + description + "'."};
}

void LogicInspector::findMenuButtonRecurse(const AXElement& element, const std::string& needle,
                                           std::optional<AXElement>& result, int depth, int maxDepth) const {
    if (result) return;
    result = ax_tree::findFirst(
        element, maxDepth,
        [&](const AXElement& e) {
            return textOf(e, ax::kRole) == "AXMenuButton" && text::lowercased(textOf(e, ax::kDescription)) == needle;
        },
        depth);
}

std::optional<AXElement> LogicInspector::findMenuItemByTitle(const AXElement& axApp, const std::string& title,
                                                             int maxDepth) const {
    const auto needle = text::lowercased(title);
    auto titled = [&](const AXElement& e) {
        return textOf(e, ax::kRole) == "AXMenuItem" && text::lowercased(textOf(e, ax::kTitle)) == needle;
    };
    auto windows = axApp.elements(ax::kWindows);
    // A held handle read too often may no longer answer: one made anew stands for the same process.
    if (int pid = 0; !windows && axApp.processIdentifier(pid) == platform::AXError::success)
        windows = platform::accessibility().applicationElement(pid).elements(ax::kWindows);
    if (windows)
        for (const auto& w : *windows)
            if (auto item = ax_tree::findFirst(w, maxDepth, titled)) return item;
    if (auto focused = axApp.element(ax::kFocusedUIElement)) return ax_tree::findFirst(*focused, maxDepth, titled);
    return std::nullopt;
}

std::optional<AXElement> LogicInspector::findButtonByLabelContains(const AXElement& element, const std::string& needle,
                                                                   int depth, int maxDepth) const {
    return ax_tree::findFirst(
        element, maxDepth,
        [&](const AXElement& e) {
            if (textOf(e, ax::kRole) != "AXButton") return false;
            auto description = blanksForLineSeparators(textOf(e, ax::kDescription));
            auto title = blanksForLineSeparators(textOf(e, ax::kTitle));
            return text::lowercased(description.empty() ? title : description).find(needle) != std::string::npos;
        },
        depth);
}

std::optional<AXElement> LogicInspector::findChildButton(const AXElement& in,
                                                         const std::string& withDescription) const {
    auto wanted = text::lowercased(withDescription);
    for (const auto& child : in.children())
        if (text::lowercased(textOf(child, ax::kDescription)) == wanted) return child;
    return std::nullopt;
}

namespace detail {
KeptPlaces& keptPlaces() {
    thread_local KeptPlaces places;
    return places;
}
}  // namespace detail

LogicInspector::KeptPlaces::KeptPlaces() { ++detail::keptPlaces().open; }

LogicInspector::KeptPlaces::KeptPlaces(const LogicInspector& owner) {
    auto& kept = detail::keptPlaces();
    if (kept.open++ > 0 || !owner.places_->keptBetweenCalls.load()) return;
    auto& own = *owner.places_;
    {
        const std::lock_guard lock(own.mutex);
        kept = own.handedOn;
    }
    kept.listing = {};
    kept.open = 1;
    kept.owner = &own;
    kept.applicationChecked = false;  // the process may have gone meanwhile
    kept.listedNow = false;           // a row may have been renamed meanwhile
    kept.foldersLeftOpen.clear();
    kept.holdStrip({});
}

LogicInspector::KeptPlaces::~KeptPlaces() {
    auto& kept = detail::keptPlaces();
    if (--kept.open > 0) return;
    if (kept.owner && kept.owner->keptBetweenCalls.load()) {
        const std::lock_guard lock(kept.owner->mutex);
        kept.owner->handedOn = kept;
    }
    kept = {};
}

void LogicInspector::KeptPlaces::setKeptBetweenCalls(const LogicInspector& owner, bool kept) {
    owner.places_->keptBetweenCalls = kept;
    const std::lock_guard lock(owner.places_->mutex);
    owner.places_->handedOn = {};
}

void LogicInspector::KeptPlaces::releaseStrip() { detail::keptPlaces().holdStrip({}); }

bool LogicInspector::KeptPlaces::keptBetweenCalls(const LogicInspector& owner) {
    return owner.places_->keptBetweenCalls.load();
}

void LogicInspector::KeptPlaces::startTurn(const LogicInspector& owner) {
    const std::lock_guard lock(owner.places_->mutex);
    auto& handedOn = owner.places_->handedOn;
    handedOn.hiddenLooked = false;
    handedOn.hiddenBehind.clear();
    handedOn.hidden.clear();
}

std::vector<std::string> LogicInspector::KeptPlaces::foldersLeftOpen() { return detail::keptPlaces().foldersLeftOpen; }

namespace detail {
std::optional<AXElement> keptArea(const AXElement& within, const std::string& description,
                                  const std::vector<std::string>& reads) {
    const auto& kept = keptPlaces();
    if (kept.open == 0) return std::nullopt;
    for (const auto& area : kept.areas) {
        if (area.description != description || !(area.within == within)) continue;
        area.element.prefetch(reads);  // a handle to a vanished or rebuilt element answers nothing
        if (trimmed(area.element, ax::kDescription) == description) return area.element;
        return std::nullopt;
    }
    return std::nullopt;
}

void keepArea(const AXElement& within, const std::string& description, const std::optional<AXElement>& element) {
    auto& kept = keptPlaces();
    if (kept.open == 0) return;
    std::erase_if(kept.areas, [&](const auto& p) { return p.description == description && p.within == within; });
    if (!element) return;
    if (kept.areas.size() >= 16) kept.areas.erase(kept.areas.begin());  // those of windows gone by
    kept.areas.push_back({within, description, *element});
}

std::optional<AXElement> windowArea(const AXElement& window, const std::string& description) {
    // What a walk reads of each element first: a walk of the area then starts from these answers.
    static const std::vector<std::string> kReads{ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren};
    if (auto area = keptArea(window, description, kReads)) return area;
    std::optional<AXElement> found;
    if (auto children = window.elements(ax::kChildren)) {
        for (const auto& child : *children) {
            child.prefetch(kReads);
            if (trimmed(child, ax::kDescription) != description) continue;
            found = child;
            break;
        }
    }
    keepArea(window, description, found);
    return found;
}
}  // namespace detail

std::optional<AXElement> LogicInspector::findMixerArea(const AXElement& in) const {
    auto& kept = detail::keptPlaces();
    if (kept.open > 0 && kept.mixer && kept.mixerWindow == in) {
        // Read anew: a handle to a vanished or rebuilt element is refused.
        kept.mixer.prefetch({ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren});
        if (kept.mixer.string(ax::kRole) == std::optional<std::string>("AXLayoutArea") &&
            trimmed(kept.mixer, ax::kDescription) == "Mixer")
            return kept.mixer;
    }
    // A Mixer area belongs to the window's own layout, never to a menu or the control bar: those
    // are left unread (as the track headers' walk leaves them, which keeps the Mixer it meets), and
    // the search otherwise finds what findDescendant would.
    std::optional<AXElement> found;
    bool unanswered = false;
    const auto search = [&](const AXElement& window) {
        ax_tree::walk(window, search_depth::kMixerArea, [&](const Step& step) {
            const AXElement& e = step.element;
            const auto read = e.string(ax::kRole);
            if (!read) unanswered = true;
            const std::string role = read.value_or("");
            const std::string description = trimmed(e, ax::kDescription);
            if (description == "Mixer" && role == "AXLayoutArea") {
                found = e;
                return Next::stop;
            }
            if (role == "AXMenuBar" || role == "AXMenu" || (role == "AXGroup" && description == "Control Bar"))
                return Next::siblings;
            return Next::children;
        });
    };
    search(in);
    // A window rebuilt by a change, or an element read too often, answers nothing: the main window
    // found anew, with answers read anew, shows the Mixer area it still shows.
    if (!found && (unanswered || !in.elements(ax::kChildren))) {
        platform::invalidateAccessibilityReads();
        if (const auto window = findMainWindow()) search(*window);
    }
    if (kept.open > 0) {
        kept.mixerWindow = found ? in : AXElement{};
        kept.mixer = found.value_or(AXElement{});
    }
    return found;
}

std::optional<AXElement> LogicInspector::firstStripShown(const AXElement& in) const {
    auto mixer = findMixerArea(in);
    if (!mixer) return std::nullopt;
    auto strips = mixer->children();
    if (strips.empty()) return std::nullopt;
    return strips.front();
}

std::optional<AXElement> LogicInspector::firstMixerStrip(const AXElement& in) const {
    std::string shown;
    return heldStrip(in, shown);
}

platform::Rect LogicInspector::frameForElement(const AXElement& element) {
    element.prefetch({ax::kPosition, ax::kSize});  // one round trip for both
    auto position = element.point(ax::kPosition).value_or(platform::Point{});
    auto size = element.size(ax::kSize).value_or(platform::Size{});
    return {position.x, position.y, size.width, size.height};
}

std::optional<std::vector<std::string>> LogicInspector::copyAllAttributeNames(const AXElement& element) const {
    std::vector<std::string> names;
    if (element.copyAttributeNames(names) != platform::AXError::success) return std::nullopt;
    return names;
}

std::vector<std::string> LogicInspector::actionNames(const AXElement& element) const {
    std::vector<std::string> names;
    if (element.copyActionNames(names) != platform::AXError::success) return {};
    return names;
}

}  // namespace corvane
