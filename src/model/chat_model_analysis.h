#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace corvane {

// The measurements of one analysis plug-in instance over its latest capture window. Levels in
// dB, band ratios as fractions of 1; the timeline fields mean something only with
// hasTimelineInfo. In JSON every field is written and every key is required.
struct AudioAnalysisSummary {
    std::string source;
    double analyzedSeconds = 0;
    double captureDurationSeconds = 0;
    bool hasTimelineInfo = false;
    bool transportWasPlaying = false;
    double peakDbfs = 0;
    double rmsDbfs = 0;
    double headroomDb = 0;
    double crestDb = 0;
    double bpm = 0;
    std::int64_t timeSigNumerator = 0;
    std::int64_t timeSigDenominator = 0;
    double captureStartSeconds = 0;
    double captureEndSeconds = 0;
    double captureStartPpq = 0;
    double captureEndPpq = 0;
    std::int64_t captureStartBar = 0;
    std::int64_t captureEndBar = 0;
    double captureStartBeatInBar = 0;
    double captureEndBeatInBar = 0;
    double lowBandRatio = 0;
    double lowMidBandRatio = 0;
    double highBandRatio = 0;
    double subBandRatio = 0;
    double bassBandRatio = 0;
    double highMidBandRatio = 0;
    double airBandRatio = 0;
    double spectralCentroidHz = 0;
    double spectralTiltDb = 0;
    double stereoWidth = 0;
    double lowBandStereoWidth = 0;
    double highBandStereoWidth = 0;
    double stereoBalance = 0;
    double phaseCorrelation = 0;
    double transientRate = 0;
    double lowBandStability = 0;
    double momentaryLufs = 0;
    double shortTermLufs = 0;
    friend bool operator==(const AudioAnalysisSummary&, const AudioAnalysisSummary&) = default;
};

// The measurements of one bar; every key required in JSON.
struct BarAnalysisEntry {
    std::int64_t bar = 0;
    double peakDbfs = 0;
    double rmsDbfs = 0;
    double crestDb = 0;
    double lufs = 0;
    double subBandRatio = 0;
    double bassBandRatio = 0;
    double lowMidBandRatio = 0;
    double highMidBandRatio = 0;
    double airBandRatio = 0;
    double spectralTiltDb = 0;
    double stereoWidth = 0;
    double phaseCorrelation = 0;
    friend bool operator==(const BarAnalysisEntry&, const BarAnalysisEntry&) = default;
};

void to_json(nlohmann::json& j, const AudioAnalysisSummary& v);
void from_json(const nlohmann::json& j, AudioAnalysisSummary& v);
void to_json(nlohmann::json& j, const BarAnalysisEntry& v);
void from_json(const nlohmann::json& j, BarAnalysisEntry& v);

}  // namespace corvane
