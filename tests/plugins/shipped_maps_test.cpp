// The plug-in maps shipped in resources/PluginMaps: found by name and alias, and pointing at
// controls the plug-ins' editors really have.

#include "plugins/ax_locator.h"
#include "plugins/plugin_editors_fixture.h"

namespace corvane::testing {
namespace {

class ShippedMapsTest : public PluginEditorsTest {};

TEST_F(ShippedMapsTest, MapsAreFoundByNameAndAliasOnly) {
    struct Case {
        const char* slotName;
        const char* map;
    };
    for (const Case& c :
         {Case{"Drift Delay", "Drift Delay"}, Case{"DRIFT DELAY", "Drift Delay"}, Case{"Drift Dly", "Drift Delay"},
          Case{"driftdelay", "Drift Delay"}, Case{"Compressor", "Compressor"}, Case{"Drift Delay ", "(none)"},
          Case{"Drift", "(none)"}, Case{"Tube Saturator", "(none)"}}) {
        const PluginMap* map = store.mapForPlugin(c.slotName);
        EXPECT_EQ(map ? map->name : "(none)", c.map) << c.slotName;
    }
}

TEST_F(ShippedMapsTest, EveryLocatorOfAShippedMapFindsItsControl) {
    for (const char* plugin : {"Drift Delay", "Compressor"}) {
        const PluginMap* map = store.mapForPlugin(plugin);
        ASSERT_TRUE(map) << plugin;
        auto slot = slotOf("Vox", plugin);
        logic.findChildButton(slot.element, "open")->performAction(platform::ax::kPress);
        auto window = logic.findPluginWindow(app(), main());
        ASSERT_TRUE(window) << plugin;
        for (const auto& def : map->parameters) {
            // A parameter whose control comes and goes with another's setting may be missing here.
            if (!def.editorAX || def.dependsOn) continue;
            EXPECT_TRUE(AXLocator::find(*def.editorAX, *window, 15)) << plugin << ": " << def.id;
            for (const auto& option : def.options.value_or(std::vector<ParameterOption>{})) {
                if (option.editorAX) {
                    EXPECT_TRUE(AXLocator::find(*option.editorAX, *window, 15)) << plugin << ": " << option.id;
                }
            }
        }
        logic.closeOpenPluginAndRestoreEditorView();
    }
}

TEST_F(ShippedMapsTest, TheCompressorMapReadsItsSliderAndItsProbedToggle) {
    const auto read = inspector.readPlugin(slotOf("Vox", "Compressor"), main(), "Vox");
    ASSERT_TRUE(read);
    std::vector<std::string> shown;
    for (const auto& e : read->parameters) shown.push_back(e.def.label + "=" + e.currentDisplay.value_or("(none)"));
    EXPECT_EQ(shown, (std::vector<std::string>{"Threshold=-12.8 dB", "Auto Gain=on"}));
    auto off = inspector.writeParameter(slotOf("Vox", "Compressor"), main(), "autoGain", "off");
    EXPECT_TRUE(off.success) << off.message;
    EXPECT_EQ(param("Vox", "Compressor", "autogain"), 0);
}

}  // namespace
}  // namespace corvane::testing
