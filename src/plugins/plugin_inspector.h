#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "logic/logic_inspector.h"
#include "logic/plugin_view_preference.h"
#include "platform/accessibility.h"
#include "plugins/parameter_write_result.h"
#include "plugins/plugin_map.h"
#include "plugins/plugin_map_store.h"

namespace corvane {

// The one entry point for reading every parameter of a plug-in in an insert slot and writing one
// of them. It opens (or reuses) the slot's plug-in window, reads and writes through the plug-in's
// map in the editor view when there is one and through Logic Pro's Controls view otherwise, fills
// what a map could not read from the Controls view, and refuses mapped writes whose dependencies
// are not met.
//
// Per-turn memory (the slot whose window it opened, the view that window shows, dependency values
// read from the Controls view) lives until resetTurnState(), which the agent loop calls at the end
// of every turn right after LogicInspector::closeOpenPluginAndRestoreEditorView(). Operations run
// one at a time: they share the plug-in window and that memory.
class PluginInspector final {
public:
    using AXElement = platform::AXElement;
    using InsertSlot = LogicInspector::InsertSlot;
    using WriteResult = ParameterWriteResult;

    PluginInspector(const LogicInspector& logicInspector, const PluginMapStore& mapStore);

    // Absent when Logic Pro is not running, the slot's window cannot be opened, or the window is
    // gone after a view switch.
    std::optional<PluginReadResult> readPlugin(const InsertSlot& slot, const AXElement& mainWindow,
                                               const std::string& trackName);
    // `changedWhenStopped`, when given, receives what the parameter shows against what it
    // showed before ("Threshold: -12.8 dB → -19.8 dB") when a Stop ends the write after it took.
    WriteResult writeParameter(const InsertSlot& slot, const AXElement& mainWindow, const std::string& parameterName,
                               const std::string& value, std::optional<std::string>* changedWhenStopped = nullptr);
    void resetTurnState();

    // The first definition whose id, else whose label, equals the name ignoring case.
    static const ParameterDef* findParameterDef(const PluginMap& map, const std::string& name);
    // The Controls-view control for a map parameter: of a compatible kind, labelled exactly (any
    // case), else labelled with the search label followed by a blank.
    static std::optional<ParameterEntry> bestControlsMatch(const std::string& label, ParameterType type,
                                                           const std::vector<ParameterEntry>& controls);

private:
    struct OpenedSlot {
        AXElement element;
        std::string name;
        AXElement window;  // the plug-in window that opened for it
        std::string title;  // the window's, which with its place finds it again once its handle went stale
        platform::Point origin;
        bool ours = true;   // opened by this turn's calls, not by the user
    };
    enum class OpenFailure { notRunning, couldNotOpen };
    struct Opened {
        AXElement axApp;
        const PluginMap* map = nullptr;
    };

    std::optional<Opened> openSlotWindow(const InsertSlot& slot, const AXElement& mainWindow, OpenFailure& failure);
    std::optional<AXElement> switchAndReacquire(const AXElement& axApp, const AXElement& mainWindow,
                                                PluginViewPreference to);
    std::vector<ParameterEntry> fillMissingStatesViaControlsView(std::vector<ParameterEntry> entries,
                                                                 const AXElement& axApp, const AXElement& mainWindow);
    std::optional<WriteResult> checkHardDependencies(const ParameterDef& def, const PluginMap& map,
                                                     const AXElement& axApp, const AXElement& mainWindow);
    void rememberWrittenValue(const ParameterDef& def, const std::string& value, const WriteResult& result);

    const LogicInspector& logicInspector_;
    const PluginMapStore& mapStore_;
    std::mutex mutex_;
    std::optional<PluginViewPreference> currentView_;
    std::map<std::string, std::string> cachedDepValues_;
    std::optional<OpenedSlot> lastOpenedSlot_;
};

}  // namespace corvane
