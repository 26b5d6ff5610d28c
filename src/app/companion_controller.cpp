#include "app/companion_controller.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <exception>
#include <mutex>
#include <utility>

#include "app/route_answers.h"
#include "chat/track_descriptions.h"
#include "networking/auth_service.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/app_paths.h"
#include "support/json_writer.h"

namespace corvane::app {

namespace {
constexpr const char* kAppName = "Corvane";

// A long prompt passes through several threads as buffers of megabytes. Left to itself, glibc
// raises its mmap threshold after the first such free and keeps later ones in each thread's
// arena, so the resident size grows with every copy ever made; a fixed threshold hands each
// buffer back to the system when it is freed.
void returnLargeBuffersWhenFreed() {
#ifdef __GLIBC__
    static std::once_flag once;
    std::call_once(once, [] { ::mallopt(M_MMAP_THRESHOLD, 1024 * 1024); });
#endif
}
// What a large body's parse freed (many small nodes) stays in the allocator arena of the worker
// that parsed it, where later requests may never reuse it: the app would keep its largest burst
// for good.
constexpr std::size_t kTrimAfterBodyBytes = 1024 * 1024;

void releaseFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}
}  // namespace

std::shared_ptr<CompanionController> CompanionController::create(Options options) {
    return std::shared_ptr<CompanionController>(new CompanionController(std::move(options)));
}

CompanionController::CompanionController(Options options)
    : options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : platform::clock()),
      backendChatService_(networking::BackendConfiguration::fromEnvironment().chatEndpoint(), "gpt-5",
                          options_.chatTransport ? options_.chatTransport : http::defaultTransport()) {
    returnLargeBuffersWhenFreed();
    // The chats, notes and logs are the user's alone, whatever an earlier version left readable.
    AppPaths::narrowApplicationFolder();
    pluginMapStore_.reload();
}

CompanionController::~CompanionController() {
    // Handlers still running use the members below the server, so it goes first.
    shutdown();
}

void CompanionController::shutdown() {
    closing_.request_stop();
    std::unique_ptr<http::HTTPServer> server;
    {
        std::lock_guard lock(serverMutex_);
        server = std::move(server_);
    }
    server.reset();  // waits for the requests in progress
}

bool CompanionController::start() {
    std::lock_guard lock(serverMutex_);
    try {
        if (!server_) {
            http::raiseOpenFilesLimit();  // the connection bound counts within it
            auto serverOptions = options_.serverOptions;
            if (!serverOptions.answersAtOnce) serverOptions.answersAtOnce = &CompanionController::answersAtOnce;
            if (!serverOptions.workLane) serverOptions.workLane = &CompanionController::workLane;
            // The server goes before the controller's members (see shutdown).
            if (!serverOptions.bodyAllowance)
                serverOptions.bodyAllowance = [this](const HTTPRequest& head) { return bodyAllowance(head); };
            server_ = std::make_unique<http::HTTPServer>(options_.port, makeHandler(weak_from_this()),
                                                         std::move(serverOptions), clock_);
        }
        if (!server_->start()) {
            log("Quillmere failed to start local server: " + server_->listenError().value_or("unknown error"));
            return false;
        }
        const std::uint16_t port = server_->boundPort() ? server_->boundPort() : options_.port;
        log("Quillmere server listening on port " + std::to_string(port));
        return true;
    } catch (const std::exception& error) {
        log(std::string("Quillmere failed to start local server: ") + error.what());
        return false;
    }
}

std::string CompanionController::listenError() const {
    std::lock_guard lock(serverMutex_);
    if (!server_) return "the server was not started";
    return server_->listenError().value_or("");
}

void CompanionController::stop() {
    std::lock_guard lock(serverMutex_);
    if (server_) server_->stop();
}

std::uint16_t CompanionController::boundPort() const {
    std::lock_guard lock(serverMutex_);
    return server_ ? server_->boundPort() : 0;
}

http::HTTPServer::Handler CompanionController::makeHandler(std::weak_ptr<CompanionController> controller) {
    return [controller = std::move(controller)](HTTPRequest request) {
        auto self = controller.lock();
        if (!self) return HTTPResponse{500, "text/plain", "Companion controller unavailable"};
        auto answer = self->handle(request);
        if (request.body.size() >= kTrimAfterBodyBytes) releaseFreedMemory();
        return answer;
    };
}

PluginInspector& CompanionController::pluginInspector() {
    std::call_once(pluginInspectorOnce_,
                   [&] { pluginInspector_ = std::make_unique<PluginInspector>(logicInspector_, pluginMapStore_); });
    return *pluginInspector_;
}

CaptureService& CompanionController::captureService() {
    std::call_once(captureServiceOnce_,
                   [&] { captureService_ = std::make_unique<CaptureService>(logicInspector_, permissionService_); });
    return *captureService_;
}

std::shared_ptr<ToolHost> CompanionController::toolHost() {
    // Shares the controller's ownership, so the tools' weak hold ends with the controller.
    return std::shared_ptr<ToolHost>(shared_from_this(), &toolHostBridge_);
}

ChatOrchestrator& CompanionController::chatOrchestrator() {
    std::call_once(chatOrchestratorOnce_, [&] {
        toolLogger_ = std::make_unique<ToolLogger>();
        ChatOrchestrator::Services services{
            pluginInventoryService_, backendChatService_, conversationStore_, memoryStore_,
            logicInspector_,         pluginInspector(),   *toolLogger_,       toolHost()};
        chatOrchestrator_ = std::make_unique<ChatOrchestrator>(services, orchestratorProviders());
    });
    return *chatOrchestrator_;
}

TestRunner& CompanionController::testRunner() {
    std::call_once(testRunnerOnce_, [&] {
        ChatOrchestrator& orchestrator = chatOrchestrator();
        testRunner_ = std::make_unique<TestRunner>(TestRunner::Services{
            logicInspector_, orchestrator, conversationStore_, captureService(), *toolLogger_, clock_,
            closing_.get_token()});
    });
    return *testRunner_;
}

ChatOrchestrator::Providers CompanionController::orchestratorProviders() {
    const std::weak_ptr<CompanionController> weak = weak_from_this();
    ChatOrchestrator::Providers providers;
    providers.healthSnapshot = [weak] {
        auto self = weak.lock();
        return self ? self->healthSnapshot() : HealthResponse{};
    };
    providers.trackAnalysis = [weak] {
        auto self = weak.lock();
        return self ? self->trackAnalysisValues() : std::vector<TrackAnalysisState>{};
    };
    // Kept by instance ID, looked up by track name: translated here, at the one hand-over.
    providers.trackDescriptions = [weak] {
        auto self = weak.lock();
        return self ? trackDescriptionsByTrackName(self->trackDescriptionsStore(), self->trackAnalysisValues())
                    : std::map<std::string, std::string>{};
    };
    providers.songSections = [weak] {
        auto self = weak.lock();
        return self ? self->songSectionsStore() : std::vector<SongSection>{};
    };
    return providers;
}

std::shared_ptr<AgentEventStream> CompanionController::startTurn(const ChatRequest& request) {
    return chatOrchestrator().handleChatStreaming(request);
}

ChatWindowPorts CompanionController::windowPorts() {
    // Each port shares the controller's ownership, so it stays as long as the window holds one.
    const auto self = shared_from_this();
    return ChatWindowPorts{
        std::shared_ptr<ConversationStore>(self, &conversationStore_),
        std::shared_ptr<ProjectDataStore>(self, &projectDataStore_),
        std::shared_ptr<networking::BackendChatService>(self, &backendChatService_),
        self,
        self,
        self,
        self,
    };
}

bool CompanionController::accessibilityTrusted() const {
    return permissionService_.currentSnapshot().accessibilityTrusted;
}

LogicContextSnapshot CompanionController::logicContext(bool includeAccessibilityData) const {
    return logicInspector_.snapshot(includeAccessibilityData);
}

bool CompanionController::storeTrackDescription(const std::string& instanceID, const std::string& description) {
    if (instanceID.empty()) return false;
    const auto live = trackAnalysis();
    const auto state = live.find(instanceID);
    {
        // Kept here too, so the next turn has it even when no window copies it back.
        std::lock_guard lock(sharedMutex_);
        trackDescriptionsStore_[instanceID] = description;
    }
    if (state != live.end()) notifyTrackDescriptionUpdate(state->second.trackName, description);
    return true;
}

std::optional<std::string> CompanionController::updateSongBrief(const std::string& brief, const std::string& threadID) {
    {
        std::lock_guard lock(sharedMutex_);
        if (!onSongBriefUpdate_) return ToolHost::kNoWindow;
    }
    const auto state = conversationStore_.updateSongBrief(brief, threadID);
    if (!state.ok) return state.error.value_or("it could not be stored");
    notifySongBriefUpdate(brief);  // stored: a window closed meanwhile shows it when next opened
    return std::nullopt;
}

HealthResponse CompanionController::healthSnapshot() const {
    HealthResponse health;
    health.appName = kAppName;
    // The one version of the build, the same text the About panel and error reports show.
    health.appVersion = CORVANE_VERSION;
    // Clients and the plug-in find the API where it actually listens (CORVANE_PORT moves it); before
    // listening, where it is meant to.
    const std::uint16_t bound = boundPort();
    health.serverPort = bound ? bound : options_.port;
    health.permissions = permissionService_.currentSnapshot();
    health.logic = logicInspector_.snapshot(health.permissions.accessibilityTrusted);
    health.lastCapture = lastCapture();
    return health;
}

bool CompanionController::printHealth(std::ostream& out) const {
    std::string text;
    try {
        text = jsonText(nlohmann::json(healthSnapshot()), "");
    } catch (const std::exception&) {
        text.clear();
    }
    if (text.empty()) return false;
    out << text << '\n';
    out.flush();
    return true;
}

CaptureResponse CompanionController::capture(bool saveToDisk, const std::optional<std::string>& threadID,
                                             std::optional<CaptureMode> requestedMode) {
    try {
        const CaptureArtifact artifact = captureService().captureLogic(saveToDisk, requestedMode);
        {
            std::lock_guard lock(sharedMutex_);
            lastCapture_ = artifact.metadata;
        }
        conversationStore_.updateLatestCapture(artifact.metadata, threadID);
        conversationStore_.appendPendingCapture(artifact.metadata, threadID);
        return CaptureResponse{true, "Captured Logic successfully.", artifact.metadata};
    } catch (const std::exception& error) {
        return CaptureResponse{false, error.what(), std::nullopt};
    }
}

std::optional<CaptureMetadata> CompanionController::lastCapture() const {
    std::lock_guard lock(sharedMutex_);
    return lastCapture_;
}

std::map<std::string, TrackAnalysisState> CompanionController::trackAnalysis() const {
    return analysisQueue_.sync([&] { return liveAnalysis_; });
}

namespace {
// What a record holds, roughly: enough to bound the store, not an exact account of the heap.
std::size_t keptBytes(const TrackAnalysisState& state) {
    std::size_t bytes = sizeof(TrackAnalysisState) + state.id.size() + state.trackName.size() +
                        state.barMap.capacity() * sizeof(BarAnalysisEntry);
    if (state.analysis) bytes += state.analysis->source.size();
    return bytes;
}
}  // namespace

void CompanionController::updateTrackAnalysis(const std::string& instanceID, TrackAnalysisState state) {
    if (state.barMap.size() > kMaxBarsPerInstance) {
        state.barMap = std::vector<BarAnalysisEntry>(state.barMap.end() - kMaxBarsPerInstance, state.barMap.end());
    }
    const auto cutoff = clock_.now() - kAnalysisLifetime;
    analysisQueue_.sync([&] {
        liveAnalysis_.insert_or_assign(instanceID, std::move(state));
        std::erase_if(liveAnalysis_, [&](const auto& entry) { return !(entry.second.lastUpdateTime > cutoff); });
        std::size_t total = 0;
        for (const auto& [id, kept] : liveAnalysis_) total += keptBytes(kept);
        while (liveAnalysis_.size() > 1 && (liveAnalysis_.size() > kMaxAnalysisInstances || total > kMaxAnalysisBytes)) {
            auto oldest = liveAnalysis_.end();
            for (auto it = liveAnalysis_.begin(); it != liveAnalysis_.end(); ++it) {
                if (it->first == instanceID) continue;
                if (oldest == liveAnalysis_.end() || it->second.lastUpdateTime < oldest->second.lastUpdateTime)
                    oldest = it;
            }
            total -= keptBytes(oldest->second);
            liveAnalysis_.erase(oldest);
        }
    });
}

std::vector<TrackAnalysisState> CompanionController::trackAnalysisValues() const {
    std::vector<TrackAnalysisState> values;
    for (auto& [id, state] : trackAnalysis()) values.push_back(state);
    return values;
}

void CompanionController::setAnalysisUpdateHandler(AnalysisUpdateHandler handler) {
    std::lock_guard lock(sharedMutex_);
    analysisUpdateHandler_ = std::move(handler);
}

void CompanionController::setOnTrackDescriptionUpdate(TrackDescriptionCallback callback) {
    std::lock_guard lock(sharedMutex_);
    onTrackDescriptionUpdate_ = std::move(callback);
}

void CompanionController::setOnSongBriefUpdate(SongBriefCallback callback) {
    std::lock_guard lock(sharedMutex_);
    onSongBriefUpdate_ = std::move(callback);
}

void CompanionController::notifyTrackDescriptionUpdate(const std::string& trackName, const std::string& text) const {
    TrackDescriptionCallback callback;
    {
        std::lock_guard lock(sharedMutex_);
        callback = onTrackDescriptionUpdate_;
    }
    if (callback) callback(trackName, text);
}

bool CompanionController::notifySongBriefUpdate(const std::string& brief) const {
    SongBriefCallback callback;
    {
        std::lock_guard lock(sharedMutex_);
        callback = onSongBriefUpdate_;
    }
    if (!callback) return false;
    callback(brief);
    return true;
}

std::map<std::string, std::string> CompanionController::trackDescriptionsStore() const {
    std::lock_guard lock(sharedMutex_);
    return trackDescriptionsStore_;
}

void CompanionController::setTrackDescriptionsStore(std::map<std::string, std::string> descriptions) {
    std::lock_guard lock(sharedMutex_);
    trackDescriptionsStore_ = std::move(descriptions);
}

std::vector<SongSection> CompanionController::songSectionsStore() const {
    std::lock_guard lock(sharedMutex_);
    return songSectionsStore_;
}

void CompanionController::setSongSectionsStore(std::vector<SongSection> sections) {
    std::lock_guard lock(sharedMutex_);
    songSectionsStore_ = std::move(sections);
}

}  // namespace corvane::app
