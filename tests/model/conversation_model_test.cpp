#include <gtest/gtest.h>

#include "model/model_samples.h"
#include "test_support/json_helpers.h"

#include "model/conversation_model.h"

#include <climits>

#include "support/json_writer.h"

namespace corvane {
namespace {

using nlohmann::json;

using testing::captureJSON;
using testing::decodes;

json entryJSON(const char* role = "user") {
    return {{"timestamp", "2026-12-06T15:24:00.000Z"}, {"role", role}, {"content", "hello"}};
}

json threadJSON() {
    return {{"threadID", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"},
            {"title", "Chat 1"},
            {"createdAt", "2026-12-06T15:24:00.000Z"},
            {"updatedAt", "2026-12-06T15:25:00.000Z"},
            {"entries", json::array({entryJSON()})}};
}

TEST(ConversationModel, ThreadWithoutOptionalMembersIsWrittenBackWithoutThem) {
    auto thread = threadJSON().get<StoredConversationThread>();
    EXPECT_FALSE(thread.projectName || thread.songBrief || thread.latestCapture || thread.pendingCaptures);
    EXPECT_EQ(json(thread), threadJSON());
}

TEST(ConversationModel, NullOptionalMemberReadsAsAbsentAndIsNotWrittenBack) {
    json entry = entryJSON("toolCall");
    entry["succeeded"] = nullptr;
    auto decoded = entry.get<ConversationEntry>();
    EXPECT_FALSE(decoded.succeeded);
    EXPECT_FALSE(json(decoded).contains("succeeded"));
}

TEST(ConversationModel, OneBadValueFailsTheWholeDocumentAsThatForm) {
    struct Case {
        const char* name;
        json document;
        bool current;
        bool legacy;
    };
    auto withEntry = [](json entry) {
        json thread = threadJSON();
        thread["entries"].push_back(std::move(entry));
        return json{{"threads", json::array({thread})}};
    };
    json fractionalRound = entryJSON("toolCall");
    fractionalRound["roundIndex"] = 2.5;
    json wholeRound = entryJSON("toolCall");
    wholeRound["roundIndex"] = 2.0;
    json badCapture = threadJSON();
    badCapture["pendingCaptures"] = json::array({captureJSON("window")});
    const Case cases[] = {
        {"empty threads list", {{"threads", json::array()}}, true, false},
        {"empty object", json::object(), false, false},
        {"legacy with entries only", {{"entries", json::array({entryJSON()})}}, false, true},
        {"both forms at once read as current", {{"threads", json::array()}, {"entries", json::array()}}, true, true},
        {"role differing only in case", withEntry(entryJSON("User")), false, false},
        {"unknown role", withEntry(entryJSON("developer")), false, false},
        {"round index 2.5", withEntry(fractionalRound), false, false},
        {"round index 2.0 is the integer 2", withEntry(wholeRound), true, false},
        {"undecodable queued capture", {{"threads", json::array({badCapture})}}, false, false},
        {"thread without title",
         {{"threads", json::array({[] {
               json t = threadJSON();
               t.erase("title");
               return t;
           }()})}},
         false,
         false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodes<StoredConversationState>(c.document), c.current) << c.name;
        EXPECT_EQ(decodes<StoredConversation>(c.document), c.legacy) << c.name;
    }
}

TEST(ConversationModel, LegacyDocumentWithEntriesOnlyHasNoCapturesOrBrief) {
    auto legacy = json{{"entries", json::array({entryJSON()})}}.get<StoredConversation>();
    EXPECT_EQ(legacy.entries.size(), 1u);
    EXPECT_FALSE(legacy.latestCapture || legacy.pendingCaptures || legacy.songBrief);
}

TEST(ConversationModel, StateWithoutCurrentThreadHasEmptyIdsAndNoBrief) {
    EXPECT_EQ(json(ConversationStateResponse{}).dump(),
              R"({"currentThreadID":"","currentThreadTitle":"","entries":[],"ok":true,"pendingCaptureCount":0,)"
              R"("threads":[]})");
}

TEST(ConversationModel, SongBriefRequestNeedsTheBrief) {
    EXPECT_FALSE(decodes<SongBriefRequest>(json{{"threadID", "A"}}));
    auto request = json{{"songBrief", "dark synth-pop"}}.get<SongBriefRequest>();
    EXPECT_EQ(request.songBrief, "dark synth-pop");
    EXPECT_FALSE(request.threadID);
}

// The conversation file is written straight from the values; it must read as to_json writes it.
TEST(ConversationModel, StraightWriterMatchesTheDocumentDump) {
    StoredConversationState state;
    state.threads.push_back(threadJSON().get<StoredConversationThread>());
    StoredConversationThread full = threadJSON().get<StoredConversationThread>();
    full.entries.push_back(ConversationEntry{.timestamp = "t",
                                             .role = ConversationRole::toolCall,
                                             .content = "line\nbreak \"quoted\" caf\xC3\xA9",
                                             .toolCallID = "call_1",
                                             .toolName = "listen_to_playback",
                                             .arguments = R"({"track_name":"Vocals"})",
                                             .roundIndex = INT64_MAX,
                                             .succeeded = false,
                                             .summary = "Listened",
                                             .resultJSON = "{}",
                                             .userEntryIndex = INT64_MIN});
    CaptureMetadata capture = captureJSON().get<CaptureMetadata>();
    capture.logicContext.windows.push_back({"Mixer", {-0.5, 1e-7, 2560, 1440}, false});
    full.latestCapture = capture;
    capture.filePath.reset();
    capture.logicContext = LogicContextSnapshot{};
    full.pendingCaptures = std::vector<CaptureMetadata>{capture, captureJSON().get<CaptureMetadata>()};
    full.songBrief = "brief";
    full.projectName = "Song";
    state.threads.push_back(full);
    full.pendingCaptures = std::vector<CaptureMetadata>{};
    state.threads.push_back(full);

    for (const auto& document : {StoredConversationState{}, state}) {
        std::string out;
        PrettyJSONWriter writer(out);
        writeJSON(writer, document);
        EXPECT_TRUE(writer.valid());
        EXPECT_EQ(out, json(document).dump(2));
    }
}

}  // namespace
}  // namespace corvane
