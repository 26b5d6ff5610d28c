// The diagnostic route that lists the newest tool-call logs of agent turns.

#include <algorithm>

#include "app/debug_routes_common.h"
#include "app/route_answers.h"
#include "chat/tool_logger.h"
#include "support/files.h"
#include "support/unicode.h"

namespace corvane::app::debug {
namespace {

using Json = nlohmann::json;

constexpr std::int64_t kDefaultLogCount = 10;
constexpr std::size_t kMessagePreview = 100;

// A count that is no number lists the default; a negative one lists nothing.
HTTPResponse toolLogs(const DebugRequest& request) {
    const std::int64_t wanted = std::max<std::int64_t>(request.integer("count").value_or(kDefaultLogCount), 0);
    Json rows = Json::array();
    for (const auto& file : ToolLogger::shared().recentLogPaths(static_cast<std::size_t>(wanted))) {
        const auto read = readFile(file.url);
        if (!read.ok()) continue;
        TurnLog turn;
        try {
            turn = Json::parse(read.bytes).get<TurnLog>();
        } catch (const Json::exception&) {
            continue;  // not a turn log: left out
        }
        rows.push_back({{"file", file.filename},
                        {"timestamp", turn.turnTimestamp},
                        {"userMessage", text::graphemePrefix(turn.userMessage, kMessagePreview)},
                        {"toolCount", turn.toolCalls.size()},
                        {"rounds", turn.totalRounds}});
    }
    const auto count = rows.size();
    return jsonDictAnswer({{"count", count}, {"logs", std::move(rows)}});
}

}  // namespace

const std::vector<Route>& logRoutes() {
    static const std::vector<Route> routes{{"/debug/tool-logs", toolLogs}};
    return routes;
}

}  // namespace corvane::app::debug
