#include "chat/tool_logger.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "support/app_paths.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/unicode.h"

namespace corvane {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::size_t kReplyCharacters = 1000;

std::string requiredString(const json& j, const char* key) {
    const json& value = j.at(key);
    if (!value.is_string()) throw std::runtime_error(fmt::format("\"{}\" is not a string", key));
    return value.get<std::string>();
}

std::optional<std::string> optionalString(const json& j, const char* key) {
    auto found = j.find(key);
    if (found == j.end() || found->is_null()) return std::nullopt;
    if (!found->is_string()) throw std::runtime_error(fmt::format("\"{}\" is not a string", key));
    return found->get<std::string>();
}

// A JSON number that is exactly an int (3.0 counts; 3.5 and 1e12 do not).
int requiredInt(const json& j, const char* key) {
    const json& value = j.at(key);
    if (value.is_number()) {
        double v = value.get<double>();
        bool exact = value.is_number_float() ? std::trunc(v) == v : true;
        if (exact && std::isfinite(v) && v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())
            return value.is_number_float() ? static_cast<int>(v) : value.get<int>();
    }
    throw std::runtime_error(fmt::format("\"{}\" is not an integer", key));
}

bool requiredBool(const json& j, const char* key) {
    const json& value = j.at(key);
    if (!value.is_boolean()) throw std::runtime_error(fmt::format("\"{}\" is not a boolean", key));
    return value.get<bool>();
}

// Log files, newest first: the stamp in the name is fixed-width UTC, so the greatest name is
// the newest. Other extensions (temporary files of atomic writes included) are not logs.
std::vector<fs::path> logFilesNewestFirst(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".json") files.push_back(it->path());
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() > b.filename().string(); });
    return files;
}

// "2026-12-06T15-23-51Z.json"; a later turn of the same second gets "…Z_001.json", "…Z_002.json",
// which sort after it, so the newest turn still comes first.
fs::path unusedLogPath(const fs::path& folder, const std::string& turnTimestamp) {
    std::string base = turnTimestamp;
    std::replace(base.begin(), base.end(), ':', '-');
    fs::path path = folder / (base + ".json");
    std::error_code ec;
    for (int ordinal = 1; fs::exists(fs::symlink_status(path, ec)); ++ordinal)
        path = folder / fmt::format("{}_{:03}.json", base, ordinal);
    return path;
}

}  // namespace

void to_json(json& j, const ToolCallLog& call) {
    j = json{{"timestamp", call.timestamp},   {"tool", call.tool},
             {"arguments", call.arguments},   {"succeeded", call.succeeded},
             {"summary", call.summary},       {"durationMs", call.durationMs},
             {"roundIndex", call.roundIndex}};
    if (call.callID) j["callID"] = *call.callID;
    if (call.resultJSON) j["resultJSON"] = *call.resultJSON;
}

void from_json(const json& j, ToolCallLog& call) {
    if (!j.is_object()) throw std::runtime_error("a tool call is not an object");
    call.timestamp = requiredString(j, "timestamp");
    call.callID = optionalString(j, "callID");
    call.tool = requiredString(j, "tool");
    call.arguments = requiredString(j, "arguments");
    call.succeeded = requiredBool(j, "succeeded");
    call.summary = requiredString(j, "summary");
    call.resultJSON = optionalString(j, "resultJSON");
    call.durationMs = requiredInt(j, "durationMs");
    call.roundIndex = requiredInt(j, "roundIndex");
}

void to_json(json& j, const TurnLog& turn) {
    j = json{{"turnTimestamp", turn.turnTimestamp},
             {"userMessage", turn.userMessage},
             {"toolCalls", turn.toolCalls},
             {"totalRounds", turn.totalRounds}};
    if (turn.threadID) j["threadID"] = *turn.threadID;
    if (turn.agentResponse) j["agentResponse"] = *turn.agentResponse;
}

void from_json(const json& j, TurnLog& turn) {
    if (!j.is_object()) throw std::runtime_error("a turn log is not an object");
    turn.turnTimestamp = requiredString(j, "turnTimestamp");
    turn.threadID = optionalString(j, "threadID");
    turn.userMessage = requiredString(j, "userMessage");
    const json& calls = j.at("toolCalls");
    if (!calls.is_array()) throw std::runtime_error("\"toolCalls\" is not a list");
    turn.toolCalls = calls.get<std::vector<ToolCallLog>>();
    turn.totalRounds = requiredInt(j, "totalRounds");
    turn.agentResponse = optionalString(j, "agentResponse");
}

ToolLogger::ToolLogger() : logsDir_(AppPaths::appSupportDirectory(std::string("tool-logs"))) {}

ToolLogger& ToolLogger::shared() {
    static ToolLogger logger;
    return logger;
}

void ToolLogger::beginTurn(const std::string& userMessage, const std::optional<std::string>& threadID) {
    queue_.async([this, userMessage, threadID] {
        pendingCalls_.clear();
        turnTimestamp_ = ISO8601::plainString(ISO8601::now());
        turnUserMessage_ = userMessage;
        turnThreadID_ = threadID;
    });
}

void ToolLogger::logToolCall(const ToolCallLog& call) {
    queue_.async([this, call] { pendingCalls_.push_back(call); });
}

void ToolLogger::endTurn(int totalRounds, const std::optional<std::string>& agentResponse) {
    queue_.async([this, totalRounds, agentResponse] { closeTurn(totalRounds, agentResponse); });
}

void ToolLogger::closeTurn(int totalRounds, const std::optional<std::string>& agentResponse) {
    if (!turnTimestamp_ || !turnUserMessage_) return;  // no open turn: the records stay pending

    TurnLog turn;
    turn.turnTimestamp = *turnTimestamp_;
    turn.threadID = turnThreadID_;
    turn.userMessage = *turnUserMessage_;
    turn.toolCalls = pendingCalls_;
    turn.totalRounds = totalRounds;
    if (agentResponse) turn.agentResponse = text::graphemePrefix(*agentResponse, kReplyCharacters);

    try {
        // Invalid UTF-8 is replaced rather than losing the turn's log to one bad byte.
        std::string bytes = json(turn).dump(2, ' ', false, json::error_handler_t::replace);
        writeFileAtomically(unusedLogPath(logsDir_, turn.turnTimestamp), bytes);  // a lost log is not reported
    } catch (const std::exception&) {
        // Nothing is written; the turn is closed all the same.
    }

    pendingCalls_.clear();
    turnTimestamp_.reset();
    turnUserMessage_.reset();
    turnThreadID_.reset();
    pruneOldLogs(keptLogs);
}

void ToolLogger::pruneOldLogs(std::size_t keep) {
    std::vector<fs::path> files = logFilesNewestFirst(logsDir_);
    for (std::size_t i = keep; i < files.size(); ++i) {
        std::error_code ec;
        fs::remove(files[i], ec);  // one that cannot go is tried again at the next prune
    }
}

std::vector<ToolLogger::LogFile> ToolLogger::recentLogPaths(std::size_t count) const {
    std::vector<fs::path> files = logFilesNewestFirst(logsDir_);
    std::vector<LogFile> recent;
    for (std::size_t i = 0; i < files.size() && i < count; ++i)
        recent.push_back({files[i].filename().string(), files[i]});
    return recent;
}

}  // namespace corvane
