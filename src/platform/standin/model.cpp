#include "platform/standin/model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace corvane::standin {

int Transport::divisionsPerBeat() const { return std::max(1, 16 / std::max(1, denominator)); }
double Transport::ticksPerBeat() const { return double(divisionsPerBeat()) * kTicksPerDivision; }
double Transport::ticksPerBar() const { return ticksPerBeat() * std::max(1, numerator); }
// A quarter note is four sixteenths, whatever the time signature.
double Transport::ticksPerSecond() const { return tempo / 60.0 * 4.0 * kTicksPerDivision; }
double Transport::endTicks() const { return ticksPerBar() * std::max(1, lengthBars); }

PlayheadPosition Transport::playhead() const {
    double t = std::isfinite(positionTicks) ? std::clamp(positionTicks, 0.0, endTicks()) : 0.0;
    const double bar = ticksPerBar();
    const double beat = ticksPerBeat();
    PlayheadPosition p;
    p.bar = int(std::floor(t / bar)) + 1;
    double inBar = t - (p.bar - 1) * bar;
    p.beat = std::clamp(int(std::floor(inBar / beat)) + 1, 1, std::max(1, numerator));
    double inBeat = inBar - (p.beat - 1) * beat;
    p.division = std::clamp(int(std::floor(inBeat / kTicksPerDivision)) + 1, 1, divisionsPerBeat());
    double inDivision = inBeat - (p.division - 1) * kTicksPerDivision;
    p.tick = std::clamp(int(std::floor(inDivision)) + 1, 1, kTicksPerDivision);
    return p;
}

void Transport::setPlayhead(const PlayheadPosition& p) {
    int bar = std::clamp(p.bar, 1, std::max(1, lengthBars));
    int beat = std::clamp(p.beat, 1, std::max(1, numerator));
    int division = std::clamp(p.division, 1, divisionsPerBeat());
    int tick = std::clamp(p.tick, 1, kTicksPerDivision);
    positionTicks = (bar - 1) * ticksPerBar() + (beat - 1) * ticksPerBeat() +
                    (division - 1) * double(kTicksPerDivision) + (tick - 1);
}

double Transport::barFraction() const {
    double bar = ticksPerBar();
    double t = std::isfinite(positionTicks) ? std::clamp(positionTicks, 0.0, endTicks()) : 0.0;
    return (t - std::floor(t / bar) * bar) / bar;
}

const Track* Project::track(std::string_view n) const {
    for (const auto& t : tracks)
        if (t.name == n) return &t;
    return nullptr;
}
Track* Project::track(std::string_view n) { return const_cast<Track*>(static_cast<const Project*>(this)->track(n)); }
const Track* Project::trackById(int id) const {
    for (const auto& t : tracks)
        if (t.id == id) return &t;
    return nullptr;
}
Track* Project::trackById(int id) { return const_cast<Track*>(static_cast<const Project*>(this)->trackById(id)); }

const PluginDefinition* Project::plugin(std::string_view n) const {
    for (const auto& p : plugins)
        if (p.name == n) return &p;
    return nullptr;
}

int Project::depthOf(int id) const {
    int depth = 0;
    const Track* t = trackById(id);
    while (t && t->parent >= 0 && depth < 1000) {
        t = trackById(t->parent);
        ++depth;
    }
    return depth;
}

bool Project::isAncestor(int ancestorId, int id) const {
    const Track* t = trackById(id);
    for (int guard = 0; t && t->parent >= 0 && guard < 1000; ++guard) {
        if (t->parent == ancestorId) return true;
        t = trackById(t->parent);
    }
    return false;
}

bool Project::isSelected(int id) const {
    return id == selectedTrackId ||
           std::find(alsoSelectedTrackIds.begin(), alsoSelectedTrackIds.end(), id) != alsoSelectedTrackIds.end();
}

std::vector<int> Project::selectedTrackIds() const {
    std::vector<int> ids;
    if (trackById(selectedTrackId)) ids.push_back(selectedTrackId);
    for (int id : alsoSelectedTrackIds)
        if (trackById(id)) ids.push_back(id);
    return ids;
}

bool Project::isVisible(int id) const {
    const Track* t = trackById(id);
    if (!t || !t->inArrange) return false;
    for (int guard = 0; t->parent >= 0 && guard < 1000; ++guard) {
        t = trackById(t->parent);
        if (!t || !t->expanded || !t->inArrange) return false;
    }
    return true;
}

std::vector<int> Project::visibleTrackIds() const {
    std::vector<int> ids;
    for (const auto& t : tracks)
        if (isVisible(t.id)) ids.push_back(t.id);
    return ids;
}

int Project::maxTrackNumber() const {
    int m = 0;
    for (const auto& t : tracks) m = std::max(m, t.number);
    return m;
}

int Project::auxForBus(int bus) const {
    const std::string label = "Bus " + std::to_string(bus);
    for (const auto& t : tracks)
        if (t.kind == TrackKind::aux && t.strip.input == label) return t.id;
    return -1;
}

int Project::trackFedBy(std::string_view destination) const {
    if (destination == "Stereo Output") {
        for (const auto& t : tracks)
            if (t.kind == TrackKind::output) return t.id;
        return -1;
    }
    if (destination.rfind("Bus ", 0) == 0) {
        int bus = 0;
        const auto [end, error] = std::from_chars(destination.data() + 4, destination.data() + destination.size(), bus);
        if (error != std::errc{} || end != destination.data() + destination.size()) return -1;
        return auxForBus(bus);
    }
    return -1;
}

std::string to_string(TrackKind kind) {
    switch (kind) {
        case TrackKind::audio: return "audio";
        case TrackKind::instrument: return "instrument";
        case TrackKind::folder: return "folder";
        case TrackKind::aux: return "aux";
        case TrackKind::output: return "output";
    }
    return "audio";
}

std::optional<TrackKind> trackKindFromString(std::string_view s) {
    if (s == "audio") return TrackKind::audio;
    if (s == "instrument") return TrackKind::instrument;
    if (s == "folder") return TrackKind::folder;
    if (s == "aux") return TrackKind::aux;
    if (s == "output") return TrackKind::output;
    return std::nullopt;
}

}  // namespace corvane::standin
