#include "app/companion_request_decoding.h"

#include <cmath>
#include <cstdint>

#include "support/json_fields.h"

namespace corvane::app::CompanionRequestDecoding {

namespace {

using Json = nlohmann::json;

const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

void readNumber(const Json& object, const char* key, double& out) {
    if (const Json* v = member(object, key); v && v->is_number()) out = v->get<double>();
}

void readFlag(const Json& object, const char* key, bool& out) {
    if (const Json* v = member(object, key); v && v->is_boolean()) out = v->get<bool>();
}

// A JSON number with an integral value that an int64 holds; 1e30 or 3.5 is no whole number.
std::optional<std::int64_t> wholeNumber(const Json& value) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(INT64_MAX)) return std::nullopt;
        return value.get<std::int64_t>();
    }
    if (!value.is_number_float()) return std::nullopt;
    const double d = value.get<double>();
    // 2^63 is exactly representable; every double below it in magnitude converts safely.
    if (!std::isfinite(d) || d != std::trunc(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0)
        return std::nullopt;
    return static_cast<std::int64_t>(d);
}

void readWhole(const Json& object, const char* key, std::int64_t& out) {
    if (const Json* v = member(object, key))
        if (auto n = wholeNumber(*v)) out = *n;
}

std::optional<std::string> optionalString(const Json& object, const char* key) {
    if (const Json* v = member(object, key); v && v->is_string()) return v->get<std::string>();
    return std::nullopt;
}

// Strict reading of "threadID": absent or null is no thread; any other kind refuses the body.
bool readThreadID(const Json& object, std::optional<std::string>& out, std::string& error) {
    const Json* v = member(object, "threadID");
    if (!v || v->is_null()) return true;
    if (!v->is_string()) {
        error = "Malformed body: \"threadID\" must be a string";
        return false;
    }
    out = v->get<std::string>();
    return true;
}

}  // namespace

ConversationThreadRequest decodeConversationThreadRequest(std::string_view body) {
    const auto decoded = decodeConversationThreadRequestStrictly(body);
    return decoded.request.value_or(ConversationThreadRequest{});
}

SongBriefRequest decodeSongBriefRequest(std::string_view body) {
    const auto decoded = decodeSongBriefRequestStrictly(body);
    return decoded.request.value_or(SongBriefRequest{});
}

Decoded<ConversationThreadRequest> decodeConversationThreadRequestStrictly(std::string_view body) {
    if (body.empty()) return {ConversationThreadRequest{}, {}};
    const auto object = json_fields::parseObject(body);
    if (!object) return {std::nullopt, "Malformed body: expected a JSON object"};
    ConversationThreadRequest request;
    std::string error;
    if (!readThreadID(*object, request.threadID, error)) return {std::nullopt, error};
    return {request, {}};
}

Decoded<SongBriefRequest> decodeSongBriefRequestStrictly(std::string_view body) {
    const auto object = json_fields::parseObject(body);
    if (!object) return {std::nullopt, "Malformed body: expected a JSON object with \"songBrief\""};
    SongBriefRequest request;
    std::string error;
    if (!readThreadID(*object, request.threadID, error)) return {std::nullopt, error};
    const Json* brief = member(*object, "songBrief");
    if (!brief || !brief->is_string()) return {std::nullopt, "Malformed body: \"songBrief\" must be a string"};
    request.songBrief = brief->get<std::string>();
    return {request, {}};
}

AnalysisUpdate decodeAnalysisUpdate(std::string_view body) {
    AnalysisUpdate update;
    const auto object = json_fields::parseObject(body);
    if (!object) return update;
    if (const Json* a = member(*object, "audioAnalysis"); a && a->is_object())
        update.audioAnalysis = decodeAudioAnalysisSummary(*a);
    if (const Json* bars = member(*object, "barAnalysisMap"); bars && bars->is_array()) {
        bool allObjects = true;
        for (const auto& element : *bars) allObjects = allObjects && element.is_object();
        if (allObjects) {
            std::vector<BarAnalysisEntry> entries;
            for (const auto& element : *bars)
                if (auto entry = decodeBarAnalysisEntry(element)) entries.push_back(*entry);
            update.barAnalysisMap = std::move(entries);
        }
    }
    update.instanceID = optionalString(*object, "instanceID");
    update.trackName = optionalString(*object, "trackName");
    return update;
}

AudioAnalysisSummary decodeAudioAnalysisSummary(const nlohmann::json& o) {
    AudioAnalysisSummary s;
    s.source = "master_output";
    s.peakDbfs = -100;
    s.rmsDbfs = -100;
    s.headroomDb = 100;
    s.timeSigNumerator = 4;
    s.timeSigDenominator = 4;
    s.phaseCorrelation = 1;
    s.lowBandStability = 1;
    s.momentaryLufs = -100;
    s.shortTermLufs = -100;
    if (!o.is_object()) return s;
    if (auto source = optionalString(o, "source")) s.source = *source;
    readNumber(o, "analyzedSeconds", s.analyzedSeconds);
    readNumber(o, "captureDurationSeconds", s.captureDurationSeconds);
    readFlag(o, "hasTimelineInfo", s.hasTimelineInfo);
    readFlag(o, "transportWasPlaying", s.transportWasPlaying);
    readNumber(o, "peakDbfs", s.peakDbfs);
    readNumber(o, "rmsDbfs", s.rmsDbfs);
    readNumber(o, "headroomDb", s.headroomDb);
    readNumber(o, "crestDb", s.crestDb);
    readNumber(o, "bpm", s.bpm);
    readWhole(o, "timeSigNumerator", s.timeSigNumerator);
    readWhole(o, "timeSigDenominator", s.timeSigDenominator);
    readNumber(o, "captureStartSeconds", s.captureStartSeconds);
    readNumber(o, "captureEndSeconds", s.captureEndSeconds);
    readNumber(o, "captureStartPpq", s.captureStartPpq);
    readNumber(o, "captureEndPpq", s.captureEndPpq);
    readWhole(o, "captureStartBar", s.captureStartBar);
    readWhole(o, "captureEndBar", s.captureEndBar);
    readNumber(o, "captureStartBeatInBar", s.captureStartBeatInBar);
    readNumber(o, "captureEndBeatInBar", s.captureEndBeatInBar);
    readNumber(o, "lowBandRatio", s.lowBandRatio);
    readNumber(o, "lowMidBandRatio", s.lowMidBandRatio);
    readNumber(o, "highBandRatio", s.highBandRatio);
    readNumber(o, "subBandRatio", s.subBandRatio);
    readNumber(o, "bassBandRatio", s.bassBandRatio);
    readNumber(o, "highMidBandRatio", s.highMidBandRatio);
    readNumber(o, "airBandRatio", s.airBandRatio);
    readNumber(o, "spectralCentroidHz", s.spectralCentroidHz);
    readNumber(o, "spectralTiltDb", s.spectralTiltDb);
    readNumber(o, "stereoWidth", s.stereoWidth);
    readNumber(o, "lowBandStereoWidth", s.lowBandStereoWidth);
    readNumber(o, "highBandStereoWidth", s.highBandStereoWidth);
    readNumber(o, "stereoBalance", s.stereoBalance);
    readNumber(o, "phaseCorrelation", s.phaseCorrelation);
    readNumber(o, "transientRate", s.transientRate);
    readNumber(o, "lowBandStability", s.lowBandStability);
    readNumber(o, "momentaryLufs", s.momentaryLufs);
    readNumber(o, "shortTermLufs", s.shortTermLufs);
    return s;
}

std::optional<BarAnalysisEntry> decodeBarAnalysisEntry(const nlohmann::json& o) {
    if (!o.is_object()) return std::nullopt;
    const Json* bar = member(o, "bar");
    const auto barNumber = bar ? wholeNumber(*bar) : std::nullopt;
    if (!barNumber) return std::nullopt;
    BarAnalysisEntry e;
    e.bar = *barNumber;
    e.peakDbfs = -100;
    e.rmsDbfs = -100;
    e.lufs = -100;
    e.phaseCorrelation = 1;
    readNumber(o, "peakDbfs", e.peakDbfs);
    readNumber(o, "rmsDbfs", e.rmsDbfs);
    readNumber(o, "crestDb", e.crestDb);
    readNumber(o, "lufs", e.lufs);
    readNumber(o, "subBandRatio", e.subBandRatio);
    readNumber(o, "bassBandRatio", e.bassBandRatio);
    readNumber(o, "lowMidBandRatio", e.lowMidBandRatio);
    readNumber(o, "highMidBandRatio", e.highMidBandRatio);
    readNumber(o, "airBandRatio", e.airBandRatio);
    readNumber(o, "spectralTiltDb", e.spectralTiltDb);
    readNumber(o, "stereoWidth", e.stereoWidth);
    readNumber(o, "phaseCorrelation", e.phaseCorrelation);
    return e;
}

}  // namespace corvane::app::CompanionRequestDecoding
