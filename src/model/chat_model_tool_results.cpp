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

void from_json(const nlohmann::json& j, TrackDetailsResult::PluginSlotInfo& v) {
    v.index = integerOf<int>(j, "index");
    v.name = text(j, "name");
    v.isBypassed = boolean(j, "isBypassed");
}

void from_json(const nlohmann::json& j, TrackDetailsResult& v) {
    v.status = text(j, "status");
    v.trackName = text(j, "trackName");
    v.volume = optionalText(j, "volume");
    v.volumeDisplay = optionalText(j, "volumeDisplay");
    v.pan = optionalText(j, "pan");
    v.input = optionalText(j, "input");
    v.inputBus = optionalText(j, "inputBus");
    v.output = optionalText(j, "output");
    v.sends = optionalValue<std::vector<std::string>>(j, "sends");
    v.sendTargets = optionalValue<std::map<std::string, std::string>>(j, "sendTargets");
    v.channelMode = optionalText(j, "channelMode");
    v.plugins = value<std::vector<TrackDetailsResult::PluginSlotInfo>>(j, "plugins");
}

void from_json(const nlohmann::json& j, PluginParametersResult::PluginParam& v) {
    v.label = text(j, "label");
    v.value = optionalText(j, "value");
    v.role = text(j, "role");
}

void from_json(const nlohmann::json& j, PluginParametersResult& v) {
    v.status = text(j, "status");
    v.trackName = text(j, "trackName");
    v.pluginName = text(j, "pluginName");
    v.parameters = value<std::vector<PluginParametersResult::PluginParam>>(j, "parameters");
}

void from_json(const nlohmann::json& j, ListTracksResult::TrackInfo& v) {
    v.number = integerOf<int>(j, "number");
    v.name = text(j, "name");
    v.isMuted = boolean(j, "isMuted");
    v.isFolder = boolean(j, "isFolder");
}

void from_json(const nlohmann::json& j, ListTracksResult& v) {
    v.status = text(j, "status");
    v.tracks = value<std::vector<ListTracksResult::TrackInfo>>(j, "tracks");
}

}  // namespace corvane
