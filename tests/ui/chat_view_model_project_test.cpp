// Project detection from Logic Pro's window titles, the project data, the live analysis and the
// plug-in notice, and the song brief.

#include "ui/chat_view_model.h"

#include <thread>

#include "test_support/full_disk.h"
#include "ui/view_model_fixture.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatViewModelProjectTest : public ViewModelTest {
protected:
    // Logic Pro's focused window from now on.
    void focus(const std::string& title) {
        world_->setKnob("extraWindows", json::array({{{"title", title}, {"front", true}}}));
    }
    ProjectDataStore& projects() { return controller_->projectDataStore(); }
    void detectAfter(double seconds) {
        advance(seconds);
        model().detectLogicProject();
    }
};

TEST_F(ChatViewModelProjectTest, ProjectNameComesFromTheFocusedWindowTitle) {
    struct Case {
        std::string title;
        std::string detected;  // after this title; unchanged for titles that name no project
    };
    const std::vector<Case> cases{
        {"My Song - Tracks", "My Song"},
        {"Other.logicx - Mixer", "Other"},
        {"Live - Take 2 - Tracks", "Live - Take 2"},
        {"Logic Pro - Tracks", "Live - Take 2"},
        {"Untitled", "Live - Take 2"},
        {" - Tracks", "Live - Take 2"},
        {"Spaced.logicx  - Tracks", "Spaced"},
    };
    EXPECT_EQ(model().detectedProjectName(), "Demo Song");
    for (const auto& c : cases) {
        focus(c.title);
        detectAfter(3.5);
        EXPECT_EQ(model().detectedProjectName(), c.detected) << c.title;
        EXPECT_EQ(model().navigation(), NavigationState::projectPage(c.detected)) << c.title;
    }
    // Logic Pro gone: the last project stays.
    world_->quitLogic();
    detectAfter(3.5);
    EXPECT_EQ(model().detectedProjectName(), "Spaced");
}

TEST_F(ChatViewModelProjectTest, DetectionRunsAtMostOnceInThreeSeconds) {
    EXPECT_EQ(model().detectedProjectName(), "Demo Song");  // at creation
    focus("Second - Tracks");
    detectAfter(1.0);
    EXPECT_EQ(model().detectedProjectName(), "Demo Song");
    detectAfter(2.0);  // exactly 3.0 s after the detection that ran
    EXPECT_EQ(model().detectedProjectName(), "Demo Song");
    detectAfter(0.5);
    EXPECT_EQ(model().detectedProjectName(), "Second");

    // An open chat stays open on a project change.
    model().sendMessage("hi");
    finish("");
    focus("Third - Tracks");
    detectAfter(3.5);
    EXPECT_EQ(model().detectedProjectName(), "Third");
    EXPECT_TRUE(model().navigation().isChat());
}

TEST_F(ChatViewModelProjectTest, AnalysisPostsAndActivationsDetectAndRereadTrust) {
    model();
    focus("Posted - Tracks");
    advance(3.5);
    http::HTTPRequest post;
    post.method = "POST";
    post.path = "/analysis";
    post.body = R"({"instanceID":"i2","trackName":"Bass"})";
    controller_->handle(post);
    queue_.drain();
    EXPECT_EQ(model().detectedProjectName(), "Posted");
    EXPECT_EQ(model().trackAnalysisMap().count("i2"), 1u);
    EXPECT_TRUE(model().pluginDetected());

    focus("Activated - Tracks");
    advance(3.5);
    world_->setFrontmost(world_->logicPid());
    queue_.drain();
    EXPECT_EQ(model().detectedProjectName(), "Activated");

    // Trust is read again when this application becomes active; untrusted, no title is read.
    world_->setKnob("accessibilityTrusted", false);
    focus("Unseen - Tracks");
    advance(3.5);
    EXPECT_TRUE(model().accessibilityTrusted());
    world_->setFrontmost(world_->selfPid());
    queue_.drain();
    EXPECT_FALSE(model().accessibilityTrusted());
    EXPECT_EQ(model().detectedProjectName(), "Activated");
}

TEST_F(ChatViewModelProjectTest, PluginNoticeShowsAfterAMinuteWithoutAnalysisUnlessDismissed) {
    model();
    advance(59.9);
    EXPECT_FALSE(model().showPluginMissingBanner());
    advance(0.2);
    EXPECT_TRUE(model().showPluginMissingBanner());

    model().updateTrackAnalysis({{"a", liveState("a", "Kick")}, {"b", liveState("b", "Bass")}});
    EXPECT_TRUE(model().pluginDetected());
    EXPECT_FALSE(model().showPluginMissingBanner());
    model().updateTrackAnalysis({{"b", liveState("b", "Bass")}});
    EXPECT_EQ(model().trackAnalysisMap().count("a"), 0u);
    model().updateTrackAnalysis({});
    EXPECT_TRUE(model().trackAnalysisMap().empty());
    EXPECT_TRUE(model().pluginDetected());

    // Closed before the check: never shown.
    model_.reset();
    model().dismissPluginMissingBanner();
    advance(61);
    EXPECT_FALSE(model().showPluginMissingBanner());
}

// The plug-ins post twice a second from the start (song stopped); each post reaches the window
// as work queued for the UI thread. A UI thread that gets to that work only after the minute's
// check fell due (here: the whole minute passes before the queue runs) must not call the plug-in
// missing: what the controller has received counts.
TEST_F(ChatViewModelProjectTest, PostsNotYetHandedToTheWindowKeepThePluginNoticeAway) {
    ASSERT_TRUE(controller_->start());
    world_->updateFaults([&](standin::Faults& faults) { faults.analysisPort = controller_->boundPort(); });
    bool shown = false;
    model().addObserver([&](ChatViewModel::Field field) {
        shown = shown || (field == ChatViewModel::Field::showPluginMissingBanner && model().showPluginMissingBanner());
    });
    advance(70);
    EXPECT_FALSE(world_->events(standin::EventKind::analysisPost).empty());
    EXPECT_FALSE(shown);
    EXPECT_FALSE(model().showPluginMissingBanner());
    EXPECT_TRUE(model().pluginDetected());
    EXPECT_EQ(model().trackAnalysisMap().size(), controller_->trackAnalysis().size());
    controller_->shutdown();
}

TEST_F(ChatViewModelProjectTest, DescriptionsAreStoredByTrackNameAndLoadedByInstance) {
    model().updateTrackAnalysis({{"a1", liveState("a1", "Vox")},
                                 {"a2", liveState("a2", "Vox")},
                                 {"k", liveState("k", "Kick")},
                                 {"m", liveState("m", "Stereo Out")}});
    model().setTrackDescription("a2", "lead, upfront");
    model().setTrackDescription("a1", "double");
    model().setTrackDescription("k", "punchy");
    EXPECT_EQ(controller_->trackDescriptionsStore().at("k"), "punchy");
    auto record = projects().load("Demo Song");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->trackDescriptions,
              (std::map<std::string, std::string>{{"Kick", "punchy"}, {"Vox", "lead, upfront"}}));

    // Loaded into an empty map: every live instance on a named track gets its description.
    model_.reset();
    model().updateTrackAnalysis({{"x", liveState("x", "Vox")}, {"y", liveState("y", "Vox")}});
    model().loadProjectData();
    EXPECT_EQ(model().trackDescriptions(),
              (std::map<std::string, std::string>{{"x", "lead, upfront"}, {"y", "lead, upfront"}}));
    EXPECT_EQ(controller_->trackDescriptionsStore(), model().trackDescriptions());
}

TEST_F(ChatViewModelProjectTest, LoadingAndSavingNeverLoseOrMisfileProjectData) {
    const StoredProjectData stored{{{"Verse", 1, 8, 2}}, {{"Kick", "punchy"}, {"Bass", "round"}}, 1, 64};
    projects().save("Demo Song", stored);

    // Loading saves nothing part-way, and with no live track the descriptions stay stored.
    model();
    ASSERT_EQ(model().songSections().size(), 1u);
    EXPECT_EQ(model().songEndBar(), 64);
    EXPECT_EQ(projects().load("Demo Song"), stored);
    model().setSongEndBar(72);
    auto record = projects().load("Demo Song");
    EXPECT_EQ(record->trackDescriptions, stored.trackDescriptions);
    EXPECT_EQ(record->songEndBar, 72);
    EXPECT_EQ(controller_->songSectionsStore(), model().songSections());

    // A live track's emptied description goes; the others stay.
    model().updateTrackAnalysis({{"b", liveState("b", "Bass")}});
    model().setTrackDescription("b", "");
    EXPECT_EQ(projects().load("Demo Song")->trackDescriptions,
              (std::map<std::string, std::string>{{"Kick", "punchy"}}));

    // Another project: the previous one's data is never filed under its name.
    focus("Next - Tracks");
    detectAfter(3.5);
    EXPECT_TRUE(model().songSections().empty());
    model().setSongStartBar(5);
    record = projects().load("Next");
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->sections.empty());
    EXPECT_TRUE(record->trackDescriptions.empty());
    EXPECT_EQ(record->songStartBar, 5);
    EXPECT_EQ(projects().load("Demo Song")->sections, stored.sections);
}

// Two windows on one folder: a change goes into the record as stored, so what the other copy
// stored meanwhile stays; a change the store refused is told.
TEST_F(ChatViewModelProjectTest, ProjectDataChangeKeepsWhatAnotherCopyStoredMeanwhile) {
    projects().save("Demo Song", StoredProjectData{{{"Verse", 1, 8, 2}}, {}, 1, 64});
    ASSERT_EQ(model().songEndBar(), 64);
    const StoredProjectData otherCopys{{{"Verse", 1, 8, 2}, {"Chorus", 9, 16, 3}}, {}, 1, 96};
    ASSERT_TRUE(ProjectDataStore().save("Demo Song", otherCopys));

    model().updateTrackAnalysis({{"k", liveState("k", "Kick")}});
    model().setTrackDescription("k", "punchy");
    auto record = projects().load("Demo Song");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->sections, otherCopys.sections);
    EXPECT_EQ(record->songEndBar, 96);
    EXPECT_EQ(record->trackDescriptions, (std::map<std::string, std::string>{{"Kick", "punchy"}}));
    EXPECT_EQ(model().storeFailure(), "");

    // No lock can be had on the record's file: the write is refused, and the window says so.
    const auto lock = projects().fileURL().parent_path() / ".project-data.json.lock";
    std::filesystem::remove(lock);
    std::filesystem::create_symlink("/nowhere", lock);
    model().setSongStartBar(5);
    EXPECT_EQ(projects().load("Demo Song")->songStartBar, 1);
    EXPECT_TRUE(model().storeFailure().starts_with("The project data was not saved: ")) << model().storeFailure();
}

TEST_F(ChatViewModelProjectTest, SongBriefSavesOrClears) {
    model().sendMessage("hi");
    finish("");
    model().saveSongBrief("  Dark, slow  ");
    EXPECT_EQ(model().songBrief(), "Dark, slow");
    EXPECT_EQ(model().statusMessage(), "Saved.");
    model().saveSongBrief(" \n ");
    EXPECT_EQ(model().songBrief(), "");
    EXPECT_EQ(model().statusMessage(), "Cleared the song brief.");
    EXPECT_FALSE(model().isBusy());

    // One the disk refuses is not called saved, and the brief kept stays.
    model().saveSongBrief("Dark");
    {
        FullDisk full;
        model().saveSongBrief("Bright");
    }
    EXPECT_EQ(controller_->conversationStore().songBrief(), "Dark");
    EXPECT_EQ(model().songBrief(), "Dark");
    EXPECT_EQ(model().statusMessage(), "The song brief was not saved: " +
                                           controller_->conversationStore().fileURL().string() +
                                           " could not be written: File too large.");
}

TEST_F(ChatViewModelProjectTest, AgentsSongBriefGoesToItsTurnsThread) {
    const auto other = controller_->conversationStore().createThread(std::string("Demo Song")).currentThreadID;
    model().loadConversations();
    model().sendMessage("Set a brief");
    const auto turnThread = model().currentThreadID();
    model().switchConversation(other);

    controller_->updateSongBrief("Warm ballad", turnThread);  // what the agent's tool calls
    queue_.drain();
    auto& store = controller_->conversationStore();
    EXPECT_EQ(store.songBrief(turnThread), "Warm ballad");
    EXPECT_EQ(store.songBrief(other), std::nullopt);
    EXPECT_EQ(model().currentThreadID(), other);
    EXPECT_EQ(model().songBrief(), "");
    EXPECT_TRUE(model().isBusy());
}

// The agent's description of a track, reported by track name from its turn's thread, reaches
// the window's instance and the project file.
TEST_F(ChatViewModelProjectTest, AgentsTrackDescriptionReachesTheWindowAndTheProject) {
    model().updateTrackAnalysis({{"v1", liveState("v1", "Vox")}, {"k", liveState("k", "Kick")}});
    std::jthread([&] {
        controller_->notifyTrackDescriptionUpdate("Vox", "breathy lead");
        controller_->notifyTrackDescriptionUpdate("Piano", "not playing");
    }).join();
    EXPECT_TRUE(model().trackDescriptions().empty()) << "it comes through the UI thread";
    queue_.drain();
    EXPECT_EQ(model().trackDescriptions(), (std::map<std::string, std::string>{{"v1", "breathy lead"}}));
    const auto record = projects().load("Demo Song");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->trackDescriptions, (std::map<std::string, std::string>{{"Vox", "breathy lead"}}));
}

}  // namespace
}  // namespace corvane::testing
