#include "ui/chat_view_model.h"

namespace corvane {

std::shared_ptr<ChatViewModel> ChatViewModel::create(std::shared_ptr<app::CompanionController> controller,
                                                     Environment environment) {
    std::shared_ptr<ChatViewModel> model(new ChatViewModel(std::move(controller), std::move(environment)));
    model->start();
    return model;
}

ChatViewModel::ChatViewModel(std::shared_ptr<app::CompanionController> controller, Environment environment)
    : controller_(std::move(controller)), environment_(std::move(environment)) {}

ChatViewModel::~ChatViewModel() = default;

void ChatViewModel::start() {}

ChatViewModel::ObserverToken ChatViewModel::addObserver(Observer observer) {
    const auto token = nextObserverToken_++;
    observers_.emplace(token, std::move(observer));
    return token;
}
void ChatViewModel::removeObserver(ObserverToken token) { observers_.erase(token); }

void ChatViewModel::setNavigation(NavigationState navigation) { navigation_ = std::move(navigation); }
void ChatViewModel::setSelectedModelTier(ModelTier tier) { selectedModelTier_ = tier; }
void ChatViewModel::setReportingEntry(std::optional<ConversationEntry> entry) { reportingEntry_ = std::move(entry); }
void ChatViewModel::setSongSections(std::vector<SongSection> sections) { songSections_ = std::move(sections); }
void ChatViewModel::setSongStartBar(std::optional<int> bar) { songStartBar_ = bar; }
void ChatViewModel::setSongEndBar(std::optional<int> bar) { songEndBar_ = bar; }
void ChatViewModel::setTrackDescriptions(std::map<std::string, std::string> descriptions) {
    trackDescriptions_ = std::move(descriptions);
}
void ChatViewModel::setTrackDescription(const std::string& instanceID, const std::string& text) {
    trackDescriptions_[instanceID] = text;
}
std::optional<std::string> ChatViewModel::currentProjectName() const { return std::nullopt; }
std::vector<std::string> ChatViewModel::projectNames() const { return {}; }
std::vector<ConversationSummary> ChatViewModel::threadsForProject(const std::optional<std::string>&) const {
    return {};
}
std::vector<TrackAnalysisState> ChatViewModel::activeTrackStates() const { return {}; }
void ChatViewModel::loadConversations() {}
void ChatViewModel::switchConversation(const std::string&) {}
void ChatViewModel::clearConversation() {}
void ChatViewModel::requestDeleteThread(const std::string&) {}
void ChatViewModel::deleteThread(const std::string&) {}
void ChatViewModel::setAlertPresenter(AlertPresenter presenter) { alertPresenter_ = std::move(presenter); }
void ChatViewModel::detectLogicProject() {}
void ChatViewModel::loadProjectData() {}
void ChatViewModel::updateTrackAnalysis(const std::map<std::string, TrackAnalysisState>&) {}
void ChatViewModel::saveSongBrief(const std::string&) {}
void ChatViewModel::refreshAccessibilityTrust() {}
void ChatViewModel::dismissPluginMissingBanner() {}
void ChatViewModel::sendMessage(const std::string&) {}
void ChatViewModel::rebuildTranscriptFromEntries() {}
void ChatViewModel::toggleToolCallExpanded(const std::string& callID, bool currentlyExpanded) {
    userExpandOverrides_[callID] = !currentlyExpanded;
}
bool ChatViewModel::isToolCallExpanded(const std::string&) const { return false; }
void ChatViewModel::submitReport(const std::string&) {}
void ChatViewModel::acceptDroppedImage(const std::string&, const std::string&) {}

}  // namespace corvane
