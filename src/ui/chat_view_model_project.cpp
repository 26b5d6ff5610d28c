// Which Logic Pro project is open, its stored sections, bars and track descriptions, the live
// analysis of the plug-in instances, the two setting notices and the song brief.

#include <algorithm>
#include <set>

#include "model/logic_snapshot_models.h"
#include "support/unicode.h"
#include "support/uuid.h"
#include "ui/chat_view_model.h"

namespace corvane {

std::vector<TrackAnalysisState> ChatViewModel::activeTrackStates() const {
    std::vector<TrackAnalysisState> states;
    states.reserve(trackAnalysisMap_.size());
    for (const auto& [id, state] : trackAnalysisMap_) states.push_back(state);
    std::sort(states.begin(), states.end(), [](const TrackAnalysisState& a, const TrackAnalysisState& b) {
        if (a.isMaster != b.isMaster) return a.isMaster;
        if (a.trackName != b.trackName) return a.trackName < b.trackName;
        return a.id < b.id;
    });
    return states;
}

void ChatViewModel::detectLogicProject() {
    const auto now = clock().now();
    if (lastProjectDetection_ &&
        now - *lastProjectDetection_ <= std::chrono::duration<double>(kProjectDetectionInterval))
        return;
    lastProjectDetection_ = now;

    const bool trusted = ports_.logic->accessibilityTrusted();
    const auto title = ports_.logic->logicContext(trusted).focusedWindowTitle;
    if (!title || title->empty()) return;
    const auto name = projectNameFromWindowTitle(*title);
    if (!name || name == detectedProjectName_) return;

    // The fields still hold the previous project's data; a save must never file it under the
    // new name, so they start empty for the new project.
    const bool hadProject = detectedProjectName_.has_value();
    assign(detectedProjectName_, name, Field::detectedProjectName);
    if (hadProject) resetProjectFields();
    loadProjectData();
    if (!navigation_.isChat()) setNavigation(NavigationState::projectPage(name));
}

void ChatViewModel::resetProjectFields() {
    ++loadingProjectData_;
    setSongSections({});
    setTrackDescriptions({});
    setSongStartBar(std::nullopt);
    setSongEndBar(std::nullopt);
    --loadingProjectData_;
}

void ChatViewModel::loadProjectData() {
    if (!detectedProjectName_) return;
    const auto record = ports_.projectData->load(*detectedProjectName_);
    if (!record) return;
    // What is loaded is already stored: no save until the fields are whole again.
    ++loadingProjectData_;
    if (!record->sections.empty() && songSections_.empty()) {
        std::vector<SongSection> sections;
        for (const auto& stored : record->sections)
            sections.push_back(SongSection{makeUUID(), stored.name, stored.startBar, stored.endBar, stored.colorIndex});
        setSongSections(std::move(sections));
    }
    if (trackDescriptions_.empty() && !record->trackDescriptions.empty()) {
        for (const auto& state : activeTrackStates()) {
            const auto found = record->trackDescriptions.find(state.trackName);
            if (found != record->trackDescriptions.end() && !found->second.empty())
                setTrackDescription(state.id, found->second);
        }
    }
    setSongStartBar(record->songStartBar);
    setSongEndBar(record->songEndBar);
    ports_.songNotes->setTrackDescriptionsStore(trackDescriptions_);
    --loadingProjectData_;
}

// Another copy's window may have changed the record since this one loaded it: only what changed
// here goes into the record as stored.
void ChatViewModel::persistProjectData(ProjectDataChange changed) {
    if (!detectedProjectName_ || loadingProjectData_ > 0) return;
    auto& store = *ports_.projectData;

    // Descriptions by track name. Tracks without a live analysis state keep what is stored; a
    // live track whose description was emptied loses it.
    std::map<std::string, std::string> live;
    std::set<std::string> liveNames;
    if (changed == ProjectDataChange::trackDescriptions)
        for (const auto& state : activeTrackStates()) {
            const auto found = trackDescriptions_.find(state.id);
            if (found == trackDescriptions_.end()) continue;
            liveNames.insert(state.trackName);
            if (!found->second.empty()) live[state.trackName] = found->second;
        }
    const bool stored = store.update(*detectedProjectName_, [&](StoredProjectData& data) {
        switch (changed) {
            case ProjectDataChange::trackDescriptions:
                for (const auto& name : liveNames) {
                    if (auto found = live.find(name); found != live.end()) {
                        data.trackDescriptions[name] = found->second;
                    } else {
                        data.trackDescriptions.erase(name);
                    }
                }
                break;
            case ProjectDataChange::sections:
                data.sections.clear();
                for (const auto& section : songSections_)
                    data.sections.push_back(
                        StoredSection{section.name, section.startBar, section.endBar, section.colorIndex});
                break;
            case ProjectDataChange::songStartBar: data.songStartBar = songStartBar_; break;
            case ProjectDataChange::songEndBar: data.songEndBar = songEndBar_; break;
        }
    });
    if (stored)
        storeSaved(kProjectDataScope);
    else
        tellStoreFailure(
            "The project data was not saved: " + store.lastFailure().value_or("it could not be stored") + ".",
            kProjectDataScope);
}

void ChatViewModel::setSongSections(std::vector<SongSection> sections) {
    assign(songSections_, std::move(sections), Field::songSections);
    ports_.songNotes->setSongSectionsStore(songSections_);
    persistProjectData(ProjectDataChange::sections);
}

void ChatViewModel::setTrackDescriptions(std::map<std::string, std::string> descriptions) {
    assign(trackDescriptions_, std::move(descriptions), Field::trackDescriptions);
    ports_.songNotes->setTrackDescriptionsStore(trackDescriptions_);
    persistProjectData(ProjectDataChange::trackDescriptions);
}

void ChatViewModel::setTrackDescription(const std::string& instanceID, const std::string& text) {
    auto descriptions = trackDescriptions_;
    descriptions[instanceID] = text;
    setTrackDescriptions(std::move(descriptions));
}

void ChatViewModel::setSongStartBar(std::optional<int> bar) {
    assign(songStartBar_, bar, Field::songStartBar);
    persistProjectData(ProjectDataChange::songStartBar);
}

void ChatViewModel::setSongEndBar(std::optional<int> bar) {
    assign(songEndBar_, bar, Field::songEndBar);
    persistProjectData(ProjectDataChange::songEndBar);
}

void ChatViewModel::updateTrackAnalysis(const std::map<std::string, TrackAnalysisState>& incoming) {
    assign(trackAnalysisMap_, incoming, Field::trackAnalysisMap);
    if (incoming.empty() || pluginDetected_) return;
    assign(pluginDetected_, true, Field::pluginDetected);
    assign(showPluginMissingBanner_, false, Field::showPluginMissingBanner);
}

void ChatViewModel::saveSongBrief(const std::string& text) {
    letGoOfFailures();
    saveSongBriefForThread(text, std::nullopt);
}

void ChatViewModel::saveSongBrief(const std::string& text, const std::string& threadID) {
    letGoOfFailures();
    saveSongBriefForThread(text, threadID);
}

void ChatViewModel::saveSongBriefForThread(const std::string& text, const std::optional<std::string>& threadID) {
    beginOperation();
    const std::string target = threadID.value_or(currentThreadID_);
    const bool clearing = text::trimmingWhitespaceAndNewlines(text).empty();
    const auto state =
        ports_.conversations->updateSongBrief(clearing ? std::nullopt : std::optional<std::string>(text), target);
    bool saved = false;
    if (target == currentThreadID_) {
        applyState(state);
        saved = !songBrief_.empty();
    } else {
        // Another thread than the open one (the agent's turn runs elsewhere): only the list changes.
        assign(threads_, state.threads, Field::threads);
        saved = state.songBrief && !state.songBrief->empty();
    }
    if (!state.ok) {
        tellStoreFailure("The song brief was not saved: " + state.error.value_or("it could not be stored") + ".",
                         target);
    } else {
        setStatus(saved ? "Saved." : "Cleared the song brief.");
        storeSaved(target);
    }
    endOperation();
}

const std::string& ChatViewModel::reloadSongBrief() {
    if (!currentThreadID_.empty())
        assign(songBrief_, ports_.conversations->songBrief(currentThreadID_).value_or(""), Field::songBrief);
    return songBrief_;
}

SongBriefSaveOutcome ChatViewModel::saveSongBrief(const std::string& text, const std::string& threadID,
                                                  const std::string& openedWith) {
    letGoOfFailures();
    beginOperation();
    const bool clearing = text::trimmingWhitespaceAndNewlines(text).empty();
    bool changedMeanwhile = false;
    const auto state = ports_.conversations->updateSongBriefIfUnchanged(
        openedWith, clearing ? std::nullopt : std::optional<std::string>(text), threadID, changedMeanwhile);
    SongBriefSaveOutcome outcome;
    if (threadID == currentThreadID_ && state.currentThreadID == threadID) {
        applyState(state);
    } else {
        assign(threads_, state.threads, Field::threads);
    }
    if (changedMeanwhile) {
        outcome.storedMeanwhile = state.songBrief.value_or("");
        tellFailure("The song brief was changed elsewhere since you opened it: yours was not saved.");
    } else if (!state.ok) {
        const std::string refusal =
            "The song brief was not saved: " + state.error.value_or("it could not be stored") + ".";
        tellStoreFailure(refusal, threadID);
        if (state.error != ConversationStore::kGoneThreadFailure) outcome.refusal = refusal;
    } else {
        setStatus(clearing ? "Cleared the song brief." : "Saved.");
        storeSaved(threadID);
    }
    endOperation();
    return outcome;
}

void ChatViewModel::refreshAccessibilityTrust() {
    assign(accessibilityTrusted_, ports_.logic->accessibilityTrusted(), Field::accessibilityTrusted);
}

void ChatViewModel::firePluginCheck() {
    // A post hands its analysis to this thread as queued work, which may still wait behind this
    // check: what the controller has received counts as arrived.
    if (!pluginDetected_) {
        if (auto live = ports_.analysis->trackAnalysis(); !live.empty()) updateTrackAnalysis(live);
    }
    if (!pluginDetected_ && !pluginBannerDismissed_)
        assign(showPluginMissingBanner_, true, Field::showPluginMissingBanner);
}

void ChatViewModel::reportLoopbackUnavailable(const std::string& reason) {
    pluginCheckTimer_.reset();
    assign(showPluginMissingBanner_, false, Field::showPluginMissingBanner);
    assign(loopbackProblem_, reason, Field::loopbackProblem);
}

void ChatViewModel::dismissPluginMissingBanner() {
    assign(pluginBannerDismissed_, true, Field::pluginBannerDismissed);
    assign(showPluginMissingBanner_, false, Field::showPluginMissingBanner);
}

}  // namespace corvane
