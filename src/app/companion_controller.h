#pragma once

// The one object that owns every service and store of the application: it builds them, serves the
// loopback API through its route table, keeps the live analysis records the analysis plug-in posts,
// mirrors the chat window's track descriptions and song sections for the agent, and offers the
// callbacks through which the agent and the analysis route reach the window; the window reaches
// it only through the narrow ports it implements.
//
// Built through create() so that what it hands out (the server's handler, the agent loop's
// providers and tool host) can hold it weakly.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "capture/capture_service.h"
#include "chat/chat_orchestrator.h"
#include "chat/chat_window_ports.h"
#include "chat/tool_host.h"
#include "chat/tool_logger.h"
#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "conversation/project_data_store.h"
#include "http/http_client.h"
#include "http/http_message.h"
#include "http/http_server.h"
#include "http/work_slots.h"
#include "logic/logic_inspector.h"
#include "model/health_response.h"
#include "model/track_analysis_state.h"
#include "networking/backend_chat_service.h"
#include "platform/clock.h"
#include "platform/serial_queue.h"
#include "plugins/plugin_inspector.h"
#include "plugins/plugin_inventory.h"
#include "plugins/plugin_map_store.h"
#include "testing/test_runner.h"

namespace corvane::app {

struct CompanionControllerOptions {
    std::uint16_t port = 51234;        // 0 picks a free one (tests)
    platform::Clock* clock = nullptr;  // analysis timestamps and server deadlines; null: platform::clock()
    http::HTTPServerOptions serverOptions{};
    // How the chat backend is reached; null: over HTTP (tests script the backend here).
    std::shared_ptr<http::HTTPTransport> chatTransport{};
};

class CompanionController : public std::enable_shared_from_this<CompanionController>,
                            public LogicContextPort,
                            public LiveAnalysisPort,
                            public SongNotesPort,
                            public TurnPort {
public:
    using Options = CompanionControllerOptions;
    using AnalysisUpdateHandler = LiveAnalysisPort::AnalysisUpdateHandler;
    using TrackDescriptionCallback = SongNotesPort::TrackDescriptionCallback;
    using SongBriefCallback = SongNotesPort::SongBriefCallback;

    static constexpr std::uint16_t kServerPort = 51234;
    // Records older than this are dropped by the next update (of any instance).
    static constexpr std::chrono::seconds kAnalysisLifetime{30};
    // Whatever the plug-ins (or anyone on the loopback interface) post, the store keeps at most
    // this many instances, of each the last kMaxBarsPerInstance bars, and about kMaxAnalysisBytes
    // in all; past them the instances updated longest ago go first, never the one just posted.
    static constexpr std::size_t kMaxAnalysisInstances = 128;
    static constexpr std::size_t kMaxBarsPerInstance = 4096;
    static constexpr std::size_t kMaxAnalysisBytes = 32 * 1024 * 1024;

    // What the routes read of a body at most, decided from the head (nothing past it is received).
    static constexpr std::int64_t kMaxAnalysisBodyBytes = 4 * 1024 * 1024;
    static constexpr std::int64_t kMaxSongBriefBodyBytes = 512 * 1024;
    // A prompt (of "/test/prompt", or of an inline test case) may hold up to 4 MiB of text,
    // which JSON escapes may make several times longer.
    static constexpr std::int64_t kMaxPromptBodyBytes = 16 * 1024 * 1024;
    static constexpr std::int64_t kMaxSuiteBodyBytes = 1024 * 1024;
    static constexpr std::int64_t kMaxOtherBodyBytes = 64 * 1024;
    // The test harness's bodies become test cases and results that grow with every value.
    static constexpr std::size_t kMaxTestBodyValues = 10'000;
    // A song brief, in bytes of UTF-8: many pages of text, and a bound on what every later turn
    // sends the model.
    static constexpr std::size_t kMaxSongBriefBytes = 64 * 1024;
    // Analysis posts up to this size (the servers' small-body lane) are parsed on the I/O thread
    // that read them; larger ones on a worker, so that no parse holds the threads that answer others.
    static constexpr std::size_t kInlineAnalysisBytes = http::kSmallBodyBytes;
    // Larger analysis posts and briefs are handled this many at a time: a burst of them would
    // otherwise take every core from the threads that answer others.
    // Past kMaxLargeBodiesWaiting more waiting, one is answered 503 with "Retry-After", so that
    // waiting ones never take every worker.
    static constexpr std::size_t kLargeBodiesAtOnce = 2;
    static constexpr std::size_t kMaxLargeBodiesWaiting = 16;
    // The "/test/" routes wait on the harness, one turn at a time: past kMaxHarnessWaiting more
    // waiting, one is answered 503 with "Retry-After" from its head, so that a flood of them never
    // takes the workers that answer others.
    static constexpr std::size_t kMaxHarnessWaiting = 8;

    static std::shared_ptr<CompanionController> create(Options options = {});
    ~CompanionController();
    CompanionController(const CompanionController&) = delete;
    CompanionController& operator=(const CompanionController&) = delete;

    // Starts the loopback server; a failure is logged, never thrown.
    // False when the port could not be bound; listenError() then says why.
    bool start();
    std::string listenError() const;
    // Stops listening; requests in progress finish.
    void stop();
    // Stops serving and waits for the requests in progress. An owner calls it before what the
    // routes use (the simulated world) goes: a request in progress holds the controller, so
    // dropping the owner's reference alone would end the controller later, on a server thread.
    // A harness turn running is stopped as Stop stops one, and the "/test/" requests waiting for
    // the harness are refused, so that the program ends without driving Logic Pro any further.
    void shutdown();
    // From the start of shutdown() on.
    bool shuttingDown() const { return closing_.stop_requested(); }
    // The port listened on; 0 when not listening.
    std::uint16_t boundPort() const;
    // The port it was asked to listen on (0: any free one).
    std::uint16_t requestedPort() const { return options_.port; }

    // The handler the server calls: holds the controller weakly and answers 500 "Companion
    // controller unavailable" once it is gone.
    static http::HTTPServer::Handler makeHandler(std::weak_ptr<CompanionController> controller);
    // The route table; callable from several request threads at once.
    http::HTTPResponse handle(const http::HTTPRequest& request);
    // The routes that answer at once (never waiting on Logic Pro's controls, a turn or the
    // network), which the server may handle on the thread that read them.
    static bool answersAtOnce(const http::HTTPRequest& request);
    // Where a request that goes to a worker waits: the conversation store's routes and the
    // analysis intake are prompt (large bodies within their own slots), the test routes wait for
    // the harness within its bound, and every other route is slow, within the bounds of its own.
    static http::WorkLane workLane(const http::HTTPRequest& request);
    // The server's bodyAllowance: each route's bound, refused 413 with a JSON error, and the
    // "/test/" routes refused 503 while the harness has as many waiting as it takes.
    http::BodyAllowance bodyAllowance(const http::HTTPRequest& head) const;

    HealthResponse healthSnapshot() const;
    // The health answer as pretty-printed JSON and a line break, for "--print-health"; false (and
    // nothing written) when it cannot be encoded.
    bool printHealth(std::ostream& out) const;
    CaptureResponse capture(bool saveToDisk, const std::optional<std::string>& threadID = std::nullopt,
                            std::optional<CaptureMode> requestedMode = std::nullopt);
    std::optional<CaptureMetadata> lastCapture() const;

    // The live analysis store, kept on the queue "Quillmere.AnalysisState".
    std::map<std::string, TrackAnalysisState> trackAnalysis() const override;
    void updateTrackAnalysis(const std::string& instanceID, TrackAnalysisState state);
    // The values of a copy of the store in its own order: what the agent's tools read.
    std::vector<TrackAnalysisState> trackAnalysisValues() const;

    void setAnalysisUpdateHandler(AnalysisUpdateHandler handler) override;
    void setOnTrackDescriptionUpdate(TrackDescriptionCallback callback) override;
    void setOnSongBriefUpdate(SongBriefCallback callback) override;
    // What the agent's tools call: forwarded to the installed callback, nothing without one.
    void notifyTrackDescriptionUpdate(const std::string& trackName, const std::string& text) const;
    // False when no callback is installed (no window, as when headless): nothing took the brief.
    bool notifySongBriefUpdate(const std::string& brief) const;

    // What the agent's tools call through toolHost(). A description is kept under the analysis
    // instance streaming from the track and the window hears of it by the instance's track name;
    // false when there is no instance ID to keep it under.
    bool storeTrackDescription(const std::string& instanceID, const std::string& description);
    // The brief goes into the chat's record first, so that the agent hears what the store answered;
    // then the window shows it. As ToolHost::updateSongBrief answers.
    std::optional<std::string> updateSongBrief(const std::string& brief, const std::string& threadID);
    // The tools' view of this controller; holding it keeps the controller alive.
    std::shared_ptr<ToolHost> toolHost();

    // The one agent loop: created on first use, exactly once whichever threads ask first; the
    // chat window and the test harness share it.
    ChatOrchestrator& chatOrchestrator();
    // The agent loop's views of this controller, each holding it weakly and empty once it is gone.
    // Descriptions come keyed by lower-cased track name, as the request builder looks them up.
    ChatOrchestrator::Providers orchestratorProviders();
    // A turn of the chat window, on the one agent loop.
    std::shared_ptr<AgentEventStream> startTurn(const ChatRequest& request) override;

    // The chat window's view of this controller; holding any of it keeps the controller alive.
    ChatWindowPorts windowPorts();
    bool accessibilityTrusted() const override;
    LogicContextSnapshot logicContext(bool includeAccessibilityData) const override;

    // The chat window's mirrors, replaced and read as whole values.
    std::map<std::string, std::string> trackDescriptionsStore() const;
    void setTrackDescriptionsStore(std::map<std::string, std::string> descriptions) override;
    std::vector<SongSection> songSectionsStore() const;
    void setSongSectionsStore(std::vector<SongSection> sections) override;

    PermissionService& permissionService() { return permissionService_; }
    LogicInspector& logicInspector() { return logicInspector_; }
    PluginMapStore& pluginMapStore() { return pluginMapStore_; }
    PluginInventoryService& pluginInventoryService() { return pluginInventoryService_; }
    ConversationStore& conversationStore() { return conversationStore_; }
    ProjectDataStore& projectDataStore() { return projectDataStore_; }
    MemoryStore& memoryStore() { return memoryStore_; }
    networking::BackendChatService& backendChatService() { return backendChatService_; }
    // Created on first use, exactly once whichever threads ask first.
    PluginInspector& pluginInspector();
    CaptureService& captureService();
    // The test harness of the "/test/" routes: created on first use, with the agent loop and the
    // capture service it needs, and kept for the controller's life.
    TestRunner& testRunner();

    platform::Clock& clock() const { return clock_; }

private:
    // Kept apart from the controller so that its trackAnalysis() (a list) does not hide the
    // controller's own (the map by instance ID).
    class ToolHostBridge final : public ToolHost {
    public:
        explicit ToolHostBridge(CompanionController& owner) : owner_(owner) {}
        std::vector<TrackAnalysisState> trackAnalysis() override { return owner_.trackAnalysisValues(); }
        bool storeTrackDescription(const std::string& instanceID, const std::string& description) override {
            return owner_.storeTrackDescription(instanceID, description);
        }
        std::optional<std::string> updateSongBrief(const std::string& brief, const std::string& threadID) override {
            return owner_.updateSongBrief(brief, threadID);
        }

    private:
        CompanionController& owner_;
    };

    explicit CompanionController(Options options);

    http::HTTPResponse handleAnalysis(const http::HTTPRequest& request);
    http::HTTPResponse handleConversationClear(const http::HTTPRequest& request);
    http::HTTPResponse handleSongBrief(const http::HTTPRequest& request);

    Options options_;
    platform::Clock& clock_;
    // Before the stores, whose waits for another copy's lock end with it.
    std::stop_source closing_;
    PermissionService permissionService_;
    LogicInspector logicInspector_;
    PluginMapStore pluginMapStore_;
    std::once_flag pluginInspectorOnce_;
    std::unique_ptr<PluginInspector> pluginInspector_;
    std::once_flag captureServiceOnce_;
    std::unique_ptr<CaptureService> captureService_;
    PluginInventoryService pluginInventoryService_;
    ConversationStore conversationStore_{closing_.get_token()};
    ProjectDataStore projectDataStore_{closing_.get_token()};
    MemoryStore memoryStore_{closing_.get_token()};
    networking::BackendChatService backendChatService_;
    ToolHostBridge toolHostBridge_{*this};

    mutable std::mutex serverMutex_;
    std::unique_ptr<http::HTTPServer> server_;

    // Guards the fields below it, shared between request threads, turn threads and the UI thread.
    mutable std::mutex sharedMutex_;
    std::optional<CaptureMetadata> lastCapture_;
    AnalysisUpdateHandler analysisUpdateHandler_;
    TrackDescriptionCallback onTrackDescriptionUpdate_;
    SongBriefCallback onSongBriefUpdate_;
    std::map<std::string, std::string> trackDescriptionsStore_;
    std::vector<SongSection> songSectionsStore_;

    // One key each: the places are not shared out between clients, which the loopback API cannot tell apart.
    http::WorkSlots largeBodySlots_{kLargeBodiesAtOnce, kMaxLargeBodiesWaiting, kLargeBodiesAtOnce,
                                    kMaxLargeBodiesWaiting};
    http::WorkSlots harnessSlots_{1, kMaxHarnessWaiting, 1, kMaxHarnessWaiting};

    // The live analysis map is touched only inside this queue.
    mutable platform::SerialQueue analysisQueue_{"Quillmere.AnalysisState"};
    std::map<std::string, TrackAnalysisState> liveAnalysis_;

    // Last, so that a running turn is stopped before the services it uses go.
    std::once_flag chatOrchestratorOnce_;
    std::unique_ptr<ToolLogger> toolLogger_;
    std::unique_ptr<ChatOrchestrator> chatOrchestrator_;
    std::once_flag testRunnerOnce_;
    std::unique_ptr<TestRunner> testRunner_;
};

}  // namespace corvane::app
