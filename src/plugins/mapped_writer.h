#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/accessibility.h"
#include "plugins/parameter_write_result.h"
#include "plugins/plugin_map.h"

namespace corvane {

// Sets one parameter of a plug-in whose editor view a plug-in map describes, in the open plug-in
// window (already showing the editor view). Stateless; every failure is a result, never thrown.
class MappedPluginWriter final {
public:
    using AXElement = platform::AXElement;
    using Result = ParameterWriteResult;
    // The plug-in window found again: where Logic Pro builds it anew on a write or press, handles
    // held from before no longer answer, and the writer reads through the window found again.
    using WindowAgain = std::function<std::optional<AXElement>()>;

    MappedPluginWriter() = delete;

    // `changedWhenStopped`: as PluginInspector::writeParameter gives it.
    static Result write(const ParameterDef& def, const std::string& value, const AXElement& window,
                        const PluginMap& map, std::optional<std::string>* changedWhenStopped = nullptr,
                        const WindowAgain& again = {});

    // Presses the option the map wants selected before this parameter is written, and waits.
    static void ensureWritePrereq(const ParameterDef& def, const PluginMap& map, const AXElement& window);

    // The write the parameter's type calls for.
    static Result writeAs(const ParameterDef& def, const std::string& value, const AXElement& window,
                          const PluginMap& map, const std::optional<std::string>& before,
                          const WindowAgain& again = {});
    // Converges on the target and reports success only when the control shows it (within the
    // tolerance, or as near as its steps allow inside its range).
    static Result writeContinuous(const ParameterDef& def, const std::string& value, const AXElement& window,
                                  const PluginMap& map, const std::optional<std::string>& before,
                          const WindowAgain& again = {});
    // Reads the current state first: a toggle already in the wanted state is not pressed, and one
    // whose state cannot be read is not pressed blind.
    static Result writeToggle(const ParameterDef& def, const std::string& value, const AXElement& window,
                              const PluginMap& map, const std::optional<std::string>& before,
                          const WindowAgain& again = {});
    static Result writeSelector(const ParameterDef& def, const std::string& value, const AXElement& window,
                                const PluginMap& map, const std::optional<std::string>& before,
                          const WindowAgain& again = {});

    // Writes the raw value and repeats while the control has not taken it (at most 500 writes).
    static void writeAndConverge(const AXElement& el, std::int64_t desiredRaw);

    // The number at the start of the text, in the unit the parameter is shown in: a suffix of
    // another scale of the same kind ("1.2 s" for a parameter in ms, "2.5 kHz" for one in Hz) is
    // converted, one in the parameter's own unit is not.
    static std::optional<double> parseLeadingNumber(const std::string& text, const std::optional<std::string>& unit);
    static std::optional<std::int64_t> rawFromDisplay(double display, const ParameterDef& def);
    static std::optional<bool> parseBoolean(const std::string& text);
    // Opens the pop-up's menu and presses the item below the pop-up itself; an item that is not
    // there leaves the menu closed again by Escape.
    static bool pressPopupMenuItem(const AXElement& popup, const std::string& title);
    static std::optional<std::string> dependencyErrorMessage(const ParameterDef& def, const PluginMap& map);
};

}  // namespace corvane
