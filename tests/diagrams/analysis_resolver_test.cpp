#include <gtest/gtest.h>

#include "diagrams/analysis_resolver.h"

namespace corvane {
namespace {

ConversationEntry entry(ConversationRole role, std::optional<std::string> tool, std::optional<std::string> result) {
    ConversationEntry e;
    e.timestamp = "2026-12-06T15:24:00.000Z";
    e.role = role;
    e.toolName = std::move(tool);
    e.resultJSON = std::move(result);
    return e;
}

// A stored listening output with the given tracks, each carrying `lufs` as its loudness.
ConversationEntry listen(std::initializer_list<const char*> tracks, double lufs, bool withDuration = true) {
    nlohmann::json result = {{"status", "ok"}, {"summary", "done"}, {"tracks", nlohmann::json::array()}};
    if (withDuration) result["durationSeconds"] = 8;
    for (const char* name : tracks)
        result["tracks"].push_back({{"trackName", name}, {"isMaster", false}, {"shortTermLufs", lufs}});
    return entry(ConversationRole::toolCall, "listen_to_playback", result.dump());
}

// Each resolved list as "name@lufs" texts, newest list first.
using Lists = std::vector<std::vector<std::string>>;

Lists names(const std::vector<std::vector<AnalysisResolver::TrackAnalysisInfo>>& lists) {
    Lists out;
    for (const auto& list : lists) {
        out.emplace_back();
        for (const auto& t : list) out.back().push_back(t.trackName + "@" + std::to_string(int(*t.shortTermLufs)));
    }
    return out;
}

TEST(AnalysisResolver, NewestListeningResultsOfTheWantedTracksComeFirst) {
    std::vector<ConversationEntry> thread = {
        listen({"Vocals", "Bass"}, -20), entry(ConversationRole::assistant, std::nullopt, std::nullopt),
        listen({"Bass", "Drums"}, -18), listen({"Drums"}, -16),  // newest, but without a wanted track
    };
    EXPECT_EQ(names(AnalysisResolver::resolve({"bass", "Vocals"}, thread, 1)), (Lists{{"Bass@-18"}}));
    EXPECT_EQ(names(AnalysisResolver::resolve({"bass", "Vocals"}, thread, 2)),
              (Lists{{"Bass@-18"}, {"Vocals@-20", "Bass@-20"}}));
    EXPECT_EQ(names(AnalysisResolver::resolve({"vocals"}, thread, 2)), (Lists{{"Vocals@-20"}}));
    EXPECT_TRUE(AnalysisResolver::resolve({}, thread, 2).empty());
    EXPECT_TRUE(AnalysisResolver::resolve({"Bass"}, {}, 2).empty());
}

TEST(AnalysisResolver, NamesMatchIgnoringCaseAndTracksOfOneNameStayTwoRows) {
    std::vector<ConversationEntry> thread = {listen({"VOCALS", "vocals", "Keys"}, -12)};
    EXPECT_EQ(names(AnalysisResolver::resolve({"Vocals", "vocals"}, thread, 2)), (Lists{{"VOCALS@-12", "vocals@-12"}}));
    EXPECT_TRUE(AnalysisResolver::resolve({" Vocals"}, thread, 1).empty());  // no trimming
}

TEST(AnalysisResolver, UnusableEntriesArePassedOverAndOlderResultsUsed) {
    std::vector<ConversationEntry> thread = {
        listen({"Bass"}, -22, /*withDuration=*/false),  // still an analysis result
        entry(ConversationRole::toolCall, "get_audio_analysis",
              R"({"status":"ok","tracks":[{"trackName":"Bass","isMaster":false,"shortTermLufs":-1}]})"),
        entry(ConversationRole::tool, "listen_to_playback",
              R"({"status":"ok","tracks":[{"trackName":"Bass","isMaster":false,"shortTermLufs":-2}]})"),
        entry(ConversationRole::toolCall, "Listen_To_Playback",
              R"({"status":"ok","tracks":[{"trackName":"Bass","isMaster":false,"shortTermLufs":-3}]})"),
        entry(ConversationRole::toolCall, "listen_to_playback", std::nullopt),
        entry(ConversationRole::toolCall, "listen_to_playback", "not json"),
        entry(ConversationRole::toolCall, "listen_to_playback", R"({"status":"error","message":"no plug-in"})"),
        entry(ConversationRole::toolCall, "listen_to_playback", R"({"status":"ok","tracks":[{"trackName":"Bass"}]})"),
    };
    EXPECT_EQ(names(AnalysisResolver::resolve({"Bass"}, thread, 2)), (Lists{{"Bass@-22"}}));
}

}  // namespace
}  // namespace corvane
