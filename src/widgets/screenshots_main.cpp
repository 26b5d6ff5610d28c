// corvane-screenshots OUT_DIR: renders every view with sample data to OUT_DIR/<name>.png, so that a
// person can look at them. A new view is one line in `views()`.
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "widgets/analysis_diagrams.h"
#include "widgets/screenshots_bar.h"
#include "widgets/screenshots_overlay.h"
#include "widgets/screenshots_page.h"
#include "widgets/screenshots_shell.h"
#include "widgets/tool_result_widgets.h"
#include "widgets/transcript_view.h"

namespace corvane {
namespace {

using Info = AudioAnalysisToolResult::TrackAnalysisInfo;

Info track(std::string name, double lufs, std::vector<double> bands, double width, double correlation) {
    Info info;
    info.trackName = std::move(name);
    info.shortTermLufs = lufs;
    info.subBandRatio = bands[0];
    info.bassBandRatio = bands[1];
    info.lowMidBandRatio = bands[2];
    info.highMidBandRatio = bands[3];
    info.airBandRatio = bands[4];
    info.stereoWidth = width;
    info.phaseCorrelation = correlation;
    return info;
}

// Two tracks share the name "Vocal": they must come out as two rows everywhere.
TrackAnalysisList before() {
    return {track("Kick", -9.5, {0.42, 0.31, 0.12, 0.1, 0.05}, 0.05, 0.97),
            track("Bass", -13.2, {0.25, 0.45, 0.18, 0.08, 0.04}, 0.12, 0.91),
            track("Vocal", -4.8, {0.02, 0.12, 0.34, 0.38, 0.14}, 0.35, 0.42),
            track("Vocal", -18.4, {0.01, 0.08, 0.3, 0.41, 0.2}, 0.62, 0.12),
            track("Synth Pad with a rather long name", -24.0, {0.03, 0.1, 0.22, 0.35, 0.3}, 0.93, -0.2)};
}

TrackAnalysisList after() {
    return {track("Kick", -11.0, {0.38, 0.28, 0.14, 0.12, 0.08}, 0.04, 0.98),
            track("Bass", -14.1, {0.2, 0.42, 0.2, 0.12, 0.06}, 0.1, 0.94),
            track("Vocal", -8.2, {0.02, 0.1, 0.28, 0.42, 0.18}, 0.3, 0.65),
            track("Vocal", -15.0, {0.01, 0.07, 0.26, 0.44, 0.22}, 0.5, 0.35),
            track("Synth Pad with a rather long name", -21.5, {0.03, 0.1, 0.2, 0.36, 0.31}, 0.8, 0.1)};
}

std::vector<OverlapTrack> overlapTracks(size_t count) {
    std::vector<OverlapTrack> out;
    for (const auto& info : before())
        if (out.size() < count) out.push_back({info.trackName, bandShares(info)});
    return out;
}

DiagramChoice routed(DiagramChoice::Kind kind, TrackAnalysisList tracks, double height) {
    DiagramChoice choice;
    choice.kind = kind;
    choice.tracks = std::move(tracks);
    choice.height = height;
    return choice;
}

const char* kAudioAnalysisJSON = R"({"status":"ok","tracks":[
 {"trackName":"Kick","isMaster":false,"shortTermLufs":-9.5,"spectralTiltDb":-4.2,"subBandRatio":0.42,
  "bassBandRatio":0.31,"lowMidBandRatio":0.12,"highMidBandRatio":0.1,"airBandRatio":0.05},
 {"trackName":"Vocal","isMaster":false,"shortTermLufs":-4.2,"spectralTiltDb":2.5,"subBandRatio":0.02,
  "bassBandRatio":0.12,"lowMidBandRatio":0.34,"highMidBandRatio":0.38,"airBandRatio":0.14},
 {"trackName":"Vocal","isMaster":false,"shortTermLufs":-18.4,"subBandRatio":0.01,"bassBandRatio":0.08,
  "lowMidBandRatio":0.3,"highMidBandRatio":0.41,"airBandRatio":0.2},
 {"trackName":"Room Mic","isMaster":false,"shortTermLufs":-70}]})";
const char* kTrackDetailsJSON = R"({"status":"ok","trackName":"Lead Vocal","plugins":[
 {"index":0,"name":"Channel EQ","isBypassed":false},{"index":1,"name":"Compressor","isBypassed":true},
 {"index":2,"name":"DeEsser 2","isBypassed":false}]})";
const char* kPluginParametersJSON = R"({"status":"ok","trackName":"Lead Vocal","pluginName":"Compressor",
 "parameters":[{"label":"Threshold","value":"-18.5 dB","role":"knob"},{"label":"Ratio","value":"4.0:1","role":"knob"},
 {"label":"Attack","value":"12 ms","role":"knob"},{"label":"Release","value":"80 ms","role":"knob"},
 {"label":"Makeup gain after the knee","value":"3.5 dB","role":"knob"},{"label":"Slider 1","value":"0.5","role":"knob"}]})";
const char* kListTracksJSON = R"({"status":"ok","tracks":[
 {"number":1,"name":"Drums","isMuted":false,"isFolder":true},{"number":2,"name":"Kick","isMuted":false,"isFolder":false},
 {"number":3,"name":"Vocal","isMuted":true,"isFolder":false},{"number":12,"name":"Vocal","isMuted":false,"isFolder":false}]})";
const char* kShowVisualJSON = R"({"diagramType":"before_after","metric":"stereo",
 "beforeTracks":[{"trackName":"Vocal","stereoWidth":0.7,"phaseCorrelation":0.1},{"trackName":"Vocal","stereoWidth":0.2}],
 "tracks":[{"trackName":"Vocal","stereoWidth":0.4,"phaseCorrelation":0.5},{"trackName":"Vocal","stereoWidth":0.25}]})";

// The animations stand still at a moment where the wave and the spinner are mid-way.
ManualAnimationClock& stillClock() {
    static ManualAnimationClock clock;
    return clock;
}

ToolCallInfo toolCall(std::string id, std::string tool, ToolCallStatus status, std::string arguments,
                      std::optional<std::string> summary = {}, std::optional<std::string> result = {}) {
    ToolCallInfo info;
    info.id = std::move(id);
    info.toolName = tool;
    info.displayName = ToolCallInfo::displayNameFor(tool);
    info.arguments = std::move(arguments);
    info.status = status;
    info.summary = std::move(summary);
    info.resultJSON = std::move(result);
    return info;
}

ToolCallGroup sampleGroup() {
    ToolCallGroup group;
    group.id = "round-1";
    group.toolCalls = {
        toolCall("c1", "list_tracks", ToolCallStatus::completed, "{}", "4 tracks", std::string(kListTracksJSON)),
        toolCall("c2", "set_plugin_parameter", ToolCallStatus::failed,
                 R"({"track_name":"Vocal","parameter_name":"Threshold","value":"-90"})",
                 "Threshold accepts -60 dB to 0 dB; try a value in that range."),
        toolCall("c3", "set_plugin_parameter", ToolCallStatus::completed,
                 R"({"track_name":"Vocal","parameter_name":"Threshold","value":"-24"})", "Threshold set to -24 dB"),
        toolCall("c4", "set_track_volume", ToolCallStatus::failed, R"({"track_name":"Bass","value":"-3 dB"})",
                 "No track named Bass. Read https://example.com/help?topic=" + std::string(96, 'q') + "."),
        toolCall("c5", "listen_to_playback", ToolCallStatus::running, R"({"duration_seconds":8})"),
    };
    return group;
}

// Open: the first card (a visual) and the recovered one; the rest closed.
ToolCardHooks sampleExpansion() {
    return {[](const std::string& id) { return id == "c1" || id == "c2" || id == "c4"; },
            [](const std::string&, bool) {}};
}

ConversationEntry entry(std::string timestamp, ConversationRole role, std::string content) {
    ConversationEntry e;
    e.timestamp = std::move(timestamp);
    e.role = role;
    e.content = std::move(content);
    return e;
}

// A transcript drawn whole, for a picture.
class WholeTranscript : public TranscriptView {
public:
    WholeTranscript() : TranscriptView({[](const ConversationEntry&) {}, sampleExpansion()}, stillClock()) {
        std::vector<ConversationEntry> entries;
        ConversationEntry listened = entry("t2", ConversationRole::toolCall, "");
        listened.toolName = "listen_to_playback";
        listened.resultJSON = kAudioAnalysisJSON;
        entries.push_back(listened);
        const auto user = entry("t1", ConversationRole::user,
                                "The vocal feels buried behind the kick, can you **check** it?\n\n---\n"
                                "[INTERNAL — Corvane plugin stream, NOT pasted by the user.\nlevels...");
        const auto update = entry("t3", ConversationRole::update, "Listening to the chorus… **not parsed** here");
        const auto reply = entry("t4", ConversationRole::assistant,
                                 "# Vocal against the kick\n"
                                 "The vocal sits **4 dB** under the kick, and both peak around `2.5 kHz`.\n"
                                 "[visual:freq_compare tracks=\"Kick, Vocal\"]\n\n\n"
                                 "## What I changed\n"
                                 "- Lowered the kick fader by 1.5 dB\n"
                                 "* Cut the kick at `3 kHz` with the **Channel EQ**\n"
                                 "1. Play the chorus again\n"
                                 "2. Tell me if it is still buried\n"
                                 "> The compressor was left as it was.\n"
                                 "```text\n"
                                 "Kick   -9.5 LUFS\n"
                                 "  Vocal  -4.8 LUFS\n"
                                 "```\n"
                                 "Single *asterisks* and [TAGS:removed] stay plain.");
        entries.insert(entries.begin(), user);
        entries.push_back(update);
        entries.push_back(reply);
        setInputs({TranscriptItem::message(user), TranscriptItem::message(update),
                   TranscriptItem::toolCallGroup(sampleGroup()), TranscriptItem::message(reply),
                   TranscriptItem::thinking("thinking")},
                  std::nullopt, entries);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        show();
        stillClock().advance(0.35);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return content()->heightForWidth(width); }
};

struct View {
    const char* name;
    int width;
    std::function<std::unique_ptr<QWidget>()> make;
};

template <class W, class... Args>
std::function<std::unique_ptr<QWidget>()> make(Args... args) {
    return [=] { return std::make_unique<W>(args...); };
}

std::vector<View> views() {
    using Kind = DiagramChoice::Kind;
    auto meter = [] {
        std::vector<LevelsMeterTrack> rows;
        for (const auto& info : before()) rows.push_back({info.trackName, *info.shortTermLufs});
        rows.push_back({"Master", 1.5});
        return rows;
    }();
    std::vector<View> list{
        {"spectrum_curve", 420, make<SpectrumCurveWidget>(std::string("Vocal"), bandShares(before()[2]), 180.0)},
        {"spectrum_curve_untitled", 420, make<SpectrumCurveWidget>(std::string(), bandShares(before()[0]), 140.0)},
        {"overlap_curve", 420, make<OverlapCurveWidget>(overlapTracks(4), std::string("2.5 kHz - 8 kHz"), 176.0)},
        {"levels_meter", 420, make<LevelsMeterWidget>(meter, std::optional<double>(-14))},
        {"levels_compare", 420, make<LevelsCompareWidget>(before())},
        {"stereo_field", 520, make<StereoFieldWidget>(before())},
        {"before_after_freq", 520, make<BeforeAfterWidget>(before(), after(), std::string("freq"))},
        {"before_after_levels", 520, make<BeforeAfterWidget>(before(), after(), std::string("levels"))},
        {"before_after_stereo", 720, make<BeforeAfterWidget>(before(), after(), std::string("stereo"))},
        {"routed_levels_compare", 420, make<DiagramChoiceWidget>(routed(Kind::levelsCompare, before(), 170), true)},
        {"knob_row", 420,
         make<KnobRowWidget>(std::vector<KnobParam>{{"Threshold", "-18.5", "dB", -60, 0},
                                                    {"Ratio", "4.0", ":1", {}, {}},
                                                    {"Gain", "-6.0", "", {}, {}},
                                                    {"Gain", "a rather long value", "", {}, {}}})},
        {"tool_audio_analysis", 420,
         make<ToolResultVisualWidget>(std::string("get_audio_analysis"), std::string(kAudioAnalysisJSON))},
        {"tool_plugin_chain", 420,
         make<ToolResultVisualWidget>(std::string("get_track_details"), std::string(kTrackDetailsJSON))},
        {"tool_plugin_chain_narrow", 240,
         make<ToolResultVisualWidget>(std::string("get_track_details"), std::string(kTrackDetailsJSON))},
        {"tool_knob_grid", 420,
         make<ToolResultVisualWidget>(std::string("get_plugin_parameters"), std::string(kPluginParametersJSON))},
        {"tool_track_list", 420,
         make<ToolResultVisualWidget>(std::string("list_tracks"), std::string(kListTracksJSON))},
        {"tool_show_visual", 720,
         make<ToolResultVisualWidget>(std::string("show_visual"), std::string(kShowVisualJSON))},
        {"transcript", 760, [] { return std::make_unique<WholeTranscript>(); }},
        {"tool_call_cards", 560,
         [] { return std::make_unique<ToolCallGroupWidget>(sampleGroup(), sampleExpansion(), stillClock()); }},
        {"project_page", 760, projectPageScreenshot},
        {"project_page_empty", 760, emptyProjectPageScreenshot},
        {"report_sheet", 440, reportSheetScreenshot},
        {"report_sheet_not_sent", 440, reportSheetNotSentScreenshot},
        {"song_brief_sheet", 400, songBriefSheetScreenshot},
        {"thinking_indicator", 51,
         [] {
             auto dots = std::make_unique<ThinkingIndicatorWidget>(stillClock());
             dots->show();
             stillClock().advance(0.35);
             return dots;
         }},
        {"sign_in_form", 800, screenshots::signInForm},
        {"sign_in_form_busy", 800, screenshots::signInFormBusy},
        {"about_panel", 320, screenshots::aboutPanel},
        {"agent_overlay", 900, screenshots::agentOverlay},
    };
    for (auto& shot : shellScreenshots()) list.push_back({shot.name, shot.width, shot.make});
    return list;
}

}  // namespace
}  // namespace corvane

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("build/screenshots");
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out));
        return 1;
    }
    // The chat window's dark background, on which the diagrams' white shapes are meant to sit.
    const QColor background(30, 30, 32);
    int failures = 0;
    auto all = corvane::views();
    for (auto& bar : corvane::barScreenshots()) all.push_back({bar.name, bar.width, std::move(bar.make)});
    for (const auto& view : all) {
        auto widget = view.make();
        const QString path = out + "/" + view.name + ".png";
        if (!corvane::renderToImage(*widget, view.width, background, 2).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return failures == 0 ? 0 : 1;
}
