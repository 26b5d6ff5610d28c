#include <gtest/gtest.h>

#include "diagrams/visual_tag.h"

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

}  // namespace
}  // namespace corvane
