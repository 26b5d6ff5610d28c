#include <gtest/gtest.h>

#include <plist/plist.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "plugins/plugin_inventory.h"
#include "test_support/json_helpers.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string plist(const std::string& dictBody) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           dictBody + "\n</dict>\n</plist>\n";
}

std::string names(const std::string& displayName, const std::string& bundleName) {
    std::string body;
    if (!displayName.empty()) body += "<key>CFBundleDisplayName</key><string>" + displayName + "</string>";
    if (!bundleName.empty()) body += "<key>CFBundleName</key><string>" + bundleName + "</string>";
    return plist(body);
}

// A tree built with libplist, written in the binary or the XML form.
struct PropertyListWriter {
    plist_t root = plist_new_dict();
    ~PropertyListWriter() { plist_free(root); }

    void set(const char* key, plist_t value) { plist_dict_set_item(root, key, value); }
    std::string written(bool binary) const {
        char* bytes = nullptr;
        std::uint32_t length = 0;
        if (binary)
            plist_to_bin(root, &bytes, &length);
        else
            plist_to_xml(root, &bytes, &length);
        std::string out(bytes, length);
        std::free(bytes);
        return out;
    }
};

void appendBigEndian(std::string& out, std::uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A binary list written by hand, the first object on top: libplist writes trees only, never the
// shared or looping references that a crafted file can hold. One-byte references.
std::string handWrittenBinary(const std::vector<std::string>& objects) {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::uint64_t table = out.size();
    for (auto offset : offsets) appendBigEndian(out, offset, 4);
    out += std::string(6, '\0') + "\x04\x01";
    appendBigEndian(out, objects.size(), 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, table, 8);
    return out;
}

// {CFBundleName: "Deep", k: <object 4>} followed by `rest` from object 4 on.
std::string handWrittenBundle(const std::vector<std::string>& rest) {
    // A dictionary of two entries (keys 1 and 2, values 3 and 4), then strings of 12, 1 and 4 bytes.
    std::vector<std::string> objects{"\xD2\x01\x02\x03\x04", std::string(1, '\x5C') + "CFBundleName", "\x51k",
                                     std::string(1, '\x54') + "Deep"};
    objects.insert(objects.end(), rest.begin(), rest.end());
    return handWrittenBinary(objects);
}

TEST(PluginInventoryInfoPlist, ReadsWhatInfoPlistsHoldAndRefusesWhatItCannotRead) {
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<std::string> name;  // CFBundleName as read; absent = refused
    };
    const std::string nested =
        "<!-- vendor note --><key>AudioComponents</key><array><dict><key>factory</key><string>F</string>"
        "<key>tags</key><array><string>Effects</string><integer>-3</integer><real>1.5e2</real></array>"
        "<key>sandbox</key><true/><key>x</key><false></false><key>blob</key><data>AAEC\n  Aw==</data>"
        "<key>when</key><date>2024-01-01T00:00:00Z</date><key>empty</key><dict/></dict></array>"
        "<key>CFBundleName</key><string>Tape &amp; Tube &#x2014; &lt;1&gt; &#233;</string>";
    std::string deeplyNested;
    for (int i = 0; i < 5000; ++i) deeplyNested += "<array>";
    // Each container refers to the next one twice: 20 levels expand to two million values.
    std::vector<std::string> doubling;
    for (char next = 5; next < 25; ++next) doubling.push_back(std::string("\xA2") + next + next);
    doubling.push_back("\xA0");
    const Case cases[] = {
        {"nested values, comments, entities", plist(nested), "Tape & Tube \xE2\x80\x94 <1> \xC3\xA9"},
        {"CDATA and a comment inside text", plist("<key>CFBundleName</key><string><![CDATA[A<B]]><!-- x -->C</string>"),
         "A<BC"},
        {"byte order mark and no prolog",
         "\xEF\xBB\xBF<plist><dict><key>CFBundleName</key><string>Bom</string></dict></plist>", "Bom"},
        {"empty string element", plist("<key>CFBundleName</key><string/>"), ""},
        {"repeated key, last counts",
         plist("<key>CFBundleName</key><string>A</string><key>CFBundleName</key><string>B</string>"), "B"},
        {"hand-written binary form", handWrittenBundle({"\xA0"}), "Deep"},
        {"truncated binary form", std::string("bplist00\xD1\x01\x02", 11), std::nullopt},
        {"binary container inside itself", handWrittenBundle({"\xA1\x04"}), std::nullopt},
        {"binary references expanding past any real list", handWrittenBundle(doubling), std::nullopt},
        {"unknown entity", plist("<key>CFBundleName</key><string>&nbsp;</string>"), std::nullopt},
        {"character reference to nothing", plist("<key>CFBundleName</key><string>&#0;</string>"), std::nullopt},
        {"unterminated string", plist("<key>CFBundleName</key><string>Open"), std::nullopt},
        {"mismatched end tag", plist("<key>CFBundleName</key><string>X</strong>"), std::nullopt},
        {"unknown element", plist("<key>CFBundleName</key><name>X</name>"), std::nullopt},
        {"value without key", plist("<string>X</string>"), std::nullopt},
        {"not UTF-8", plist("<key>CFBundleName</key><string>\xFF\xFE</string>"), std::nullopt},
        {"nesting far too deep", plist("<key>k</key>" + deeplyNested + "<key>CFBundleName</key><string>X</string>"),
         std::nullopt},
        {"larger than any Info.plist",
         plist("<key>CFBundleName</key><string>" + std::string(5 << 20, 'x') + "</string>"), std::nullopt},
    };
    for (const auto& c : cases) {
        auto parsed = PluginInventoryService::infoPlistStrings(c.bytes);
        ASSERT_EQ(parsed.has_value(), c.name.has_value()) << c.what;
        if (!parsed) continue;
        ASSERT_TRUE(parsed->contains("CFBundleName")) << c.what;
        EXPECT_EQ(parsed->at("CFBundleName"), *c.name) << c.what;
    }
}

TEST(PluginInventoryInfoPlist, BothFormsAreReadAndNeitherMayNestDeeperThanARealOne) {
    for (bool binary : {true, false}) {
        for (int levels : {60, 100}) {
            PropertyListWriter list;
            list.set("CFBundleName", plist_new_string("Tape \xE2\x80\x94 Delay"));  // UTF-16 in the binary form
            list.set("CFBundleVersion", plist_new_uint(3));
            plist_t inner = plist_new_array();
            for (int i = 1; i < levels; ++i) {
                plist_t outer = plist_new_array();
                plist_array_append_item(outer, inner);
                inner = outer;
            }
            list.set("Nested", inner);
            auto strings = PluginInventoryService::infoPlistStrings(list.written(binary));
            const std::string what = (binary ? "binary, " : "XML, ") + std::to_string(levels) + " levels";
            ASSERT_EQ(strings.has_value(), levels == 60) << what;
            if (!strings) continue;
            EXPECT_EQ(*strings, (std::map<std::string, std::string>{{"CFBundleName", "Tape \xE2\x80\x94 Delay"}}))
                << what;
        }
    }
}

class PluginInventoryTest : public ::testing::Test {
protected:
    fs::path system() const { return home_.root() / "system"; }
    fs::path user() const { return home_.root() / "user"; }
    fs::path components(const fs::path& root) const { return root / "Library/Audio/Plug-Ins/Components"; }
    fs::path vst3(const fs::path& root) const { return root / "Library/Audio/Plug-Ins/VST3"; }

    // A bundle folder with Contents/Info.plist holding `infoPlist` (none when empty).
    fs::path bundle(const fs::path& path, const std::string& infoPlist) {
        fs::create_directories(path / "Contents" / "MacOS");
        if (!infoPlist.empty()) testing::writeAll(path / "Contents" / "Info.plist", infoPlist);
        return path;
    }

    std::vector<std::string> listed(const PluginInventoryService& service) {
        std::vector<std::string> out;
        for (const auto& p : service.scanInstalledPlugins().plugins) {
            std::string where = fs::relative(p.path, home_.root()).string();
            where.erase(where.find("Library/Audio/Plug-Ins/"), 23);
            out.push_back(p.name + " (" + toString(p.format) + ") " + where);
        }
        return out;
    }

    testing::TempHome home_;
};

TEST_F(PluginInventoryTest, InstalledPluginsAreListedByNameAndFormatFromAllFourFolders) {
    bundle(components(system()) / "ChromaVerb.component", names("", "ChromaVerb"));
    bundle(components(system()) / "Tape.COMPONENT", names("Tape Echo", "TapeEcho"));
    bundle(components(user()) / "Spacer.component", names("   ", "Spacer Pro"));  // blank display name
    bundle(components(user()) / "Blank Names.component", names(" \n ", "\t"));    // both blank: file name
    bundle(components(user()) / "NoPlist.component", "");                         // no Info.plist
    bundle(components(user()) / "Binary.component", std::string("bplist00\x01\x02", 10));
    bundle(components(user()) / "Broken.component", "<plist><dict><key>CFBundleName</key><string>Half");
    bundle(vst3(system()) / "Acme" / "Squash.vst3", names("Squash", ""));  // vendor sub-folder
    bundle(vst3(system()) / "ChromaVerb.vst3", names("", "ChromaVerb"));   // same plug-in, other format
    bundle(vst3(user()) / "Outer.vst3", names("Outer", ""));
    bundle(vst3(user()) / "Outer.vst3" / "Contents" / "Resources" / "Inner.vst3", names("Inner", ""));  // in a bundle
    bundle(vst3(user()) / ".Hidden.vst3", names("Hidden", ""));
    bundle(vst3(user()) / ".cache" / "Cached.vst3", names("Cached", ""));
    // A name that is not UTF-8 (impossible on macOS) could never be written into the answer.
    bundle(components(user()) / "Bad\xFFName.component", names("", "Bad"));
    testing::writeAll(vst3(user()) / "notes.txt", "not a plug-in");
    // A pipe where the Info.plist should be must not hang the scan.
    fs::create_directories(components(user()) / "Piped.component" / "Contents");
    ASSERT_EQ(::mkfifo((components(user()) / "Piped.component" / "Contents" / "Info.plist").c_str(), 0600), 0);

    PluginInventoryService service(system(), user());
    EXPECT_EQ(listed(service), (std::vector<std::string>{
                                   "Binary (audioUnit) user/Components/Binary.component",
                                   "Blank Names (audioUnit) user/Components/Blank Names.component",
                                   "Broken (audioUnit) user/Components/Broken.component",
                                   "ChromaVerb (audioUnit) system/Components/ChromaVerb.component",
                                   "ChromaVerb (vst3) system/VST3/ChromaVerb.vst3",
                                   "NoPlist (audioUnit) user/Components/NoPlist.component",
                                   "Outer (vst3) user/VST3/Outer.vst3",
                                   "Piped (audioUnit) user/Components/Piped.component",
                                   "Spacer Pro (audioUnit) user/Components/Spacer.component",
                                   "Squash (vst3) system/VST3/Acme/Squash.vst3",
                                   "Tape Echo (audioUnit) system/Components/Tape.COMPONENT",
                               }));
    EXPECT_EQ(service.scanInstalledPlugins().totalCount, 11);
}

TEST_F(PluginInventoryTest, EqualNamesSortByPathAndCaseIsIgnoredWithoutBreakingTheSort) {
    // Identical names go by path; names differing only in case sit together, in some order, and
    // mixing both must not upset the sort.
    for (const char* folder : {"b", "a", "c"}) bundle(vst3(system()) / folder / "X.vst3", names("Echo", ""));
    bundle(vst3(system()) / "d" / "Y.vst3", names("echo", ""));
    bundle(vst3(system()) / "e" / "Z.vst3", names("ECHO", ""));
    bundle(vst3(system()) / "delay.vst3", names("delay", ""));
    bundle(vst3(system()) / "Flanger.vst3", names("Flanger", ""));

    auto plugins = PluginInventoryService(system(), user()).scanInstalledPlugins().plugins;
    ASSERT_EQ(plugins.size(), 7u);
    EXPECT_EQ(plugins.front().name, "delay");
    EXPECT_EQ(plugins.back().name, "Flanger");
    std::vector<std::string> echoPaths;
    for (const auto& p : plugins)
        if (p.name == "Echo") echoPaths.push_back(fs::path(p.path).parent_path().filename().string());
    EXPECT_EQ(echoPaths, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(PluginInventoryTest, NoFoldersGiveAnEmptyInventoryAndOneFolderNamedTwiceListsOnce) {
    PluginInventoryService nothing(home_.root() / "absent", home_.root() / "absent-too");
    auto empty = nothing.scanInstalledPlugins();
    EXPECT_TRUE(empty.plugins.empty());
    EXPECT_EQ(empty.totalCount, 0);

    bundle(components(system()) / "Gate.component", names("", "Gate"));
    PluginInventoryService sameHome(system(), system().string() + "/");
    EXPECT_EQ(sameHome.audioUnitDirectories()[0], sameHome.audioUnitDirectories()[1]);
    EXPECT_EQ(sameHome.scanInstalledPlugins().totalCount, 1);

    PluginInventoryService standard;
    EXPECT_EQ(standard.audioUnitDirectories().front(), "/Library/Audio/Plug-Ins/Components");
    EXPECT_EQ(standard.vst3Directories().front(), "/Library/Audio/Plug-Ins/VST3");
}

TEST(PluginInventoryJSON, FormatsAreWrittenAsTheirNamesAndNothingElseDecodes) {
    PluginInventoryToolResult result;
    result.status = "ok";
    result.totalCount = 2;
    result.plugins = {{"ChromaVerb", InstalledPluginFormat::audioUnit}, {"Squash", InstalledPluginFormat::vst3}};
    result.message = "2 plug-ins installed";
    json written = result;
    EXPECT_EQ(written, json::parse(R"({"status":"ok","totalCount":2,"message":"2 plug-ins installed",
        "plugins":[{"name":"ChromaVerb","format":"audioUnit"},{"name":"Squash","format":"vst3"}]})"));
    EXPECT_EQ(written.get<PluginInventoryToolResult>(), result);

    json summary = InstalledPluginSummary{"Gate", InstalledPluginFormat::vst3, "/x/Gate.vst3"};
    EXPECT_EQ(summary, json::parse(R"({"name":"Gate","format":"vst3","path":"/x/Gate.vst3"})"));
    EXPECT_FALSE(testing::decodes<InstalledPluginSummary>(testing::with(summary, "format", "VST3")));
    EXPECT_FALSE(testing::decodes<InstalledPluginSummary>(testing::without(summary, "path")));
    EXPECT_FALSE(testing::decodes<PluginInventoryToolResult>(testing::with(written, "totalCount", 2.5)));
}

}  // namespace
}  // namespace corvane
