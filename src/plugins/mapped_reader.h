#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.h"
#include "plugins/pixel_probe.h"
#include "plugins/plugin_map.h"

namespace corvane {

// What one control shows: its raw value and the value as a user sees it; both absent when nothing
// could be read.
struct ParameterReading {
    std::optional<std::string> raw;
    std::optional<std::string> display;
    friend bool operator==(const ParameterReading&, const ParameterReading&) = default;
};

// Reads the parameters of a plug-in whose editor view a plug-in map describes, from the open
// plug-in window. Stateless; a control that cannot be found or read gives an empty reading.
class MappedPluginReader final {
public:
    MappedPluginReader() = delete;

    // One entry per definition, in map order, hidden ones included. One window image serves every
    // probe of the read.
    static std::vector<ParameterEntry> readAll(const PluginMap& map, const platform::AXElement& window);

    // Without a snapshot, a read that needs a picture takes its own.
    static ParameterReading read(const ParameterDef& def, const platform::AXElement& window,
                                 const PluginWindowImage* snapshot);

    static std::optional<double> rawToDisplay(std::int64_t raw, const ParameterDef& def);

    // "%.1f dB", "%.0f ms" (seconds from 1000 ms), "%.2f s", Hz and kHz alike, "%.1f:1", "%.0f%%",
    // "%.2f" without a unit; any other unit follows the number in its shortest form and a blank.
    static std::string formatDisplay(double value, const std::optional<std::string>& unit);
};

}  // namespace corvane
