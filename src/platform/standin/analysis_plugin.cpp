// The analysis plug-in inside the simulated Logic Pro: every non-bypassed slot of a plug-in with
// the `analysis` flag measures its track and posts the measurements twice a second while Logic Pro
// runs, silence while the transport is stopped, as Logic Pro keeps calling a plug-in. The numbers are derived from the track's `signal` profile, its fader and its
// mute and solo state; the stand-in has no audio, so the spectrum and stereo figures are the
// profile's, not measured.

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "platform/standin/engine.h"
#include "platform/standin/taper.h"

namespace corvane::standin::detail {

namespace {

using Json = nlohmann::json;

constexpr double kPostInterval = 0.5;  // virtual seconds
constexpr double kSilence = -100;
constexpr std::size_t kMaxBars = 16;
constexpr double kTicksPerQuarter = 4.0 * Transport::kTicksPerDivision;

// What one track sounds like at the moment: loudness and peak in dB, the rest shares and shapes.
struct Sound {
    double lufs = kSilence;
    double peak = kSilence;
    double sub = 0, bass = 0, lowMid = 0, highMid = 0, air = 0;
    double tilt = 0, width = 0, correlation = 1, balance = 0;
    bool audible = false;
};

double profileNumber(const Json& signal, const char* key, double fallback) {
    auto it = signal.find(key);
    return it != signal.end() && it->is_number() ? it->get<double>() : fallback;
}

// The track's nominal sound from its profile (defaults for what the profile leaves out).
Sound nominal(const Track& t) {
    const Json& s = t.signal;
    Sound sound;
    sound.lufs = profileNumber(s, "lufs", -18);
    sound.peak = profileNumber(s, "peak", sound.lufs + 8);
    sound.tilt = profileNumber(s, "tilt", -3);
    sound.width = profileNumber(s, "width", 0.3);
    sound.correlation = profileNumber(s, "correlation", 0.9);
    // Without band shares a pink-ish spread, tipped by the tilt.
    const double tip = std::clamp(sound.tilt / 20.0, -0.1, 0.1);
    sound.sub = profileNumber(s, "sub", 0.08 - tip / 2);
    sound.bass = profileNumber(s, "bass", 0.22 - tip / 2);
    sound.lowMid = profileNumber(s, "lowMid", 0.30);
    sound.highMid = profileNumber(s, "highMid", 0.28 + tip / 2);
    sound.air = profileNumber(s, "air", 0.12 + tip / 2);
    sound.balance = std::clamp(t.strip.pan / 64.0, -1.0, 1.0) * 0.5;
    return sound;
}

bool anySoloed(const Project& p) {
    return std::any_of(p.tracks.begin(), p.tracks.end(), [](const Track& t) { return t.soloed; });
}

bool overUnmutedRegion(const Track& t, int bar) {
    return std::any_of(t.regions.begin(), t.regions.end(), [&](const Region& r) {
        return !r.muted && bar >= r.startBar && bar < r.startBar + r.lengthBars;
    });
}

double powerSum(double a, double b) {
    if (a <= kSilence) return b;
    if (b <= kSilence) return a;
    return 10 * std::log10(std::pow(10, a / 10) + std::pow(10, b / 10));
}

// What a track (not the output) sounds like now.
Sound trackSound(const Engine& e, const Track& t) {
    const Transport& tr = e.project.transport;
    const bool audible = tr.playing && e.logicRunning && !t.muted && (!anySoloed(e.project) || t.soloed) &&
                         overUnmutedRegion(t, tr.playhead().bar);
    const double fader = taper::level(t.strip.volume);
    if (!audible || !std::isfinite(fader)) return Sound{};
    Sound s = nominal(t);
    s.lufs += fader;
    s.peak += fader;
    s.audible = true;
    return s;
}

// The output's sound: the power sum of every audible track, shares weighted by power, then its fader.
Sound outputSound(const Engine& e, const Track& output) {
    Sound sum;
    double totalPower = 0;
    for (const Track& t : e.project.tracks) {
        if (t.kind == TrackKind::output || t.kind == TrackKind::folder) continue;
        const Sound s = trackSound(e, t);
        if (!s.audible) continue;
        const double power = std::pow(10, s.lufs / 10);
        auto blend = [&](double& into, double value) {
            into = (into * totalPower + value * power) / (totalPower + power);
        };
        blend(sum.sub, s.sub);
        blend(sum.bass, s.bass);
        blend(sum.lowMid, s.lowMid);
        blend(sum.highMid, s.highMid);
        blend(sum.air, s.air);
        blend(sum.tilt, s.tilt);
        blend(sum.width, s.width);
        blend(sum.correlation, s.correlation);
        blend(sum.balance, s.balance);
        totalPower += power;
        sum.lufs = powerSum(sum.lufs, s.lufs);
        sum.peak = powerSum(sum.peak, s.peak);
        sum.audible = true;
    }
    const double fader = taper::level(output.strip.volume);
    if (!sum.audible || !std::isfinite(fader) || output.muted) return Sound{};
    sum.lufs += fader;
    sum.peak += fader;
    return sum;
}

Json barEntry(std::int64_t bar, const Sound& s) {
    const double rms = s.audible ? s.lufs - 1 : kSilence;
    return {{"bar", bar},
            {"peakDbfs", s.peak},
            {"rmsDbfs", rms},
            {"crestDb", s.audible ? s.peak - rms : 0.0},
            {"lufs", s.lufs},
            {"subBandRatio", s.sub},
            {"bassBandRatio", s.bass},
            {"lowMidBandRatio", s.lowMid},
            {"highMidBandRatio", s.highMid},
            {"airBandRatio", s.air},
            {"spectralTiltDb", s.tilt},
            {"stereoWidth", s.width},
            {"phaseCorrelation", s.correlation}};
}

Json summary(const Engine& e, const Track& t, const Sound& s) {
    const Transport& tr = e.project.transport;
    const double endSeconds = tr.positionTicks / tr.ticksPerSecond();
    const double startSeconds = std::max(0.0, endSeconds - kPostInterval);
    const double startTicks = startSeconds * tr.ticksPerSecond();
    auto barOf = [&](double ticks) { return std::int64_t(std::floor(ticks / tr.ticksPerBar())) + 1; };
    auto beatInBar = [&](double ticks) {
        return (ticks - std::floor(ticks / tr.ticksPerBar()) * tr.ticksPerBar()) / tr.ticksPerBeat() + 1;
    };
    const double rms = s.audible ? s.lufs - 1 : kSilence;
    return {{"source", t.kind == TrackKind::output ? "master_output" : "track"},
            {"analyzedSeconds", s.audible ? std::max(0.0, e.seconds() - e.playbackStartSeconds) : 0.0},
            {"captureDurationSeconds", kPostInterval},
            {"hasTimelineInfo", true},
            {"transportWasPlaying", s.audible},
            {"peakDbfs", s.peak},
            {"rmsDbfs", rms},
            {"headroomDb", -s.peak},
            {"crestDb", s.audible ? s.peak - rms : 0.0},
            {"bpm", tr.tempo},
            {"timeSigNumerator", tr.numerator},
            {"timeSigDenominator", tr.denominator},
            {"captureStartSeconds", startSeconds},
            {"captureEndSeconds", endSeconds},
            {"captureStartPpq", startTicks / kTicksPerQuarter},
            {"captureEndPpq", tr.positionTicks / kTicksPerQuarter},
            {"captureStartBar", barOf(startTicks)},
            {"captureEndBar", barOf(tr.positionTicks)},
            {"captureStartBeatInBar", beatInBar(startTicks)},
            {"captureEndBeatInBar", beatInBar(tr.positionTicks)},
            {"lowBandRatio", s.sub + s.bass},
            {"lowMidBandRatio", s.lowMid},
            {"highBandRatio", s.highMid + s.air},
            {"subBandRatio", s.sub},
            {"bassBandRatio", s.bass},
            {"highMidBandRatio", s.highMid},
            {"airBandRatio", s.air},
            {"spectralCentroidHz", s.audible ? std::clamp(2000.0 + 150.0 * s.tilt, 200.0, 8000.0) : 0.0},
            {"spectralTiltDb", s.tilt},
            {"stereoWidth", s.width},
            {"lowBandStereoWidth", s.width * 0.3},
            {"highBandStereoWidth", std::min(1.0, s.width * 1.2)},
            {"stereoBalance", s.balance},
            {"phaseCorrelation", s.correlation},
            {"transientRate", s.audible ? 2.0 : 0.0},
            {"lowBandStability", s.audible ? 0.9 : 1.0},
            {"momentaryLufs", s.lufs},
            {"shortTermLufs", s.lufs}};
}

std::string body(const Json& post, const AnalysisInstanceKnobs& knobs) {
    if (knobs.malformed == "json") return post.dump().substr(0, 40);
    if (knobs.malformed == "array") return Json::array({post}).dump();
    Json out = post;
    if (knobs.malformed == "bars") {
        Json bars = Json::array();
        bars.push_back(barEntry(1, Sound{}));
        bars.back().erase("bar");
        bars.push_back(barEntry(2, Sound{}));
        bars.back()["bar"] = 3.5;
        out["barAnalysisMap"] = bars;
    }
    for (const auto& field : knobs.dropFields) {
        if (out.contains(field))
            out.erase(field);
        else if (out.contains("audioAnalysis"))
            out["audioAnalysis"].erase(field);
    }
    return out.dump();
}

}  // namespace

// Starts and stops the chain of post ticks as the transport (and Logic) start and stop.
void Engine::syncAnalysis() {
    const bool playing = project.transport.playing && logicRunning;
    if (playing != analysisWasPlaying) {
        if (playing) {
            playbackStartSeconds = seconds();
            analysisHistory.clear();
        } else if (logicRunning) {
            queueAnalysisPosts(true);
        }
        // The chain restarts from this moment: the first post half an interval after the start.
        ++analysisEpoch;
        analysisTicking = false;
        analysisWasPlaying = playing;
    }
    const bool wanted = logicRunning && (playing || faults.postWhileStopped);
    if (wanted && !analysisTicking) {
        analysisTicking = true;
        const std::uint64_t chain = ++analysisEpoch;
        schedule(kPostInterval, "analysis post", [this, chain] { analysisTick(chain); });
    } else if (!wanted && analysisTicking) {
        analysisTicking = false;
        ++analysisEpoch;
    }
}

void Engine::analysisTick(std::uint64_t chain) {
    if (chain != analysisEpoch) return;
    queueAnalysisPosts(false);
    schedule(kPostInterval, "analysis post", [this, chain] { analysisTick(chain); });
}

void Engine::queueAnalysisPosts(bool finalPost) {
    const bool playing = project.transport.playing && logicRunning && !finalPost;
    const std::int64_t bar = project.transport.playhead().bar;
    for (const Track& t : project.tracks) {
        for (const InsertSlot& slot : t.strip.inserts) {
            const PluginDefinition* definition = project.plugin(slot.plugin);
            if (slot.bypassed || !definition || !definition->analysis) continue;
            const std::string id = fmt::format("AI-{:04d}", slot.uid);
            const auto knobIt = faults.analysis.find(id);
            const AnalysisInstanceKnobs knobs =
                knobIt != faults.analysis.end() ? knobIt->second : AnalysisInstanceKnobs{};
            if (knobs.silent) continue;
            const Sound sound = !playing                      ? Sound{}
                                : t.kind == TrackKind::output ? outputSound(*this, t)
                                                              : trackSound(*this, t);
            auto& history = analysisHistory[slot.uid].bars;
            if (playing && (history.empty() || history.back()["bar"] != bar)) {
                history.push_back(barEntry(bar, sound));
                if (history.size() > kMaxBars) history.erase(history.begin());
            }
            const Json post = {{"instanceID", id},
                               {"trackName", knobs.nameOverride.value_or(t.name)},
                               {"audioAnalysis", summary(*this, t, sound)},
                               {"barAnalysisMap", history}};
            outbox.push_back(AnalysisPost{id, body(post, knobs), faults.analysisPort});
        }
    }
}

}  // namespace corvane::standin::detail
