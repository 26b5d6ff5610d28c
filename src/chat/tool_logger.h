#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_queue.h"

namespace corvane {

// One executed tool call as the tool executor records it.
struct ToolCallLog {
    std::string timestamp;  // whole-second ISO 8601, like the turn stamp
    std::optional<std::string> callID;
    std::string tool;
    std::string arguments;  // JSON text
    bool succeeded = false;
    std::string summary;
    std::optional<std::string> resultJSON;  // cut by the executor to 10000 characters
    int durationMs = 0;
    int roundIndex = 0;

    bool operator==(const ToolCallLog&) const = default;
};

// One agent turn: the content of one file in the "tool-logs" folder.
struct TurnLog {
    std::string turnTimestamp;
    std::optional<std::string> threadID;
    std::string userMessage;
    std::vector<ToolCallLog> toolCalls;
    int totalRounds = 0;
    std::optional<std::string> agentResponse;  // at most 1000 characters

    bool operator==(const TurnLog&) const = default;
};

// Decoding throws on a missing required key or a wrong JSON type; unknown keys are ignored.
void to_json(nlohmann::json& j, const ToolCallLog& call);
void from_json(const nlohmann::json& j, ToolCallLog& call);
void to_json(nlohmann::json& j, const TurnLog& turn);
void from_json(const nlohmann::json& j, TurnLog& turn);

// Writes one JSON file per agent turn into the "tool-logs" folder and keeps the newest 100.
// beginTurn, logToolCall and endTurn queue their work and return at once; the work runs in
// call order. A file is on disk only once the closing work has run (see drain()).
// Its first write removes what an earlier run's crash left mid-write in the folder.
class ToolLogger final {
public:
    struct LogFile {
        std::string filename;
        std::filesystem::path url;
    };

    static constexpr std::size_t keptLogs = 100;

    ToolLogger();  // the "tool-logs" folder is found, and created, now
    ToolLogger(const ToolLogger&) = delete;
    ToolLogger& operator=(const ToolLogger&) = delete;

    // The process-wide logger, created on first use.
    static ToolLogger& shared();

    const std::filesystem::path& logsDir() const { return logsDir_; }

    // Opens a turn, discarding whatever an open turn had collected.
    void beginTurn(const std::string& userMessage, const std::optional<std::string>& threadID = std::nullopt);
    // Collected whether or not a turn is open.
    void logToolCall(const ToolCallLog& call);
    // Writes the open turn's file and closes the turn; without an open turn nothing happens.
    // The future answers, once that work has run, why the file could not be written (none when
    // it was, or when no turn was open).
    std::future<std::optional<std::string>> endTurn(int totalRounds,
                                                    const std::optional<std::string>& agentResponse = std::nullopt);

    // The newest `count` log files, newest first. Runs on the caller's thread.
    std::vector<LogFile> recentLogPaths(std::size_t count) const;

    // Waits until every call made so far has done its work.
    void drain() { queue_.drain(); }

private:
    std::optional<std::string> closeTurn(int totalRounds, const std::optional<std::string>& agentResponse);
    void pruneOldLogs(std::size_t keep);

    std::filesystem::path logsDir_;
    // The open turn; touched only on queue_.
    std::optional<std::string> turnTimestamp_;
    std::optional<std::string> turnUserMessage_;
    std::optional<std::string> turnThreadID_;
    std::vector<ToolCallLog> pendingCalls_;
    bool leftoversRemoved_ = false;  // of earlier runs' writes, before this logger's first
    // Last, so that it finishes the queued work before the state above goes away.
    platform::SerialQueue queue_{"Corvane.ToolLogger"};
};

}  // namespace corvane
