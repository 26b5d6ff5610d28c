#include "model/tool_result_payloads.h"

#include "support/json_fields.h"

namespace corvane {

using namespace json_fields;

void to_json(nlohmann::json& j, const ActionResult& v) { j = {{"status", v.status}, {"message", v.message}}; }

void from_json(const nlohmann::json& j, ActionResult& v) {
    v.status = text(j, "status");
    v.message = text(j, "message");
}

void to_json(nlohmann::json& j, const ListTracksResult::TrackInfo& v) {
    j = {{"number", v.number}, {"name", v.name}, {"isMuted", v.isMuted}, {"isFolder", v.isFolder}};
}

void from_json(const nlohmann::json& j, ListTracksResult::TrackInfo& v) {
    v.number = integer(j, "number");
    v.name = text(j, "name");
    v.isMuted = boolean(j, "isMuted");
    v.isFolder = boolean(j, "isFolder");
}

void to_json(nlohmann::json& j, const ListTracksResult& v) { j = {{"status", v.status}, {"tracks", v.tracks}}; }

void from_json(const nlohmann::json& j, ListTracksResult& v) {
    v.status = text(j, "status");
    v.tracks = value<std::vector<ListTracksResult::TrackInfo>>(j, "tracks");
}

void to_json(nlohmann::json& j, const TransportResult& v) {
    j = {{"status", v.status},
         {"isPlaying", v.isPlaying},
         {"isRecording", v.isRecording},
         {"cycleEnabled", v.cycleEnabled},
         {"globalSolo", v.globalSolo}};
    put(j, "tempo", v.tempo);
    put(j, "timeSignature", v.timeSignature);
    put(j, "playheadBar", v.playheadBar);
}

void from_json(const nlohmann::json& j, TransportResult& v) {
    v.status = text(j, "status");
    v.tempo = optionalText(j, "tempo");
    v.timeSignature = optionalText(j, "timeSignature");
    v.playheadBar = optionalInteger(j, "playheadBar");
    v.isPlaying = boolean(j, "isPlaying");
    v.isRecording = boolean(j, "isRecording");
    v.cycleEnabled = boolean(j, "cycleEnabled");
    v.globalSolo = boolean(j, "globalSolo");
}

void to_json(nlohmann::json& j, const TrackDetailsResult::PluginSlotInfo& v) {
    j = {{"index", v.index}, {"name", v.name}, {"isBypassed", v.isBypassed}};
}

void from_json(const nlohmann::json& j, TrackDetailsResult::PluginSlotInfo& v) {
    v.index = integer(j, "index");
    v.name = text(j, "name");
    v.isBypassed = boolean(j, "isBypassed");
}

void to_json(nlohmann::json& j, const TrackDetailsResult& v) {
    j = {{"status", v.status}, {"trackName", v.trackName}, {"plugins", v.plugins}};
    put(j, "volume", v.volume);
    put(j, "volumeDisplay", v.volumeDisplay);
    put(j, "pan", v.pan);
    put(j, "input", v.input);
    put(j, "inputBus", v.inputBus);
    put(j, "output", v.output);
    put(j, "sends", v.sends);
    put(j, "sendTargets", v.sendTargets);
    put(j, "channelMode", v.channelMode);
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

void to_json(nlohmann::json& j, const PluginParametersResult::PluginParam& v) {
    j = {{"label", v.label}, {"role", v.role}};
    put(j, "value", v.value);
}

void from_json(const nlohmann::json& j, PluginParametersResult::PluginParam& v) {
    v.label = text(j, "label");
    v.value = optionalText(j, "value");
    v.role = text(j, "role");
}

void to_json(nlohmann::json& j, const PluginParametersResult& v) {
    j = {{"status", v.status}, {"trackName", v.trackName}, {"pluginName", v.pluginName}, {"parameters", v.parameters}};
}

void from_json(const nlohmann::json& j, PluginParametersResult& v) {
    v.status = text(j, "status");
    v.trackName = text(j, "trackName");
    v.pluginName = text(j, "pluginName");
    v.parameters = value<std::vector<PluginParametersResult::PluginParam>>(j, "parameters");
}

}  // namespace corvane
