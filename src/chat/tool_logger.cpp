#include "chat/tool_logger.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "support/app_paths.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/json_fields.h"
#include "support/store_file.h"
#include "support/unicode.h"

namespace corvane {

namespace fs = std::filesystem;
using nlohmann::json;
using json_fields::boolean;
using json_fields::integerOf;
using json_fields::optionalText;
using json_fields::put;
using json_fields::value;

namespace {

constexpr std::size_t kReplyCharacters = 1000;

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
// which sort after it, so the newest turn still comes first. The name is taken exclusively:
// another copy of the program ending a turn in the same second gets the next one. Why the file
// could not be written; none when it was.
std::optional<std::string> writeLog(const fs::path& folder, const std::string& turnTimestamp, const std::string& bytes) {
    std::string base = turnTimestamp;
    std::replace(base.begin(), base.end(), ':', '-');
    fs::path path = folder / (base + ".json");
    std::error_code ec;
    for (int ordinal = 1; ordinal < 1000; ++ordinal) {
        // A name seen taken is skipped without writing; one taken meanwhile fails the write.
        if (!fs::exists(fs::symlink_status(path, ec))) {
            if (writeNewFileAtomically(path, bytes)) return std::nullopt;
            if (errno != EEXIST) return std::generic_category().message(errno);
        }
        path = folder / fmt::format("{}_{:03}.json", base, ordinal);
    }
    return "every name for its second is taken";
}

}  // namespace

void to_json(json& j, const ToolCallLog& call) {
    j = json{{"timestamp", call.timestamp},  {"tool", call.tool},       {"arguments", call.arguments},
             {"succeeded", call.succeeded},  {"summary", call.summary}, {"durationMs", call.durationMs},
             {"roundIndex", call.roundIndex}};
    put(j, "callID", call.callID);
    put(j, "resultJSON", call.resultJSON);
}

void from_json(const json& j, ToolCallLog& call) {
    call.timestamp = json_fields::text(j, "timestamp");
    call.callID = optionalText(j, "callID");
    call.tool = json_fields::text(j, "tool");
    call.arguments = json_fields::text(j, "arguments");
    call.succeeded = boolean(j, "succeeded");
    call.summary = json_fields::text(j, "summary");
    call.resultJSON = optionalText(j, "resultJSON");
    call.durationMs = integerOf<int>(j, "durationMs");
    call.roundIndex = integerOf<int>(j, "roundIndex");
}

void to_json(json& j, const TurnLog& turn) {
    j = json{{"turnTimestamp", turn.turnTimestamp},
             {"userMessage", turn.userMessage},
             {"toolCalls", turn.toolCalls},
             {"totalRounds", turn.totalRounds}};
    put(j, "threadID", turn.threadID);
    put(j, "agentResponse", turn.agentResponse);
}

void from_json(const json& j, TurnLog& turn) {
    turn.turnTimestamp = json_fields::text(j, "turnTimestamp");
    turn.threadID = optionalText(j, "threadID");
    turn.userMessage = json_fields::text(j, "userMessage");
    turn.toolCalls = value<std::vector<ToolCallLog>>(j, "toolCalls");
    turn.totalRounds = integerOf<int>(j, "totalRounds");
    turn.agentResponse = optionalText(j, "agentResponse");
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

std::future<std::optional<std::string>> ToolLogger::endTurn(int totalRounds,
                                                            const std::optional<std::string>& agentResponse) {
    auto written = std::make_shared<std::promise<std::optional<std::string>>>();
    auto answer = written->get_future();
    queue_.async([this, totalRounds, agentResponse, written] {
        written->set_value(closeTurn(totalRounds, agentResponse));
    });
    return answer;
}

std::optional<std::string> ToolLogger::closeTurn(int totalRounds, const std::optional<std::string>& agentResponse) {
    if (!turnTimestamp_ || !turnUserMessage_) return std::nullopt;  // no open turn: the records stay pending

    TurnLog turn;
    turn.turnTimestamp = *turnTimestamp_;
    turn.threadID = turnThreadID_;
    turn.userMessage = std::move(*turnUserMessage_);  // the turn closes here: nothing else reads them
    turn.toolCalls = std::move(pendingCalls_);
    turn.totalRounds = totalRounds;
    if (agentResponse) turn.agentResponse = text::graphemePrefix(*agentResponse, kReplyCharacters);

    if (!leftoversRemoved_) {
        // What a crash left mid-write; only the logger that writes removes it, as a reader of the
        // folder made meanwhile would take a turn's file from under the write.
        removeLeftoverTemporaryFiles(logsDir_, [](std::string_view name) { return name.ends_with(".json"); });
        leftoversRemoved_ = true;
    }
    std::optional<std::string> failure = "it could not be encoded";
    try {
        if (const auto bytes = encodeJSONDocument(turn)) failure = writeLog(logsDir_, turn.turnTimestamp, *bytes);
    } catch (const std::exception&) {
        // Nothing is written; the turn is closed all the same.
    }

    pendingCalls_.clear();
    turnTimestamp_.reset();
    turnUserMessage_.reset();
    turnThreadID_.reset();
    pruneOldLogs(keptLogs);
    return failure;
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
