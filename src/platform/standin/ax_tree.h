#pragma once

// The materialised Accessibility tree of the simulated Logic Pro (internal to the stand-in).
//
// The tree is rebuilt from the model whenever it changed. Each node has a stable key (its path); the key
// keeps its node id for ever, and its generation moves on when the node reappears or when its rebuild
// signature changes (another track in a strip, another chain, another track list...). A handle is
// (id, generation), so handles to untouched nodes stay equal and valid, and handles to rebuilt nodes
// answer -25202.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "platform/geometry.h"

namespace corvane::standin::detail {

using Value = std::variant<std::monostate, std::string, std::int64_t, double, bool>;

// What a node stands for in the model, so that actions and writes know what to change.
enum class Bind {
    none,
    app,
    menuBar,
    window,
    container,  // a described AXGroup such as "Control Bar"
    decoy,      // the "open"/"bypass" children of decoy containers: present, inert
    transport,  // name: "Go to Beginning", "Stop", "Play", "Record", "Cycle", "Solo"
    tempo,
    timeSignature,
    playheadGroup,   // readOnly for the upper decoy group
    playheadSlider,  // index 0..3: bar, beat, division, tick
    mixerArea,
    strip,
    channelMode,
    input,
    output,
    insertsGroup,
    insertBar,  // index: the gap (0 = above the first slot)
    slot,       // index: slot
    slotBypass,
    slotOpen,
    slotList,
    sendsGroup,
    sendRow,
    sendLabel,
    sendKnob,  // index: send
    automationGroup,
    automationList,
    automationPower,
    pan,
    volume,
    level,
    stripMute,
    stripSolo,
    stripName,
    extraName,  // the duplicate "name" field
    headerColumn,
    header,
    headerTriangle,
    headerMute,
    headerSolo,
    headerName,
    ruler,
    startMarker,
    playheadThumb,
    contents,
    row,
    region,            // index: region
    filledSlotButton,  // "audio plug-in" on a filled slot (knob filledSlotButton); index: slot
    titleBarButton,    // a window's close, full screen or minimise button; name: its window's key, index: 0, 1, 2
    viewToggle,        // the control bar's "Mixer" check box
    // Plug-in windows: track is the slot's track, index the slot's uid.
    pluginClose,
    pluginHeader,
    pluginBody,
    pluginBypass,
    pluginHeaderButton,  // name: "compare", "copy", "paste", "previous", "next"
    viewButton,
    sidechainPopup,
    pluginControl,  // name: the bound parameter id (may be empty)
    // Menus: index is the menu's sequence number, name the item path ("2.0.1").
    menu,
    menuItem,
    // The menu bar's "Track" menu: name is the item's title.
    mainMenuItem,
};

struct Binding {
    Bind kind = Bind::none;
    int track = -1;  // track id
    int index = -1;
    std::string name;
    bool readOnly = false;
};

struct Node {
    std::string key;
    std::string sig;  // rebuild signature
    std::uint64_t id = 0;
    std::uint64_t gen = 0;
    std::string windowKey;  // the Logic window the node belongs to ("" for the application)

    std::string role;
    std::optional<std::string> subrole;
    std::optional<std::string> description;
    std::optional<std::string> title;
    std::optional<std::string> help;
    std::optional<std::string> identifier;
    Value value;  // monostate: the element has no AXValue
    std::optional<std::string> valueDescription;
    Value minValue;
    Value maxValue;
    std::optional<bool> selected;
    std::optional<bool> minimised;  // windows: AXMinimized
    bool focused = false;
    bool valueSettable = false;
    bool hasFrame = true;
    platform::Rect frame;
    std::vector<std::string> actions;
    Binding bind;

    int parent = -1;
    std::vector<int> children;
};

struct KeyState {
    std::uint64_t id = 0;
    std::uint64_t gen = 1;
    std::string sig;
    bool present = false;
    std::uint64_t lastBuild = 0;
};

class KeyRegistry {
public:
    // Gives ids and generations to the nodes of a fresh build.
    void assign(std::vector<Node>& nodes);

private:
    std::unordered_map<std::string, KeyState> keys_;
    std::uint64_t nextId_ = 1;
    std::uint64_t build_ = 0;
};

class Tree {
public:
    // Adds a node below `parent` (-1 for a root); the key is the parent's key + "/" + suffix.
    int add(int parent, std::string_view keySuffix, std::string role, std::string sig);
    Node& operator[](int index) { return nodes_[static_cast<std::size_t>(index)]; }
    const Node& operator[](int index) const { return nodes_[static_cast<std::size_t>(index)]; }
    std::size_t size() const { return nodes_.size(); }
    std::vector<Node>& nodes() { return nodes_; }
    const std::vector<Node>& nodes() const { return nodes_; }
    void commit(KeyRegistry& registry);
    // Index of the live node for a handle, or -1 when the handle is stale.
    int find(std::uint64_t id, std::uint64_t gen) const;
    int findById(std::uint64_t id) const;
    int findKey(std::string_view key) const;
    void clear();

private:
    std::vector<Node> nodes_;
    std::unordered_map<std::uint64_t, int> byId_;
    std::unordered_map<std::string, int> byKey_;
};

}  // namespace corvane::standin::detail
