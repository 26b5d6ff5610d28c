#include "model/chat_model_tool_results.h"

#include <utility>

#include "support/json_fields.h"

namespace corvane {

using namespace json_fields;

namespace {
using Info = AudioAnalysisToolResult::TrackAnalysisInfo;
const std::pair<const char*, std::optional<double> Info::*> kMeasurements[]{
    {"shortTermLufs", &Info::shortTermLufs},
    {"momentaryLufs", &Info::momentaryLufs},
    {"peakDbfs", &Info::peakDbfs},
    {"rmsDbfs", &Info::rmsDbfs},
    {"headroomDb", &Info::headroomDb},
    {"crestDb", &Info::crestDb},
    {"spectralTiltDb", &Info::spectralTiltDb},
    {"subBandRatio", &Info::subBandRatio},
    {"bassBandRatio", &Info::bassBandRatio},
    {"lowMidBandRatio", &Info::lowMidBandRatio},
    {"highMidBandRatio", &Info::highMidBandRatio},
    {"airBandRatio", &Info::airBandRatio},
    {"stereoWidth", &Info::stereoWidth},
    {"phaseCorrelation", &Info::phaseCorrelation},
};
}  // namespace

void to_json(nlohmann::json& j, const Info& v) {
    j = {{"trackName", v.trackName}, {"isMaster", v.isMaster}};
    for (auto [key, member] : kMeasurements) put(j, key, v.*member);
}

void from_json(const nlohmann::json& j, Info& v) {
    v.trackName = text(j, "trackName");
    v.isMaster = boolean(j, "isMaster");
    for (auto [key, member] : kMeasurements) v.*member = optionalNumber(j, key);
}

void to_json(nlohmann::json& j, const AudioAnalysisToolResult& v) { j = {{"status", v.status}, {"tracks", v.tracks}}; }

void from_json(const nlohmann::json& j, AudioAnalysisToolResult& v) {
    v.status = text(j, "status");
    v.tracks = value<std::vector<Info>>(j, "tracks");
}

void to_json(nlohmann::json& j, const ListenResult& v) {
    j = {{"status", v.status},
         {"durationSeconds", jsonNumber(v.durationSeconds)},
         {"tracks", v.tracks},
         {"summary", v.summary}};
    put(j, "soloedTrack", v.soloedTrack);
}

void from_json(const nlohmann::json& j, ListenResult& v) {
    v.status = text(j, "status");
    v.durationSeconds = number(j, "durationSeconds");
    v.soloedTrack = optionalText(j, "soloedTrack");
    v.tracks = value<std::vector<Info>>(j, "tracks");
    v.summary = text(j, "summary");
}

}  // namespace corvane
