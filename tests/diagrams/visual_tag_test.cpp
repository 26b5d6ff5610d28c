#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "diagrams/visual_tag.h"
#include "test_support/work_cost.h"

namespace corvane {
namespace {

using Names = std::vector<std::string>;

TEST(VisualTagParser, ReadsTypeParametersAndTrackNames) {
    struct Case {
        const char* line;
        const char* type;
        Names trackNames;
    };
    const Case cases[] = {
        {"[visual:freq_curve]", "freq_curve", {}},
        {"[visual:freq_compare tracks=\"Kick, Bass\"]", "freq_compare", {"Kick", "Bass"}},
        {"[visual:freq_compare tracks=\", Bass ,,\"]", "freq_compare", {"Bass"}},
        {"[visual:stereo_field tracks=\"\" track=\"Bass\"]", "stereo_field", {}},  // "tracks" wins
        {"[visual:stereo_field track=\"A\" track=\"B\"]", "stereo_field", {"B"}},
        {"Here it is: [visual:levels_compare track=\"Pad\"] as asked", "levels_compare", {"Pad"}},
        {"[visual:one track=\"A\"] [visual:two track=\"B\"]", "one", {"A"}},
        {"[visual:freq_curve tracks=\"a]b\"]", "freq_curve", {"a]b"}},
        {"\t [visual:Custom_2 tracks=\"Bass,Bass\"] ", "Custom_2", {"Bass", "Bass"}},
        // Names and types in other scripts; the no-break space around a name is trimmed.
        {"[visual:größe tracks=\"Stimme\u00a0, Гитара, ベース\"]", "größe", {"Stimme", "Гитара", "ベース"}},
    };
    for (const auto& c : cases) {
        auto tag = VisualTagParser::parse(c.line);
        ASSERT_TRUE(tag) << c.line;
        EXPECT_EQ(tag->type, c.type) << c.line;
        EXPECT_EQ(tag->trackNames(), c.trackNames) << c.line;
    }
    auto tag = VisualTagParser::parse("[visual:levels_compare tracks=\" A \" target=\"-9.5\" odd_Key=\"x y\"]");
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->params,
              (std::map<std::string, std::string>{{"tracks", " A "}, {"target", "-9.5"}, {"odd_Key", "x y"}}));
}

TEST(VisualTagParser, MalformedTagsAreNoTags) {
    for (const char* line : {
             "[Visual:freq_curve]",                    // upper-case V
             "[visual: freq_curve]",                   // space after the colon
             "[visual:freq-curve]",                    // hyphen in the type
             "[visual:freq_curve tracks='Bass']",      // single quotes
             "[visual:freq_curve tracks = \"Bass\"]",  // spaces around =
             "[visual:freq_curve tracks=\"Bass\" ]",   // space before ]
             "[visual:freq_curve a=\"1\"b=\"2\"]",     // no whitespace between parameters
             "[visual:freq_curve tracks=\"Bass]",      // unclosed value
             "[visual:]",
             "no tag here",
             "",
         })
        EXPECT_FALSE(VisualTagParser::parse(line)) << line;
}

// A stored reply may hold one enormous tag line; it is parsed every time its thread opens, on the
// UI thread. 64,000 parameters (320 KB) took 15 s; openings inside values must not add up either
// (with no "]" at the end, each of them is tried in turn).
TEST(VisualTagParser, HugeTagLinesParseInLinearTime) {
    const auto many = [](int params) {
        std::string line = "[visual:freq_compare";
        for (int i = 0; i < params; ++i) line += " p" + std::to_string(i) + "=\"" + std::to_string(i % 10) + "\"";
        return line + "]";
    };
    const auto nested = [](int openings) {
        std::string line = "[visual:a";
        for (int i = 0; i < openings; ++i) line += " b=\" [visual:a c=\"";
        return line + " d=\"x\"";
    };
    // Eight times the line costs about eight times the work, not the sixty-four of a quadratic scan.
    for (const auto& lineOf : {std::function<std::string(int)>(many), std::function<std::string(int)>(nested)}) {
        const std::string small = lineOf(5'000), large = lineOf(40'000);
        std::optional<VisualTag> tag;
        const auto cost = testing::costRatio([&] { tag = VisualTagParser::parse(small); },
                                             [&] { tag = VisualTagParser::parse(large); });
        EXPECT_LT(cost.ratio(), 24.0) << cost.small << " s, then " << cost.large << " s";
        if (large.starts_with("[visual:freq_compare")) {
            ASSERT_TRUE(tag);
            EXPECT_EQ(tag->params.size(), 40'000u);
            EXPECT_EQ(tag->params.at("p39999"), "9");
        } else {
            EXPECT_FALSE(tag);
        }
    }
}

// Parsing follows the syntax of the documented pattern exactly, also in the corners a hand-written
// scanner gets wrong: ICU's word and space classes, malformed UTF-8, several openings.
TEST(VisualTagParser, AgreesWithThePatternInTheCorners) {
    const struct {
        std::string line;
        std::optional<VisualTag> tag;
    } cases[] = {
        {"[visual:a\u00a0k=\"v\"]", VisualTag{"a", {{"k", "v"}}}},  // no-break space is \s
        {"[visual:a\u2028k=\"v\"]", VisualTag{"a", {{"k", "v"}}}},  // so is LINE SEPARATOR
        {"[visual:a\vk=\"v\"]", VisualTag{"a", {{"k", "v"}}}},      // and VT
        {"[visual:e\u0301\u203f\u0663 k\u200d=\"\"]", VisualTag{"e\u0301\u203f\u0663", {{"k\u200d", ""}}}},
        {"[visual:a-b] [visual:c]", VisualTag{"c", {}}},
        {"[visual:[visual:a]", VisualTag{"a", {}}},
        {"[visual:a k=\"\xff\xfe\"]", VisualTag{"a", {{"k", "\ufffd\ufffd"}}}},
        {"[visual:a k=\"x\" k=\"y\"]", VisualTag{"a", {{"k", "y"}}}},
        {"[visual:a k=\"[visual:b]\"", VisualTag{"b", {}}},
        {"[visual:a\u00a0]", std::nullopt},
        {"[visual:\u2013]", std::nullopt},
        {"[visual:a k=\"v\"\n]", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(VisualTagParser::parse(c.line), c.tag) << c.line;
}

}  // namespace
}  // namespace corvane
