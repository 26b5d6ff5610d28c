// Building Logic's Accessibility tree from the model, with frames from the layout table.

#include <cmath>
#include <string>

#include <fmt/format.h>

#include "platform/standin/engine.h"
#include "platform/standin/layout.h"
#include "platform/standin/taper.h"

namespace corvane::standin::detail {

namespace {

using platform::Rect;

Value intValue(long long v) { return Value{static_cast<std::int64_t>(v)}; }

Value numberValue(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) return intValue(static_cast<long long>(v));
    return Value{v};
}

class Builder {
public:
    explicit Builder(Engine& engine) : e_(engine), t_(engine.tree) {
        base_ = fmt::format("L{}E{}", e_.launchCount, e_.staleEpoch);
    }

    void build() {
        t_.clear();
        if (!e_.logicRunning) return;
        // The application's element stands for the process: only a quit and relaunch ends it.
        int app = t_.add(-1, "app", "AXApplication", fmt::format("L{}", e_.launchCount));
        Node& a = t_[app];
        a.title = e_.logicApp.name.value_or("Logic Pro");
        a.hasFrame = false;
        a.bind.kind = Bind::app;
        for (const ScreenWindow* w : e_.logicWindows()) window(app, *w);
        int bar = t_.add(app, "menubar", "AXMenuBar", base_);
        t_[bar].frame = {0, 0, 1440, 25};
        t_[bar].bind.kind = Bind::menuBar;
        buildMainMenu(e_, bar, base_);
        buildOpenMenu(e_, app, base_);
    }

private:
    int node(int parent, const std::string& suffix, const char* role, const std::string& sig, Rect frame,
             std::optional<std::string> description = std::nullopt, Bind kind = Bind::none, int track = -1,
             int index = -1) {
        int i = t_.add(parent, suffix, role, sig);
        Node& n = t_[i];
        n.frame = frame;
        n.description = std::move(description);
        n.bind.kind = kind;
        n.bind.track = track;
        n.bind.index = index;
        return i;
    }

    void window(int app, const ScreenWindow& w) {
        int win = t_.add(app, "w:" + w.logicKey, "AXWindow", base_);
        Node& n = t_[win];
        n.windowKey = w.logicKey;
        n.subrole = "AXStandardWindow";
        n.title = w.title;
        n.frame = w.frame;
        n.actions = {"AXRaise"};
        n.bind.kind = Bind::window;
        n.bind.name = w.logicKey;
        n.minimised = w.minimised;
        if (w.logicKey == "main") {
            mainWindow(win);
            // The layout table places the main window's contents for its home frame; they move with it.
            const double dx = w.frame.x - layout::kMainWindow.x, dy = w.frame.y - layout::kMainWindow.y;
            for (std::size_t i = static_cast<std::size_t>(win) + 1; i < t_.size(); ++i) {
                t_[static_cast<int>(i)].frame.x += dx;
                t_[static_cast<int>(i)].frame.y += dy;
            }
            if (e_.faults.windowDecoys) titleBarButtons(win, w);
        } else if (w.logicKey == "mixer")
            mixerWindow(win, w.frame);
        else if (w.logicKey.rfind("plugin:", 0) == 0)
            buildPluginWindow(e_, win, w, base_);
    }

    // The standard title-bar buttons, after the window's contents as AppKit lists them.
    void titleBarButtons(int win, const ScreenWindow& w) {
        struct Button {
            const char* key;
            const char* subrole;
            const char* description;
        };
        const Button buttons[] = {{"closeButton", "AXCloseButton", "close"},
                                  {"fullScreenButton", "AXFullScreenButton", "full screen"},
                                  {"minimiseButton", "AXMinimizeButton", "minimize"}};
        for (int i = 0; i < 3; ++i) {
            const Rect frame{w.frame.x + 7 + 20.0 * i, w.frame.y + 4, 14, 14};
            int b = node(win, buttons[i].key, "AXButton", base_, frame, buttons[i].description, Bind::titleBarButton,
                         -1, i);
            t_[b].subrole = buttons[i].subrole;
            t_[b].bind.name = w.logicKey;
            t_[b].actions = {"AXPress"};
        }
    }

    void decoys(int container, Rect frame) {
        if (!e_.faults.decoyContainers) return;
        int open =
            node(container, "decoy-open", "AXButton", base_, {frame.x + 1, frame.y + 1, 10, 10}, "open", Bind::decoy);
        t_[open].actions = {"AXPress"};
        int bypass = node(container, "decoy-bypass", "AXCheckBox", base_, {frame.x + 12, frame.y + 1, 10, 10}, "bypass",
                          Bind::decoy);
        t_[bypass].value = intValue(0);
        t_[bypass].actions = {"AXPress"};
    }

    void mainWindow(int win) {
        if (!e_.faults.mainMenuAppOnly) {
            int mirror = node(win, "menubar", "AXMenuBar", base_, {0, 0, 1440, 25}, std::nullopt, Bind::menuBar);
            buildMainMenu(e_, mirror, base_);
        }
        if (e_.faults.secondPlayheadGroup) playheadGroup(win, "upper-playhead", layout::kUpperPlayheadGroup, true);
        controlBar(win);
        if (e_.inspectorVisible) inspector(win);
        if (e_.faults.windowDecoys) {
            int project = node(win, "project", "AXGroup", base_, layout::kProjectArea, "Project", Bind::container);
            decoys(project, layout::kProjectArea);
        }
        tracksArea(win);
    }

    void controlBar(int win) {
        const Transport& tr = e_.project.transport;
        int cb = node(win, "controlbar", "AXGroup", base_, layout::kControlBar, "Control Bar", Bind::container);
        decoys(cb, layout::kControlBar);
        struct Btn {
            const char* name;
            Rect frame;
        };
        for (Btn b : {Btn{"Go to Beginning", layout::kGoToBeginning}, Btn{"Stop", layout::kStop}}) {
            int i = node(cb, b.name, "AXButton", base_, b.frame, b.name, Bind::transport);
            t_[i].bind.name = b.name;
            t_[i].actions = {"AXPress"};
        }
        struct Check {
            const char* name;
            Rect frame;
            bool on;
        };
        for (Check c : {Check{"Play", layout::kPlay, tr.playing}, Check{"Record", layout::kRecord, tr.recording},
                        Check{"Cycle", layout::kCycle, tr.cycleOn}, Check{"Solo", layout::kSolo, tr.globalSolo}}) {
            int i = node(cb, c.name, "AXCheckBox", base_, c.frame, c.name, Bind::transport);
            t_[i].title = c.name;
            t_[i].value = toggle(c.on);
            t_[i].bind.name = c.name;
            t_[i].actions = {"AXPress"};
        }
        playheadGroup(cb, "playhead", layout::kPlayheadGroup, false);
        int tempo = node(cb, "tempo", "AXSlider", base_, layout::kTempo, "Tempo", Bind::tempo);
        t_[tempo].value = numberValue(tr.tempo);
        t_[tempo].minValue = intValue(5);
        t_[tempo].maxValue = intValue(990);
        t_[tempo].actions = {"AXIncrement", "AXDecrement"};
        int sig =
            node(cb, "signature", "AXStaticText", base_, layout::kTimeSignature, "Time Signature", Bind::timeSignature);
        t_[sig].value = Value{fmt::format("{}/{}", tr.numerator, tr.denominator)};
        // Shows the mixer area in the main window: a "Mixer" met before the Inspector's "Mixer" area.
        int mixer = node(cb, "view-mixer", "AXCheckBox", base_, layout::kMixerButton, "Mixer", Bind::viewToggle);
        t_[mixer].title = "Mixer";
        t_[mixer].value = intValue(e_.mixerAreaShown ? 1 : 0);
        t_[mixer].actions = {"AXPress"};
    }

    void playheadGroup(int parent, const std::string& suffix, Rect frame, bool readOnly) {
        const Transport& tr = e_.project.transport;
        int g = node(parent, suffix, "AXGroup", base_, frame, "Playhead Position", Bind::playheadGroup);
        t_[g].bind.readOnly = readOnly;
        const PlayheadPosition p = tr.playhead();
        const int values[4] = {p.bar, p.beat, p.division, p.tick};
        const int maxima[4] = {tr.lengthBars, tr.numerator, tr.divisionsPerBeat(), Transport::kTicksPerDivision};
        const char* names[4] = {"bar", "beat", "division", "tick"};
        for (int i = 0; i < 4; ++i) {
            int s = node(g, names[i], "AXSlider", base_,
                         {layout::kPlayheadSliderX[i], frame.y + (readOnly ? 0 : 4), layout::kPlayheadSliderW[i],
                          readOnly ? frame.height : 24},
                         names[i], Bind::playheadSlider, -1, i);
            Node& n = t_[s];
            n.value = intValue(values[i]);
            n.minValue = intValue(1);
            n.maxValue = intValue(maxima[i]);
            n.valueSettable = true;
            n.bind.readOnly = readOnly;
            n.actions = {"AXIncrement", "AXDecrement"};
        }
    }

    void inspector(int win) {
        int ins = node(win, "inspector", "AXGroup", base_, layout::kInspector, "Inspector", Bind::container);
        decoys(ins, layout::kInspector);
        int mixer = node(ins, "mixer", "AXLayoutArea", base_, layout::kInspector, "Mixer", Bind::mixerArea);
        const double top = layout::kInspector.y;
        strip(mixer, "strip0", e_.project.stripTrackId, layout::kStripX[0], top);
        strip(mixer, "strip1", e_.strip1Track(), layout::kStripX[1], top);
    }

    void mixerWindow(int win, Rect frame) {
        Rect area{frame.x, frame.y + layout::kTitleBarHeight, frame.width, frame.height - layout::kTitleBarHeight};
        int mixer = node(win, "mixer", "AXLayoutArea", base_, area, "Mixer", Bind::mixerArea);
        int i = 0;
        for (const Track& t : e_.project.tracks)
            strip(mixer, "m:" + std::to_string(t.id), t.id, area.x + 5 + layout::kMixerStripPitch * i++, area.y);
    }

    void strip(int parent, const std::string& suffix, int trackId, double x, double top) {
        const Track* tr = e_.project.trackById(trackId);
        if (!tr) return;
        const ChannelStrip& s = tr->strip;
        const std::string sig = base_ + "|S" + std::to_string(trackId);
        const int id = trackId;
        int st = node(parent, suffix, "AXGroup", sig, {x, top, layout::kStripWidth, layout::kStripHeight}, std::nullopt,
                      Bind::strip, id);

        int mode = node(st, "mode", "AXButton", sig, {x + 2, top + layout::kChannelModeY, 76, 18}, "channel mode",
                        Bind::channelMode, id);
        t_[mode].value = Value{s.channelMode};
        t_[mode].actions = {"AXPress"};
        if (!s.input.empty()) {
            int in =
                node(st, "input", "AXButton", sig, {x + 2, top + layout::kInputY, 76, 18}, s.input, Bind::input, id);
            t_[in].help = "Input slot: " + s.input;
            t_[in].actions = {"AXPress"};
        }

        // The chain: one insert bar above every slot, and a bottom bar while there is room.
        std::string chainSig = sig + "|C";
        for (const InsertSlot& slot : s.inserts) chainSig += std::to_string(slot.uid) + ",";
        const double insTop = top + layout::kInsertsY;
        const int n = static_cast<int>(s.inserts.size());
        const bool full = n >= layout::kMaxSlots;
        const double insHeight = n * layout::kInsertPitch + (full ? 0 : layout::kBottomBarHeight);
        int ins = node(st, "inserts", "AXGroup", sig, {x, insTop, layout::kStripWidth, insHeight}, std::nullopt,
                       Bind::insertsGroup, id);
        for (int i = 0; i < n; ++i) {
            const InsertSlot& slot = s.inserts[static_cast<std::size_t>(i)];
            const double y = insTop + i * layout::kInsertPitch;
            int bar =
                node(ins, "bar" + std::to_string(i), "AXButton", chainSig,
                     {x + 1, y, layout::kSlotWidth, layout::kInsertBarHeight}, "insert bar", Bind::insertBar, id, i);
            t_[bar].actions = {"AXPress", "AXShowMenu"};
            const double sy = y + layout::kInsertBarHeight;
            const std::string key = "slot" + std::to_string(i);
            int g = node(ins, key, "AXGroup", chainSig, {x + 1, sy, layout::kSlotWidth, layout::kSlotHeight},
                         e_.slotShownName(slot), Bind::slot, id, i);
            if (e_.faults.filledSlotButton) {
                // First, so that the slot's own controls (later siblings) win hit-tests.
                int fb = node(g, "plugin", "AXButton", chainSig, {x + 1, sy, layout::kSlotWidth, layout::kSlotHeight},
                              "audio plug-in", Bind::filledSlotButton, id, i);
                t_[fb].actions = {"AXPress", "AXShowMenu"};
            }
            int by =
                node(g, "bypass", "AXCheckBox", chainSig, {x + 1, sy, layout::kSlotBypassWidth, layout::kSlotHeight},
                     "bypass", Bind::slotBypass, id, i);
            t_[by].value = toggle(slot.bypassed);
            t_[by].actions = {"AXPress"};
            int open = node(g, "open", "AXButton", chainSig,
                            {x + 1 + layout::kSlotBypassWidth, sy, layout::kSlotOpenEnd - layout::kSlotBypassWidth,
                             layout::kSlotHeight},
                            "open", Bind::slotOpen, id, i);
            t_[open].actions = {"AXPress"};
            int list =
                node(g, "list", "AXButton", chainSig,
                     {x + 1 + layout::kSlotOpenEnd, sy, layout::kSlotWidth - layout::kSlotOpenEnd, layout::kSlotHeight},
                     "list", Bind::slotList, id, i);
            t_[list].actions = {"AXPress", "AXShowMenu"};
        }
        if (!full) {
            int bar = node(ins, "bar" + std::to_string(n), "AXButton", chainSig,
                           {x + 1, insTop + n * layout::kInsertPitch, layout::kSlotWidth, layout::kBottomBarHeight},
                           "insert bar", Bind::insertBar, id, n);
            t_[bar].actions = {"AXPress", "AXShowMenu"};
        }

        const double sendsTop = top + layout::kSendsY;
        int sends = node(st, "sends", "AXGroup", sig,
                         {x, sendsTop, layout::kStripWidth, layout::kSendPitch * double(s.sends.size())}, std::nullopt,
                         Bind::sendsGroup, id);
        for (std::size_t i = 0; i < s.sends.size(); ++i) {
            const Send& send = s.sends[i];
            const double y = sendsTop + layout::kSendPitch * double(i);
            const int idx = static_cast<int>(i);
            int row = node(sends, "send" + std::to_string(i), "AXGroup", sig, {x, y, layout::kStripWidth, 18},
                           std::nullopt, Bind::sendRow, id, idx);
            node(row, "label", "AXGroup", sig, {x + 2, y, 30, 18}, "B " + std::to_string(send.bus), Bind::sendLabel, id,
                 idx);
            int knob = node(row, "knob", "AXSlider", sig, {x + 36, y, 40, 18}, "send knob", Bind::sendKnob, id, idx);
            Node& k = t_[knob];
            k.value = intValue(taper::sendDetentRaw(send.detent));
            k.valueDescription = taper::sendDetentText(send.detent);
            k.minValue = intValue(0);
            k.maxValue = intValue(taper::kSendMaxRaw);
            k.valueSettable = true;
            k.actions = {"AXIncrement", "AXDecrement"};
        }

        int out =
            node(st, "output", "AXButton", sig, {x + 2, top + layout::kOutputY, 76, 18}, s.output, Bind::output, id);
        t_[out].help = "Output slot: " + s.output;
        t_[out].actions = {"AXPress"};

        const double ay = top + layout::kAutomationY;
        int autoGroup = node(st, "automation", "AXGroup", sig, {x + 2, ay, 76, 18}, s.automation.mode + ", automation",
                             Bind::automationGroup, id);
        int autoList = node(autoGroup, "list", "AXButton", sig, {x + 2, ay, 56, 18}, "list", Bind::automationList, id);
        t_[autoList].actions = {"AXPress", "AXShowMenu", "AXCancel"};
        int power =
            node(autoGroup, "power", "AXCheckBox", sig, {x + 60, ay, 18, 18}, "automation", Bind::automationPower, id);
        t_[power].value = intValue(s.automation.power ? 1 : 0);
        t_[power].actions = {"AXPress"};

        int pan = node(st, "pan", "AXSlider", sig, {x + 28, top + layout::kPanY, 24, 24}, "pan", Bind::pan, id);
        t_[pan].value = intValue(s.pan);
        t_[pan].minValue = intValue(-64);
        t_[pan].maxValue = intValue(63);
        t_[pan].valueSettable = true;
        t_[pan].actions = {"AXIncrement", "AXDecrement"};

        int fader = node(st, "volume", "AXSlider", sig, {x + 30, top + layout::kFaderY, 20, layout::kFaderHeight},
                         "volume fader", Bind::volume, id);
        t_[fader].value = intValue(s.volume);
        t_[fader].minValue = intValue(0);
        t_[fader].maxValue = intValue(taper::kMaxRaw);
        t_[fader].valueSettable = true;
        t_[fader].actions = {"AXIncrement", "AXDecrement"};

        const std::string levelText = taper::levelText(s.volume, e_.faults.levelFormatPlain);
        int level = node(st, "level", "AXTextField", sig, {x + 2, top + layout::kLevelY, 76, 16}, "volume fader level",
                         Bind::level, id);
        t_[level].value = Value{levelText};
        t_[level].title = levelText;

        int mute =
            node(st, "mute", "AXCheckBox", sig, {x + 2, top + layout::kMuteSoloY, 36, 18}, "mute", Bind::stripMute, id);
        t_[mute].value = intValue(tr->muted ? 1 : 0);
        t_[mute].actions = {"AXPress"};
        int solo = node(st, "solo", "AXCheckBox", sig, {x + 42, top + layout::kMuteSoloY, 36, 18}, "solo",
                        Bind::stripSolo, id);
        t_[solo].value = intValue(tr->soloed ? 1 : 0);
        t_[solo].actions = {"AXPress"};

        int name =
            node(st, "name", "AXTextField", sig, {x + 2, top + layout::kNameY, 76, 20}, "name", Bind::stripName, id);
        t_[name].value = Value{tr->name};
        if (e_.faults.duplicateNameField) {
            int extra = node(st, "name2", "AXTextField", sig, {x + 2, top + layout::kExtraNameY, 76, 8}, "name",
                             Bind::extraName, id);
            t_[extra].value = Value{std::string()};
        }
    }

    std::string headerText(const Track& t) const {
        const char* open = e_.faults.plainQuotes ? "\"" : "\u201C";
        const char* close = e_.faults.plainQuotes ? "\"" : "\u201D";
        std::string s = "Track " + std::to_string(t.number) + " " + open + t.name + close;
        if (t.muted) s += ", muted";
        return s;
    }

    Value toggle(bool on) const {
        if (e_.faults.toggleValueText) return Value{std::string(on ? "On" : "Off")};
        return intValue(on ? 1 : 0);
    }

    void tracksArea(int win) {
        const Project& p = e_.project;
        int tracks = node(win, "tracks", "AXGroup", base_, layout::kTracks, "Tracks", Bind::container);
        decoys(tracks, layout::kTracks);

        const std::vector<int> visible = p.visibleTrackIds();
        std::string listSig = base_ + "|T";
        for (int id : visible) listSig += std::to_string(id) + ",";
        const double rh = e_.rowHeight;
        const double ppb = e_.pointsPerBar;

        int column =
            node(tracks, "headers", "AXGroup", listSig, layout::kHeaderColumn, std::nullopt, Bind::headerColumn);
        for (std::size_t i = 0; i < visible.size(); ++i) {
            const Track& t = *p.trackById(visible[i]);
            const double hx = layout::kHeaderX + layout::kIndent * p.depthOf(t.id);
            const double hy = layout::kFirstRowY + rh * double(i);
            const double hw = layout::kHeaderRight - hx;
            int h = node(column, "h:" + std::to_string(t.id), "AXGroup", listSig, {hx, hy, hw, rh - 2}, headerText(t),
                         Bind::header, t.id);
            t_[h].selected = p.isSelected(t.id);
            t_[h].focused = t.id == p.selectedTrackId;
            t_[h].actions = {"AXPress"};
            if (t.kind == TrackKind::folder) {
                int tri = node(h, "triangle", "AXDisclosureTriangle", listSig, {hx + 2, hy + 13, 12, 12}, std::nullopt,
                               Bind::headerTriangle, t.id);
                t_[tri].value = intValue(t.expanded ? 1 : 0);
                t_[tri].actions = {"AXPress"};
            }
            int mute =
                node(h, "mute", "AXCheckBox", listSig, {hx + hw - 52, hy + 10, 22, 18}, "mute", Bind::headerMute, t.id);
            t_[mute].value = toggle(t.muted);
            t_[mute].actions = {"AXPress"};
            int solo =
                node(h, "solo", "AXCheckBox", listSig, {hx + hw - 26, hy + 10, 22, 18}, "solo", Bind::headerSolo, t.id);
            t_[solo].value = toggle(t.soloed);
            t_[solo].actions = {"AXPress"};
            int name = node(h, "name", "AXTextField", listSig, {hx + 18, hy + 10, 120, 18}, "track name",
                            Bind::headerName, t.id);
            t_[name].value = Value{t.name};
            if (e_.renaming && e_.renaming->trackId == t.id) {
                t_[name].value = Value{e_.renaming->text};
                t_[name].valueSettable = true;
                t_[name].focused = true;
            }
        }

        int ruler = node(tracks, "ruler", "AXGroup", base_, layout::kRuler, std::nullopt, Bind::ruler);
        node(ruler, "start", "AXValueIndicator", base_, {layout::kStartX, layout::kRuler.y, 1, layout::kRuler.height},
             "Start Marker", Bind::startMarker);
        const Transport& tr = p.transport;
        const double bars = std::floor(std::max(0.0, tr.positionTicks) / tr.ticksPerBar()) + tr.barFraction();
        node(ruler, "playhead", "AXValueIndicator", base_,
             {layout::kStartX + bars * ppb, layout::kRuler.y, 1, layout::kRuler.height}, "Playhead thumb",
             Bind::playheadThumb);

        int contents =
            node(tracks, "contents", "AXLayoutArea", base_, layout::kContents, "Tracks contents", Bind::contents);
        for (std::size_t i = 0; i < visible.size(); ++i) {
            const Track& t = *p.trackById(visible[i]);
            const double y = layout::kFirstRowY + rh * double(i);
            int row = node(contents, "r:" + std::to_string(t.id), "AXGroup", listSig,
                           {layout::kStartX, y, layout::kContents.width, rh - 2}, headerText(t), Bind::row, t.id);
            for (std::size_t r = 0; r < t.regions.size(); ++r) {
                const Region& reg = t.regions[r];
                std::string desc = reg.name + (reg.muted ? ", muted" : "");
                node(row, "g" + std::to_string(r), "AXLayoutItem", listSig,
                     {layout::kStartX + (reg.startBar - 1) * ppb, y + 2, reg.lengthBars * ppb, rh - 6}, desc,
                     Bind::region, t.id, static_cast<int>(r));
            }
        }
    }

    Engine& e_;
    Tree& t_;
    std::string base_;
};

}  // namespace

void buildTree(Engine& e) {
    Builder(e).build();
    e.tree.commit(e.registry);
}

}  // namespace corvane::standin::detail
