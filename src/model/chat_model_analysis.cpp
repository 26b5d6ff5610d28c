#include "model/chat_model_analysis.h"

#include <utility>

#include "support/json_fields.h"

namespace corvane {

using namespace json_fields;

namespace {

template <class T>
using Field = std::pair<const char*, T>;

using S = AudioAnalysisSummary;
const Field<double S::*> kSummaryReals[]{
    {"analyzedSeconds", &S::analyzedSeconds},
    {"captureDurationSeconds", &S::captureDurationSeconds},
    {"peakDbfs", &S::peakDbfs},
    {"rmsDbfs", &S::rmsDbfs},
    {"headroomDb", &S::headroomDb},
    {"crestDb", &S::crestDb},
    {"bpm", &S::bpm},
    {"captureStartSeconds", &S::captureStartSeconds},
    {"captureEndSeconds", &S::captureEndSeconds},
    {"captureStartPpq", &S::captureStartPpq},
    {"captureEndPpq", &S::captureEndPpq},
    {"captureStartBeatInBar", &S::captureStartBeatInBar},
    {"captureEndBeatInBar", &S::captureEndBeatInBar},
    {"lowBandRatio", &S::lowBandRatio},
    {"lowMidBandRatio", &S::lowMidBandRatio},
    {"highBandRatio", &S::highBandRatio},
    {"subBandRatio", &S::subBandRatio},
    {"bassBandRatio", &S::bassBandRatio},
    {"highMidBandRatio", &S::highMidBandRatio},
    {"airBandRatio", &S::airBandRatio},
    {"spectralCentroidHz", &S::spectralCentroidHz},
    {"spectralTiltDb", &S::spectralTiltDb},
    {"stereoWidth", &S::stereoWidth},
    {"lowBandStereoWidth", &S::lowBandStereoWidth},
    {"highBandStereoWidth", &S::highBandStereoWidth},
    {"stereoBalance", &S::stereoBalance},
    {"phaseCorrelation", &S::phaseCorrelation},
    {"transientRate", &S::transientRate},
    {"lowBandStability", &S::lowBandStability},
    {"momentaryLufs", &S::momentaryLufs},
    {"shortTermLufs", &S::shortTermLufs},
};
const Field<std::int64_t S::*> kSummaryIntegers[]{
    {"timeSigNumerator", &S::timeSigNumerator},
    {"timeSigDenominator", &S::timeSigDenominator},
    {"captureStartBar", &S::captureStartBar},
    {"captureEndBar", &S::captureEndBar},
};
const Field<bool S::*> kSummaryFlags[]{
    {"hasTimelineInfo", &S::hasTimelineInfo},
    {"transportWasPlaying", &S::transportWasPlaying},
};

using B = BarAnalysisEntry;
const Field<double B::*> kBarReals[]{
    {"peakDbfs", &B::peakDbfs},
    {"rmsDbfs", &B::rmsDbfs},
    {"crestDb", &B::crestDb},
    {"lufs", &B::lufs},
    {"subBandRatio", &B::subBandRatio},
    {"bassBandRatio", &B::bassBandRatio},
    {"lowMidBandRatio", &B::lowMidBandRatio},
    {"highMidBandRatio", &B::highMidBandRatio},
    {"airBandRatio", &B::airBandRatio},
    {"spectralTiltDb", &B::spectralTiltDb},
    {"stereoWidth", &B::stereoWidth},
    {"phaseCorrelation", &B::phaseCorrelation},
};

}  // namespace

void to_json(nlohmann::json& j, const AudioAnalysisSummary& v) {
    j = {{"source", v.source}};
    for (auto [key, member] : kSummaryReals) j[key] = jsonNumber(v.*member);
    for (auto [key, member] : kSummaryIntegers) j[key] = v.*member;
    for (auto [key, member] : kSummaryFlags) j[key] = v.*member;
}

void from_json(const nlohmann::json& j, AudioAnalysisSummary& v) {
    v.source = text(j, "source");
    for (auto [key, member] : kSummaryReals) v.*member = number(j, key);
    for (auto [key, member] : kSummaryIntegers) v.*member = integer(j, key);
    for (auto [key, member] : kSummaryFlags) v.*member = boolean(j, key);
}

void to_json(nlohmann::json& j, const BarAnalysisEntry& v) {
    j = {{"bar", v.bar}};
    for (auto [key, member] : kBarReals) j[key] = jsonNumber(v.*member);
}

void from_json(const nlohmann::json& j, BarAnalysisEntry& v) {
    v.bar = integer(j, "bar");
    for (auto [key, member] : kBarReals) v.*member = number(j, key);
}

}  // namespace corvane
