// How the simulated Logic Pro reacts: selection, folders, toggles, transport, AX actions and value writes.

#include <algorithm>
#include <cmath>

#include "platform/standin/engine.h"
#include "platform/standin/plugin_parameters.h"
#include "platform/standin/taper.h"

namespace corvane::standin::detail {

using platform::AXError;

void Engine::setStripTrack(int id) {
    if (project.stripTrackId == id) return;
    project.stripTrackId = id;
    lastTouchedSend.reset();
    changed();
}

void Engine::selectTrack(int id) {
    if (!project.trackById(id) || (project.selectedTrackId == id && project.alsoSelectedTrackIds.empty())) return;
    project.alsoSelectedTrackIds.clear();
    project.selectedTrackId = id;
    changed();
    if (faults.lateStripUpdate > 0) {
        const int launch = launchCount;
        schedule(faults.lateStripUpdate, "strips follow the selection", [this, id, launch] {
            if (launchCount == launch) setStripTrack(id);
        });
    } else {
        setStripTrack(id);
    }
}

void Engine::addToSelection(int id) {
    if (!project.isVisible(id) || project.isSelected(id)) return;
    if (!project.trackById(project.selectedTrackId)) return selectTrack(id);
    project.alsoSelectedTrackIds.push_back(id);
    changed();
}

void Engine::setExpanded(int folderId, bool expanded) {
    Track* f = project.trackById(folderId);
    if (!f || f->kind != TrackKind::folder || f->expanded == expanded) return;
    f->expanded = expanded;
    changed();
    // A selection hidden inside a collapsed folder moves to the folder.
    if (!expanded && project.isAncestor(folderId, project.selectedTrackId)) selectTrack(folderId);
}

void Engine::toggleMute(int id) {
    if (Track* t = project.trackById(id)) {
        t->muted = !t->muted;
        changed();
    }
}

void Engine::toggleSolo(int id) {
    if (Track* t = project.trackById(id)) {
        t->soloed = !t->soloed;
        changed();
    }
}

void Engine::toggleInspector() {
    inspectorVisible = !inspectorVisible;
    changed();
}

void Engine::startPlayback() {
    Transport& t = project.transport;
    if (t.playing) return;
    if (t.positionTicks >= t.endTicks()) t.positionTicks = 0;
    t.playing = true;
    changed();
}

void Engine::stopPlayback() {
    Transport& t = project.transport;
    if (!t.playing && !t.recording) return;
    t.playing = false;
    t.recording = false;
    changed();
}

int Engine::strip1Track() const {
    const Track* t = project.trackById(project.stripTrackId);
    if (!t) return -1;
    if (lastTouchedSend && lastTouchedSend->trackId == t->id) {
        int aux = project.auxForBus(lastTouchedSend->bus);
        if (aux >= 0) return aux;
    }
    int fed = project.trackFedBy(t->strip.output);
    return fed == t->id ? -1 : fed;
}

namespace {

// A track surfaced into the track list takes the next free number and goes to the end.
void surface(Project& p, int id) {
    Track* t = p.trackById(id);
    if (!t || t->inArrange) return;
    t->inArrange = true;
    t->number = p.maxTrackNumber() + 1;
    auto it = std::find_if(p.tracks.begin(), p.tracks.end(), [id](const Track& x) { return x.id == id; });
    std::rotate(it, it + 1, p.tracks.end());
}

std::optional<double> numberOf(const platform::AXValue& v) {
    if (auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
    if (auto* d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d)) return std::nullopt;
        return *d;
    }
    return std::nullopt;
}

int truncatedClamp(double v, int lo, int hi) {
    return static_cast<int>(std::trunc(std::clamp(v, double(lo), double(hi))));
}

}  // namespace

AXError Engine::press(int nodeIndex, const std::string& action) {
    const Binding b = tree[nodeIndex].bind;
    const bool up = action == "AXIncrement";
    const bool step = action == "AXIncrement" || action == "AXDecrement";
    Track* track = project.trackById(b.track);
    Transport& tr = project.transport;

    switch (b.kind) {
        case Bind::window: raiseLogicWindow(b.name); return AXError::success;
        case Bind::decoy: return AXError::success;
        case Bind::titleBarButton:
            if (b.index == 0 && b.name == "main") {
                // Closing the project's window: Logic runs on without it.
                mainWindowClosed = true;
                syncLogicWindows();
            } else if (b.index == 2) {
                setMinimised(b.name, true);
            }
            return AXError::success;
        case Bind::viewToggle:
            // Shows or hides the mixer area below the tracks; only the check box's state is modelled.
            mixerAreaShown = !mixerAreaShown;
            changed();
            return AXError::success;
        case Bind::transport:
            if (b.name == "Play")
                startPlayback();
            else if (b.name == "Stop")
                stopPlayback();
            else if (b.name == "Go to Beginning") {
                if (tr.positionTicks != 0) {
                    tr.positionTicks = 0;
                    changed();
                }
            } else if (b.name == "Record") {
                tr.recording = !tr.recording;
                if (tr.recording) tr.playing = true;
                changed();
            } else if (b.name == "Cycle") {
                tr.cycleOn = !tr.cycleOn;
                changed();
            } else if (b.name == "Solo") {
                tr.globalSolo = !tr.globalSolo;
                changed();
            }
            return AXError::success;
        case Bind::tempo:
            tr.tempo = std::clamp(tr.tempo + (up ? 1 : -1), 5.0, 990.0);
            changed();
            return AXError::success;
        case Bind::playheadSlider: {
            if (b.readOnly) return AXError::success;
            PlayheadPosition p = tr.playhead();
            int* fields[4] = {&p.bar, &p.beat, &p.division, &p.tick};
            *fields[b.index] += up ? 1 : -1;
            tr.setPlayhead(p);
            changed();
            return AXError::success;
        }
        case Bind::header: selectTrack(b.track); return AXError::success;
        case Bind::headerTriangle:
            if (track) setExpanded(track->id, !track->expanded);
            return AXError::success;
        case Bind::headerMute: toggleMute(b.track); return AXError::success;
        case Bind::headerSolo: toggleSolo(b.track); return AXError::success;
        // The strip's switches act on every selected track, as the keys do.
        case Bind::stripMute:
            for (int id : project.isSelected(b.track) ? project.selectedTrackIds() : std::vector<int>{b.track})
                toggleMute(id);
            return AXError::success;
        case Bind::stripSolo:
            for (int id : project.isSelected(b.track) ? project.selectedTrackIds() : std::vector<int>{b.track})
                toggleSolo(id);
            return AXError::success;
        case Bind::slotBypass:
            if (track && b.index >= 0 && b.index < int(track->strip.inserts.size())) {
                auto& slot = track->strip.inserts[static_cast<std::size_t>(b.index)];
                slot.bypassed = !slot.bypassed;
                changed();
            }
            return AXError::success;
        case Bind::volume:
            if (track && step) {
                track->strip.volume = std::clamp(track->strip.volume + (up ? 1 : -1), 0, taper::kMaxRaw);
                changed();
            }
            return AXError::success;
        case Bind::pan:
            if (track && step) {
                track->strip.pan = std::clamp(track->strip.pan + (up ? 1 : -1), -64, 63);
                changed();
            }
            return AXError::success;
        case Bind::sendKnob:
            if (track && b.index >= 0 && b.index < int(track->strip.sends.size())) {
                Send& s = track->strip.sends[static_cast<std::size_t>(b.index)];
                s.detent = std::clamp(s.detent + (up ? 1 : -1), 0, taper::kSendDetents - 1);
                lastTouchedSend = UiState::TouchedSend{track->id, s.bus};
                changed();
            }
            return AXError::success;
        case Bind::automationPower:
            if (track) {
                track->strip.automation.power = !track->strip.automation.power;
                if (track->strip.automation.power &&
                    (track->kind == TrackKind::aux || track->kind == TrackKind::output))
                    surface(project, track->id);
                changed();
            }
            return AXError::success;
        case Bind::insertBar:
            if (action == "AXPress" || action == "AXShowMenu") openMenu(OpenMenu::Kind::insert, nodeIndex);
            return AXError::success;
        case Bind::slotList:
            if (action == "AXPress" || action == "AXShowMenu") openMenu(OpenMenu::Kind::slot, nodeIndex);
            return AXError::success;
        case Bind::filledSlotButton:
            // Logic's plug-in button on a filled slot offers the plug-in menu to replace that plug-in.
            if (action == "AXPress" || action == "AXShowMenu") openMenu(OpenMenu::Kind::insert, nodeIndex);
            return AXError::success;
        case Bind::menuItem: return pressMenuItem(nodeIndex);
        case Bind::mainMenuItem: return pressMainMenuItem(nodeIndex);
        case Bind::automationList: return pressAutomationList(nodeIndex, action);
        case Bind::slotOpen:
        case Bind::pluginClose:
        case Bind::pluginBypass:
        case Bind::pluginHeaderButton:
        case Bind::viewButton:
        case Bind::sidechainPopup:
        case Bind::pluginControl: return pressPluginNode(nodeIndex, action);
        case Bind::channelMode:
        case Bind::input:
        case Bind::output:
            // Not simulated yet: fail visibly rather than pretend.
            return AXError::cannotComplete;
        default: return AXError::actionUnsupported;
    }
}

AXError Engine::writeValue(int nodeIndex, const platform::AXValue& value) {
    const Binding b = tree[nodeIndex].bind;
    if (b.kind == Bind::pluginControl) return writePluginControl(*this, nodeIndex, value);
    if (b.kind == Bind::sidechainPopup) {
        auto* textValue = std::get_if<std::string>(&value);
        return textValue ? writePopupText(nodeIndex, *textValue) : AXError::illegalArgument;
    }
    if (b.kind == Bind::headerName) {
        auto* textValue = std::get_if<std::string>(&value);
        return textValue ? writeRenameText(nodeIndex, *textValue) : AXError::illegalArgument;
    }
    auto v = numberOf(value);
    if (!v) return AXError::illegalArgument;
    Track* track = project.trackById(b.track);
    switch (b.kind) {
        case Bind::volume:
            if (!track) return AXError::invalidUIElement;
            track->strip.volume = truncatedClamp(*v, 0, taper::kMaxRaw);
            changed();
            return AXError::success;
        case Bind::pan:
            if (!track) return AXError::invalidUIElement;
            track->strip.pan = truncatedClamp(*v, -64, 63);
            changed();
            return AXError::success;
        case Bind::sendKnob: return writeSendKnob(nodeIndex, *v);
        case Bind::playheadSlider: {
            if (b.readOnly) return AXError::success;
            Transport& tr = project.transport;
            PlayheadPosition p = tr.playhead();
            int* fields[4] = {&p.bar, &p.beat, &p.division, &p.tick};
            *fields[b.index] = truncatedClamp(*v, -1000000, 1000000);
            tr.setPlayhead(p);
            changed();
            return AXError::success;
        }
        default: return AXError::attributeUnsupported;
    }
}

}  // namespace corvane::standin::detail
