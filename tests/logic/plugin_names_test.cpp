#include <gtest/gtest.h>

#include "logic/plugin_names.h"

namespace corvane {
namespace {

TEST(PluginNames, TheAnalysisPluginIsKnownInEveryFormANarrowSlotShows) {
    struct Case {
        const char* name;
        bool analysis;
    };
    for (const Case& c : {Case{"Corvane", true}, Case{" \tCORVANE\t", true}, Case{"Quillmere Meter", true},
                          Case{"AU: corvane (stereo)", true}, Case{"Corva", true}, Case{"Corva\u2026", true},
                          Case{"Corvan", true}, Case{"Cor", true}, Case{"Corv\u2026", true}, Case{"Co\u2026", false},
                          Case{"Corte", true}, Case{"Cortex", false}, Case{"Correlator", false},
                          Case{"Compressor", false}, Case{"", false}, Case{"\nCorv", false}}) {
        EXPECT_EQ(plugin_names::isAnalysisPlugin(c.name), c.analysis) << c.name;
    }
}

TEST(PluginNames, ASlotShowsAPluginUnderItsWholeCutOrEllipsisedName) {
    struct Case {
        const char* shown;
        const char* name;
        bool shows;
    };
    for (const Case& c :
         {Case{"Channel EQ", "channel eq", true}, Case{"Channel EQ", "channeleq", true},
          Case{"Chann", "Channel EQ", true}, Case{"Chan\u2026", "Channel EQ", true},
          Case{"Channel...", "Channel EQ", true}, Case{"Channel EQ (stereo)", "Channel EQ", true},
          Case{"Comp\u2026", "Channel EQ", false}, Case{"Limiter", "Channel EQ", false},
          Case{"\u2026", "Limiter", false}, Case{"", "Limiter", false}, Case{"Limiter", "", false},
          // The analysis plug-in: any of its forms, under any of its names.
          Case{"Corva\u2026", "quillmere", true}, Case{"Cor", "corvane", true}, Case{"Compressor", "corvane", false}}) {
        EXPECT_EQ(plugin_names::slotShows(c.shown, c.name), c.shows) << c.shown << " / " << c.name;
    }
}

}  // namespace
}  // namespace corvane
