#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "logic/logic_inspector.h"
#include "platform/accessibility.h"
#include "platform/geometry.h"

namespace corvane {

// What a developer asks of Logic Pro through the diagnostic routes: dumps and crawls of its
// Accessibility tree, probes of its insert menu, send knobs and plug-in windows, and the snapshots
// plug-in maps are written from. Built on the inspector's operations and, like it, keeps nothing
// between calls. Failures are {"error": message}.
class LogicDiagnostics {
public:
    using AXElement = platform::AXElement;
    using Point = platform::Point;
    // Results lists are appended to in visiting order; nothing is removed or merged.
    using DumpList = std::vector<nlohmann::json>;

    explicit LogicDiagnostics(const LogicInspector& logic) : logic_(logic) {}

    // --- Accessibility tree dumps and crawls ----------------------------------------------
    nlohmann::json debugAXDump(int maxDepth) const;
    // At most maxTotalElements entries over all windows, or the one entry {"error": ...}.
    DumpList fullAXCrawl(int maxDepth, int maxTotalElements) const;
    nlohmann::json dumpChannelStripWithActions(int maxDepth) const;
    void dumpInspectorMixerStrips(const AXElement& in, DumpList& results) const;
    void dumpAllElementsInSubtree(const AXElement& root, DumpList& results, int depth, int maxDepth) const;
    void dumpAllAXButtonsInSubtree(const AXElement& root, DumpList& results, int depth, int maxDepth) const;
    nlohmann::json dumpElement(const AXElement& element, int depth, int maxDepth) const;
    void crawlElement(const AXElement& element, const std::string& path, int depth, int maxDepth, DumpList& elements,
                      int& count, int maxTotal) const;
    void dumpElementWithActions(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                DumpList& elements) const;
    void deepCrawlWithAttributes(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                 DumpList& into) const;
    nlohmann::json describeElement(const AXElement& element, const std::string& label) const;

    // --- Menu dumps ------------------------------------------------------------------------
    void dumpMenuItems(const AXElement& axApp, DumpList& results, int maxDepth) const;
    nlohmann::json dumpSidechainMenuItems() const;
    // Opens the automation mode menu of the Inspector's strip at the index, lists it and closes it.
    nlohmann::json dumpAutomationMenu(int stripIndex) const;
    void collectMenuItemTitles(const AXElement& element, DumpList& results, int depth, int maxDepth) const;
    void dumpMenuTree(const AXElement& element, DumpList& results, int depth, int maxDepth,
                      const std::string& path) const;
    void collectMenuNodes(const AXElement& in, DumpList& results, int depth, int maxDepth) const;
    void findAllMenusIn(const AXElement& element, int depth, int maxDepth, DumpList& results) const;

    // --- Insert-bar menu probes -----------------------------------------------------------
    // Each opens an empty insert bar of the track's strip (slotIndex -1: below the chain, 0: the
    // topmost, N: below occupied slot N) and reports what followed. Their files go to the
    // temporary folder (TMPDIR), private to the user.
    nlohmann::json probeInsertBarMenu(const std::string& trackName, int slotIndex, bool useMouseClick,
                                      int yDelta) const;
    nlohmann::json testTypeToFilterInsertMenu(const std::string& trackName, int slotIndex,
                                              const std::string& pluginName) const;
    nlohmann::json crawlEverythingAfterInsertBarClick(const std::string& trackName, int slotIndex) const;
    nlohmann::json clickInsertBarAndScreenshot(const std::string& trackName, int slotIndex, bool useMouseClick) const;

    // --- Control probes --------------------------------------------------------------------
    // Writes a raw value to the track's send knob for the bus and reports whether it stuck.
    nlohmann::json testSetSendKnobRaw(const std::string& trackName, const std::string& busLabel,
                                      std::int64_t raw) const;
    // Presses the first button of the open plug-in window whose label contains the text (any
    // case) and reports the Accessibility result.
    nlohmann::json clickButtonInOpenPlugin(const std::string& labelContains) const;

    // --- Plug-in window authoring dumps ---------------------------------------------------
    // For writing plug-in maps: what a plug-in window and the insert menu expose. Positions are
    // relative to the plug-in window's top-left corner and rounded to whole points.
    // The track's insert menu, in full to a private file in the temporary folder (TMPDIR).
    nlohmann::json dumpPluginInsertMenu(const std::string& trackName) const;
    // Every attribute of each element of the open plug-in window whose label starts with the
    // prefix (any case), or whose role is the one named after "role:".
    nlohmann::json dumpFullAttributesInOpenPlugin(const std::string& labelPrefix) const;
    // The open plug-in window's labelled controls and unlabelled sliders, with its picture;
    // presses nothing.
    nlohmann::json dumpOpenPluginWindow() const;
    // The same for a slot, whose window is opened for it and closed again.
    nlohmann::json dumpPluginParametersForAuthoring(const LogicInspector::InsertSlot& pluginSlot,
                                                    const AXElement& excluding) const;

private:
    void collectAuthoringInfo(const AXElement& from, Point windowOrigin, nlohmann::json& unlabeledSliders,
                              nlohmann::json& labeledControls, int depth, int maxDepth) const;
    void collectFullAttributesMatching(const AXElement& element, const std::string& labelPrefix,
                                       nlohmann::json& results, int depth, int maxDepth) const;
    // Every titled menu item under the application's windows, then under its focused element.
    void collectOpenMenuItems(const AXElement& axApp, DumpList& items, int maxDepth) const;

    const LogicInspector& logic_;
};

}  // namespace corvane
