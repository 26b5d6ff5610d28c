#include <gtest/gtest.h>

#include "transcript/transcript_rows.h"

namespace corvane {
namespace {

using R = ConversationRole;

TranscriptItem message(R role, const char* timestamp) {
    ConversationEntry entry;
    entry.role = role;
    entry.timestamp = timestamp;
    entry.content = timestamp;
    return TranscriptItem::message(entry);
}

std::vector<std::string> ids(const std::vector<TranscriptItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item.id());
    return out;
}

TEST(TranscriptRows, TheRevealedReplyStandsInForTheNewestAssistantMessageOnly) {
    const std::vector<TranscriptItem> items = {message(R::assistant, "1"), message(R::user, "2"),
                                               message(R::assistant, "3"), TranscriptItem::toolCallGroup({"g", 0, {}}),
                                               message(R::user, "4")};
    EXPECT_EQ(ids(TranscriptRows::visibleItems(items, std::nullopt)), ids(items));
    EXPECT_EQ(ids(TranscriptRows::visibleItems(items, "")),
              (std::vector<std::string>{"1_assistant", "2_user", "g", "4_user"}));
    const std::vector<TranscriptItem> noReply = {message(R::user, "1"), TranscriptItem::thinking("t")};
    EXPECT_EQ(ids(TranscriptRows::visibleItems(noReply, "Hel")), ids(noReply));
    EXPECT_FALSE(TranscriptRows::showsStreamingRow(""));
    EXPECT_TRUE(TranscriptRows::showsStreamingRow("Hel"));
}

TEST(TranscriptRows, RowsByRole) {
    using K = TranscriptRows::RowKind;
    struct Case {
        R role;
        K kind;
        bool entries;
        bool report;
    };
    const Case cases[] = {
        {R::user, K::bubble, false, false}, {R::update, K::bubble, false, false}, {R::assistant, K::bubble, true, true},
        {R::tool, K::none, false, false},   {R::system, K::none, false, false},   {R::toolCall, K::none, false, false},
    };
    for (const auto& c : cases) {
        auto row = TranscriptRows::rowFor(message(c.role, "1"));
        EXPECT_EQ(row.kind, c.kind);
        EXPECT_EQ(row.withThreadEntries, c.entries);
        EXPECT_EQ(row.withReport, c.report);
    }
    EXPECT_EQ(TranscriptRows::rowFor(TranscriptItem::thinking("t")).kind, K::thinking);

    using Scroll = TranscriptRows::Scroll;
    EXPECT_EQ(TranscriptRows::scrollAfterChange(3, 4, std::nullopt, std::nullopt), Scroll::animated);
    EXPECT_EQ(TranscriptRows::scrollAfterChange(4, 4, "", "He"), Scroll::immediate);
    EXPECT_EQ(TranscriptRows::scrollAfterChange(4, 4, "He", std::nullopt), Scroll::immediate);
    EXPECT_EQ(TranscriptRows::scrollAfterChange(4, 4, std::nullopt, std::nullopt), Scroll::none);
}

TEST(ThinkingIndicator, DotsPulseInAStaggeredWaveOnceShown) {
    using TI = ThinkingIndicator;
    EXPECT_EQ(TI::dotOpacity(0, std::nullopt), 0.3);
    EXPECT_EQ(TI::dotOpacity(2, 0.29), 0.3);           // its 0.3 s delay has not passed
    EXPECT_NEAR(TI::dotOpacity(0, 0.25), 0.65, 1e-6);  // the ease-in-out midpoint
    EXPECT_NEAR(TI::dotOpacity(1, 0.40), 0.65, 1e-6);  // the same, 0.15 s later
    EXPECT_NEAR(TI::dotOpacity(0, 0.5), 1.0, 1e-6);
    EXPECT_NEAR(TI::dotOpacity(0, 1.0), 0.3, 1e-6);      // and back
    EXPECT_LT(TI::dotOpacity(0, 0.1), 0.3 + 0.7 * 0.2);  // eased: slower than linear at the start
}

}  // namespace
}  // namespace corvane
