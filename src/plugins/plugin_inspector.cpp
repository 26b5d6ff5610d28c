#include "plugins/plugin_inspector.h"

#include <algorithm>
#include <utility>

#include <fmt/format.h>

#include "logic/ax_read.h"
#include "logic/logic_timing.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "plugins/ax_locator.h"
#include "plugins/controls_view_fallback.h"
#include "plugins/mapped_reader.h"
#include "plugins/mapped_writer.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using ax_read::textOf;

namespace {

constexpr const char* kWindowLostInSwitch = "Plugin window missing after view switch";
constexpr double kClosingOnceStopped = 0.05;  // each pause of a close that follows a Stop, at most

bool needsFilling(const ParameterEntry& e) {
    return e.def.type != ParameterType::momentary && e.def.type != ParameterType::text && !e.currentDisplay;
}

bool compatible(ParameterType wanted, ParameterType control) {
    switch (wanted) {
        case ParameterType::continuous:
        case ParameterType::discrete: return control == ParameterType::continuous;
        case ParameterType::toggle: return control == ParameterType::toggle;
        case ParameterType::radio:
        case ParameterType::selector: return control == ParameterType::toggle || control == ParameterType::selector;
        case ParameterType::momentary:
        case ParameterType::text: return false;
    }
    return false;
}

// At most 15 digits, so the raw value stays exact as a double.
std::optional<std::int64_t> decimalInteger(std::string_view s) {
    const std::size_t sign = !s.empty() && (s.front() == '+' || s.front() == '-') ? 1 : 0;
    if (s.size() - sign > 15) return std::nullopt;
    return readInteger(s);
}

const ParameterOption* optionByIdOrLabel(const ParameterDef& def, const std::string& value) {
    if (!def.options) return nullptr;
    for (const auto& o : *def.options)
        if (text::equalsIgnoringCase(o.id, value)) return &o;
    for (const auto& o : *def.options)
        if (text::equalsIgnoringCase(o.label, value)) return &o;
    return nullptr;
}

std::string optionLabel(const ParameterDef& def, const std::string& id) {
    if (def.options)
        for (const auto& o : *def.options)
            if (o.id == id) return o.label;
    return id;
}

const ParameterDef* definitionById(const PluginMap& map, const std::string& id) {
    for (const auto& d : map.parameters)
        if (d.id == id) return &d;
    return nullptr;
}

}  // namespace

PluginInspector::PluginInspector(const LogicInspector& logicInspector, const PluginMapStore& mapStore)
    : logicInspector_(logicInspector), mapStore_(mapStore) {}

void PluginInspector::resetTurnState() {
    std::lock_guard lock(mutex_);
    lastOpenedSlot_.reset();
    currentView_.reset();
    cachedDepValues_.clear();
}

std::optional<PluginInspector::Opened> PluginInspector::openSlotWindow(const InsertSlot& slot,
                                                                       const AXElement& mainWindow,
                                                                       OpenFailure& failure) {
    const auto logic = logicInspector_.logicApplication();
    if (!logic) {
        failure = OpenFailure::notRunning;
        return std::nullopt;
    }
    Opened opened;
    opened.axApp = LogicInspector::applicationElement(*logic);
    // The window in front must still be the one opened for this slot: a window another plug-in
    // opened since (an insert opens its plug-in's window) would take this slot's reads and writes.
    const bool reuse =
        lastOpenedSlot_ && lastOpenedSlot_->element == slot.element && lastOpenedSlot_->name == slot.name &&
        logicInspector_.findPluginWindow(opened.axApp, mainWindow) == std::optional<AXElement>(lastOpenedSlot_->window);
    if (!reuse) {
        // Only a window this turn's calls opened is closed: the ones the user opened stay open.
        auto before = LogicInspector::windowsFound(opened.axApp, mainWindow);
        // Where the slot lies, once a close is to come: the close may leave the slot's handle stale.
        std::optional<std::size_t> slotIndex;
        if (lastOpenedSlot_ && lastOpenedSlot_->ours) {
            // The window is put back and closed whatever comes, a Stop only cutting its pauses short.
            const platform::HeldPauses closing(kClosingOnceStopped);
            if (const auto mine = before.indexOf(lastOpenedSlot_->window, lastOpenedSlot_->title, lastOpenedSlot_->origin)) {
                const auto slots = logicInspector_.findTrackPluginSlots(mainWindow);
                for (std::size_t i = 0; i < slots.size(); ++i)
                    if (slots[i].element == slot.element) slotIndex = i;
                // A plug-in window opens in the view it closed in: one left in its Controls view
                // would open there for the user.
                const auto listed = before.plugins[*mine];
                AXElement mineNow = listed.window;
                if (currentView_ != PluginViewPreference::editor) {
                    logicInspector_.switchPluginWindowView(mineNow, PluginViewPreference::editor);
                    platform::pause(pacing::kEditorViewRestored);
                    // The switch may have left the handle stale: found again by its title and place.
                    if (ax_read::gone(mineNow, ax::kTitle))
                        if (const auto again = logicInspector_.windowTitled(listed.title, listed.origin))
                            mineNow = *again;
                }
                // A handle gone stale since finds no close button: the window is found again by its
                // title and place, else it would stay open past the turn's end.
                if (!logicInspector_.closeOpenedPluginWindow(mineNow, before, mainWindow))
                    if (const auto again = logicInspector_.windowTitled(listed.title, listed.origin))
                        logicInspector_.closeOpenedPluginWindow(*again, before, mainWindow);
                before.plugins.erase(before.plugins.begin() + static_cast<std::ptrdiff_t>(*mine));
            }
        }
        lastOpenedSlot_.reset();
        currentView_.reset();
        cachedDepValues_.clear();
        // Stopped meanwhile: no window is opened that would only be closed again.
        if (platform::stopRequested()) throw platform::PauseStopped{};
        InsertSlot target = slot;
        auto open = logicInspector_.slotOpenButton(target);
        const auto slotAnew = [&] {
            if (!slotIndex) return false;
            const auto slots = logicInspector_.findTrackPluginSlots(logicInspector_.mainWindowAnew(mainWindow));
            if (*slotIndex >= slots.size() || slots[*slotIndex].name != slot.name) return false;
            target = slots[*slotIndex];
            open = logicInspector_.slotOpenButton(target);
            slotIndex.reset();  // found anew once
            return open.has_value();
        };
        if (!open && !slotAnew()) {
            failure = OpenFailure::couldNotOpen;
            return std::nullopt;
        }
        // The window in front once the press took: a new one, or the slot's own that was open
        // already and came to the front, as its title ("<track>: <plug-in>") tells.
        const auto slotWindow = [&]() -> std::optional<AXElement> {
            const auto window = logicInspector_.findPluginWindow(opened.axApp, mainWindow);
            if (!window || !before.holds(*window)) return window;
            if (textOf(*window, ax::kTitle).ends_with(": " + slot.name)) return window;
            return std::nullopt;
        };
        const auto press = [&] {
            if (open->performAction(ax::kPress) != platform::AXError::success && slotAnew())
                open->performAction(ax::kPress);
            platform::pause(pacing::kPluginWindowOpens);
        };
        try {
            press();
            if (!slotWindow()) press();
        } catch (const platform::PauseStopped&) {
            // Stopped while the window opens: the window the press opened is closed all the same,
            // its pauses cut short, so that the turn's end has none of this call's to close.
            const platform::HeldPauses closing(kClosingOnceStopped);
            if (const auto window = logicInspector_.findPluginWindow(opened.axApp, mainWindow);
                window && !before.holds(*window))
                logicInspector_.closeOpenedPluginWindow(*window, before, mainWindow);
            throw;
        }
        const auto window = slotWindow();
        if (!window) {
            failure = OpenFailure::couldNotOpen;
            return std::nullopt;
        }
        const bool ours = !before.holds(*window);
        lastOpenedSlot_ = OpenedSlot{target.element, slot.name, *window, textOf(*window, ax::kTitle),
                                     window->point(ax::kPosition).value_or(platform::Point{}), ours};
    }
    opened.map = mapStore_.mapForPlugin(slot.name);
    return opened;
}

std::optional<platform::AXElement> PluginInspector::switchAndReacquire(const AXElement& axApp,
                                                                       const AXElement& mainWindow,
                                                                       PluginViewPreference to) {
    const auto window = logicInspector_.findPluginWindow(axApp, mainWindow);
    if (!window) return std::nullopt;
    if (currentView_ == to) {
        log(fmt::format("[switchAndReacquire] cache hit, already at {}", toString(to)));
        return window;
    }
    const auto menuButton = logicInspector_.findViewMenuButton(*window);
    if (menuButton) {
        if (const auto shown = logicInspector_.readCurrentPluginView(*menuButton)) {
            currentView_ = shown;
            if (*shown == to) {
                log(fmt::format("[switchAndReacquire] probe hit, already at {}", toString(to)));
                return window;
            }
        }
    }
    log(fmt::format("[switchAndReacquire] switching to {}", toString(to)));
    logicInspector_.switchPluginWindowView(*window, to);
    platform::pause(pacing::kViewSwitchSettles);
    currentView_ = to;
    // A view switch keeps the window: while its handle still answers as a plug-in window it is
    // the one, and Logic Pro's window list is read again only when it does not. Its controls are
    // read next, so what their search asks of the window comes along.
    std::vector<std::string> reads{ax::kTitle, ax::kRole, ax::kDescription, ax::kChildren};
    reads.insert(reads.end(), AXLocator::controlReads().begin(), AXLocator::controlReads().end());
    window->prefetch(reads);
    if (window->string(ax::kRole) == std::optional<std::string>("AXWindow") &&
        LogicInspector::isPluginWindowTitle(textOf(*window, ax::kTitle)))
        return window;
    return logicInspector_.findPluginWindow(axApp, mainWindow);
}

std::optional<PluginReadResult> PluginInspector::readPlugin(const InsertSlot& slot, const AXElement& mainWindow,
                                                            const std::string& trackName) {
    std::lock_guard lock(mutex_);
    OpenFailure failure{};
    const auto opened = openSlotWindow(slot, mainWindow, failure);
    if (!opened) return std::nullopt;
    PluginReadResult result;
    result.pluginName = slot.name;
    result.trackName = trackName;
    if (opened->map) {
        const auto window = switchAndReacquire(opened->axApp, mainWindow, PluginViewPreference::editor);
        if (!window) return std::nullopt;
        auto entries = fillMissingStatesViaControlsView(MappedPluginReader::readAll(*opened->map, *window),
                                                        opened->axApp, mainWindow);
        entries.erase(
            std::remove_if(entries.begin(), entries.end(), [](const ParameterEntry& e) { return e.def.isHidden(); }),
            entries.end());
        result.viewUsed = PluginViewPreference::editor;
        result.mapApplied = true;
        result.parameters = std::move(entries);
        return result;
    }
    const auto window = switchAndReacquire(opened->axApp, mainWindow, PluginViewPreference::controls);
    if (!window) return std::nullopt;
    result.viewUsed = PluginViewPreference::controls;
    result.mapApplied = false;
    result.parameters = ControlsViewFallback::read(*window);
    return result;
}

std::vector<ParameterEntry> PluginInspector::fillMissingStatesViaControlsView(std::vector<ParameterEntry> entries,
                                                                              const AXElement& axApp,
                                                                              const AXElement& mainWindow) {
    if (std::none_of(entries.begin(), entries.end(), needsFilling)) return entries;
    const auto window = switchAndReacquire(axApp, mainWindow, PluginViewPreference::controls);
    if (!window) return entries;
    const auto controls = ControlsViewFallback::read(*window);
    for (auto& entry : entries) {
        if (!needsFilling(entry)) continue;
        const auto match =
            bestControlsMatch(entry.def.controlsLabel.value_or(entry.def.label), entry.def.type, controls);
        if (!match) continue;
        entry.currentRaw = match->currentRaw;
        entry.currentDisplay = match->currentDisplay;
        const bool slider = entry.def.type == ParameterType::continuous || entry.def.type == ParameterType::discrete;
        if (slider && match->currentRaw)
            if (const auto raw = decimalInteger(*match->currentRaw))
                if (const auto shown = MappedPluginReader::rawToDisplay(*raw, entry.def))
                    entry.currentDisplay = MappedPluginReader::formatDisplay(*shown, entry.def.unit);
    }
    switchAndReacquire(axApp, mainWindow, PluginViewPreference::editor);
    return entries;
}

const ParameterDef* PluginInspector::findParameterDef(const PluginMap& map, const std::string& name) {
    const std::string wanted = text::lowercased(name);
    for (const auto& def : map.parameters)
        if (text::lowercased(def.id) == wanted || text::lowercased(def.label) == wanted) return &def;
    return nullptr;
}

std::optional<ParameterEntry> PluginInspector::bestControlsMatch(const std::string& label, ParameterType type,
                                                                 const std::vector<ParameterEntry>& controls) {
    for (const auto& c : controls)
        if (compatible(type, c.def.type) && text::equalsIgnoringCase(c.def.label, label)) return c;
    const std::string prefix = text::lowercased(label) + " ";
    for (const auto& c : controls)
        if (compatible(type, c.def.type) && text::lowercased(c.def.label).rfind(prefix, 0) == 0) return c;
    return std::nullopt;
}

std::optional<PluginInspector::WriteResult> PluginInspector::checkHardDependencies(const ParameterDef& def,
                                                                                   const PluginMap& map,
                                                                                   const AXElement& axApp,
                                                                                   const AXElement& mainWindow) {
    if (!def.dependsOn || def.dependsOn->empty()) return std::nullopt;
    std::vector<const Dependency*> missing;
    for (const auto& d : *def.dependsOn)
        if (!cachedDepValues_.count(d.parameterId)) missing.push_back(&d);
    if (!missing.empty()) {
        const auto window = switchAndReacquire(axApp, mainWindow, PluginViewPreference::controls);
        if (!window) return std::nullopt;
        const auto controls = ControlsViewFallback::read(*window);
        switchAndReacquire(axApp, mainWindow, PluginViewPreference::editor);
        for (const Dependency* d : missing) {
            const ParameterDef* other = definitionById(map, d->parameterId);
            if (!other) continue;
            const auto match = bestControlsMatch(other->controlsLabel.value_or(other->label), other->type, controls);
            if (!match) continue;
            std::string value;
            if (match->currentDisplay) {
                const ParameterOption* option = nullptr;
                if (other->options)
                    for (const auto& o : *other->options)
                        if (text::equalsIgnoringCase(o.label, *match->currentDisplay) ||
                            text::equalsIgnoringCase(o.id, *match->currentDisplay)) {
                            option = &o;
                            break;
                        }
                value = option ? option->id : *match->currentDisplay;
            }
            cachedDepValues_[d->parameterId] = value;
        }
    }
    for (const auto& d : *def.dependsOn) {
        const ParameterDef* other = definitionById(map, d.parameterId);
        const auto cached = cachedDepValues_.find(d.parameterId);
        if (!other || cached == cachedDepValues_.end() || cached->second.empty()) continue;
        if (std::find(d.values.begin(), d.values.end(), cached->second) != d.values.end()) continue;
        std::string allowed;
        for (const auto& v : d.values) allowed += (allowed.empty() ? "" : ", ") + optionLabel(*other, v);
        return WriteResult{false,
                           def.label + " isn't available when " + other->label + " is " +
                               optionLabel(*other, cached->second) + ". Allowed: " + allowed + ".",
                           std::nullopt};
    }
    return std::nullopt;
}

void PluginInspector::rememberWrittenValue(const ParameterDef& def, const std::string& value,
                                           const WriteResult& result) {
    // A later dependency check must see what this write left, not what was read before it.
    const ParameterOption* chosen = result.success ? optionByIdOrLabel(def, value) : nullptr;
    if (chosen)
        cachedDepValues_[def.id] = chosen->id;
    else
        cachedDepValues_.erase(def.id);
    if (def.writePrereq) cachedDepValues_.erase(def.writePrereq->parameterId);
}

PluginInspector::WriteResult PluginInspector::writeParameter(const InsertSlot& slot, const AXElement& mainWindow,
                                                             const std::string& parameterName,
                                                             const std::string& value,
                                                             std::optional<std::string>* changedWhenStopped) {
    if (changedWhenStopped) changedWhenStopped->reset();
    std::lock_guard lock(mutex_);
    OpenFailure failure{};
    const auto opened = openSlotWindow(slot, mainWindow, failure);
    if (!opened) {
        if (failure == OpenFailure::notRunning) return {false, "Logic Pro is not running", std::nullopt};
        return {false, "Could not open plugin window", std::nullopt};
    }
    if (const PluginMap* map = opened->map) {
        const ParameterDef* def = findParameterDef(*map, parameterName);
        if (!def || def->isHidden()) {
            std::string available;
            for (const auto& d : map->parameters)
                if (!d.isHidden()) available += (available.empty() ? "" : ", ") + d.label;
            return {false, "Parameter '" + parameterName + "' not in " + map->name + " map. Available: " + available,
                    std::nullopt};
        }
        if (auto refused = checkHardDependencies(*def, *map, opened->axApp, mainWindow)) return *refused;
        const auto window = switchAndReacquire(opened->axApp, mainWindow, PluginViewPreference::editor);
        if (!window) return {false, kWindowLostInSwitch, std::nullopt};
        WriteResult result =
            MappedPluginWriter::write(*def, value, *window, *map, changedWhenStopped,
                                      [&] { return logicInspector_.findPluginWindow(opened->axApp, mainWindow); });
        rememberWrittenValue(*def, value, result);
        return result;
    }
    const auto window = switchAndReacquire(opened->axApp, mainWindow, PluginViewPreference::controls);
    if (!window) return {false, kWindowLostInSwitch, std::nullopt};
    return ControlsViewFallback::write(parameterName, value, *window, opened->axApp, changedWhenStopped,
                                       [&] { return logicInspector_.findPluginWindow(opened->axApp, mainWindow); });
}

}  // namespace corvane
