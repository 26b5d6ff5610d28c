#include "platform/standin/world.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/standin/engine.h"
#include "platform/standin/services.h"
#include "platform/standin/taper.h"
#include "platform/thread_main_queue.h"

namespace corvane::standin {

using detail::Engine;

namespace {

class StandinScreenChanges final : public platform::ScreenChanges {
public:
    explicit StandinScreenChanges(std::shared_ptr<Engine> e) : e_(std::move(e)) {}
    Token addObserver(Observer observer) override {
        std::lock_guard lock(e_->observerMutex);
        const Token token = e_->nextObserverToken++;
        e_->screenObservers.emplace(token, std::move(observer));
        return token;
    }
    void removeObserver(Token token) override {
        std::lock_guard lock(e_->observerMutex);
        e_->screenObservers.erase(token);
    }

private:
    std::shared_ptr<Engine> e_;
};

}  // namespace

struct World::Facades {
    explicit Facades(const std::shared_ptr<Engine>& e)
        : accessibility(e), input(e), workspace(e), capture(e), screenChanges(e) {
        if (e->wallClock)
            clock = std::make_unique<detail::WallClock>(e);
        else
            clock = std::make_unique<detail::VirtualClock>(e);
    }
    detail::StandinAccessibility accessibility;
    detail::StandinInput input;
    detail::StandinWorkspace workspace;
    detail::StandinScreenCapture capture;
    std::unique_ptr<platform::Clock> clock;
    StandinScreenChanges screenChanges;
};

WindowSpec WindowSpec::shield(platform::Rect frame) {
    WindowSpec s;
    s.title = "";
    s.frame = frame;
    s.level = Level::overlay;
    s.ignoresMouse = true;
    s.colour = Rgb{0, 0, 0};
    s.alpha = palette::shieldAlpha;
    return s;
}

World::World(const nlohmann::json& scenario, Options options) : engine_(std::make_shared<Engine>()) {
    try {
        detail::loadScenario(*engine_, scenario);
    } catch (const std::invalid_argument&) {
        throw;
    } catch (const std::exception& ex) {
        throw std::invalid_argument(std::string("scenario: ") + ex.what());
    }
    if (options.mainQueue) {
        engine_->mainQueue = options.mainQueue;
    } else {
        ownedQueue_ = std::make_unique<platform::ThreadMainQueue>();
        engine_->mainQueue = ownedQueue_.get();
    }
    if (options.clock == ClockMode::wall) {
        // The scenario's date gives way to the real one; its events count from now.
        engine_->wallClock = true;
        engine_->epoch = std::chrono::system_clock::now();
        engine_->wallStart = std::chrono::steady_clock::now();
    }
    engine_->log.setLimit(options.eventLogLimit);
    facades_ = std::make_unique<Facades>(engine_);
    // The loaded scenario is where viewers start from, not a change.
    engine_->announcedScreenRevision = engine_->screenRevision;
    if (engine_->wallClock)
        timer_ = std::jthread([engine = engine_](std::stop_token stop) { detail::runWallClockTimer(*engine, stop); });
}

std::unique_ptr<World> World::fromFile(const std::filesystem::path& path, Options options) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::invalid_argument("scenario: cannot read " + path.string());
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(text.str());
    } catch (const nlohmann::json::exception& ex) {
        throw std::invalid_argument("scenario: " + path.string() + ": " + ex.what());
    }
    return std::make_unique<World>(j, options);
}

World::~World() {
    timer_ = {};  // stopped first: it delivers to the queue below
    {
        std::lock_guard lock(engine_->mutex);
        engine_->pendingNotes.clear();
    }
    // Deliver what is queued, then stop the queue before the engine can go.
    ownedQueue_.reset();
    std::lock_guard lock(engine_->mutex);
    engine_->mainQueue = nullptr;
}

platform::Services World::services() {
    return {&facades_->accessibility, &facades_->input,      &facades_->workspace,
            &facades_->capture,       facades_->clock.get(), engine_->mainQueue};
}
platform::Accessibility& World::accessibility() { return facades_->accessibility; }
platform::Input& World::input() { return facades_->input; }
platform::Workspace& World::workspace() { return facades_->workspace; }
platform::ScreenCapture& World::screenCapture() { return facades_->capture; }
platform::Clock& World::clock() { return *facades_->clock; }
platform::MainQueue& World::mainQueue() { return *engine_->mainQueue; }
platform::KeyMonitor& World::keyMonitor() { return engine_->keyHub; }
platform::ScreenChanges& World::screenChanges() { return facades_->screenChanges; }

Project World::project() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->project;
}

UiState World::ui() const {
    std::lock_guard lock(engine_->mutex);
    UiState s;
    s.inspectorVisible = engine_->inspectorVisible;
    for (const auto* w : engine_->logicWindows()) {
        s.windows.push_back(w->title);
        if (w->minimised) s.minimisedWindows.push_back(w->title);
    }
    if (const auto* key = engine_->keyLogicWindow()) s.keyWindow = key->title;
    s.mixerAreaShown = engine_->mixerAreaShown;
    s.lastTouchedSend = engine_->lastTouchedSend;
    for (const auto* w : engine_->logicWindows()) {
        if (w->logicKey.rfind("plugin:", 0) != 0) continue;
        for (const auto& p : engine_->pluginWindows) {
            if (w->logicKey != "plugin:" + std::to_string(p.slotUid)) continue;
            const InsertSlot* slot = engine_->slotByUid(p.slotUid);
            s.pluginWindows.push_back({w->title, p.trackId, p.slotUid, slot ? slot->windowView : "", w->frame});
        }
    }
    if (const auto& m = engine_->menu) {
        s.openMenu = detail::menuKindName(m->kind);
        for (std::size_t i = 1; i < m->levels.size(); ++i)
            if (const auto* item = engine_->menuItemAt(m->levels[i])) s.openSubmenus.push_back(item->title);
    }
    if (const auto& r = engine_->renaming) s.renaming = UiState::Renaming{r->trackId, r->text};
    return s;
}

std::vector<Event> World::eventLog() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->log.events();
}

std::vector<Event> World::events(EventKind kind) const {
    std::lock_guard lock(engine_->mutex);
    std::vector<Event> out;
    for (const auto& e : engine_->log)
        if (e.kind == kind) out.push_back(e);
    return out;
}

void World::clearEventLog() {
    std::lock_guard lock(engine_->mutex);
    engine_->log.clear();
}

Faults World::faults() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->faults;
}

void World::updateFaults(const std::function<void(Faults&)>& change) {
    engine_->run([&] {
        change(engine_->faults);
        engine_->axErrorUses.clear();
        engine_->axErrorArmed.clear();
        engine_->syncLogicWindows();
        engine_->changed();
    });
}

void World::setKnob(std::string_view name, const nlohmann::json& value) {
    engine_->run([&] {
        Engine& e = *engine_;
        if (name == "running" || name == "logic.running") {
            if (!value.is_boolean()) throw std::invalid_argument("bad value for knob 'running'");
            if (value.get<bool>())
                e.launchLogic(true);
            else
                e.quitLogic();
            return;
        }
        if (name == "frontmost") {
            if (!value.is_boolean()) throw std::invalid_argument("bad value for knob 'frontmost'");
            if (value.get<bool>())
                e.makeLogicFrontmostIfRunning();
            else if (e.logicFrontmost())
                e.setFrontmost(e.selfPid);
            return;
        }
        if (name == "inspectorVisible") {
            if (!value.is_boolean()) throw std::invalid_argument("bad value for knob 'inspectorVisible'");
            e.inspectorVisible = value.get<bool>();
            e.changed();
            return;
        }
        applyFault(e.faults, name, value);
        e.axErrorUses.clear();
        e.axErrorArmed.clear();
        e.syncLogicWindows();
        e.changed();
    });
}

void World::mutateProject(const std::function<void(Project&)>& change) {
    engine_->run([&] {
        Engine& e = *engine_;
        change(e.project);
        if (!e.project.trackById(e.project.selectedTrackId)) {
            auto visible = e.project.visibleTrackIds();
            e.project.selectedTrackId = visible.empty() ? -1 : visible.front();
        }
        if (!e.project.trackById(e.project.stripTrackId)) e.project.stripTrackId = e.project.selectedTrackId;
        std::erase_if(e.project.alsoSelectedTrackIds, [&](int id) { return !e.project.trackById(id); });
        e.syncLogicWindows();
        e.changed();
    });
}

void World::shiftClickHeader(std::string_view trackName) {
    engine_->run([&] {
        if (const Track* t = engine_->project.track(trackName)) engine_->addToSelection(t->id);
    });
}

void World::launchLogic(bool makeFrontmost) {
    engine_->run([&] { engine_->launchLogic(makeFrontmost); });
}
void World::quitLogic() {
    engine_->run([&] { engine_->quitLogic(); });
}
bool World::logicRunning() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->logicRunning;
}
int World::logicPid() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->logicApp.pid;
}
int World::selfPid() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->selfPid;
}
std::optional<int> World::frontmostPid() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->frontmost;
}
void World::setFrontmost(std::optional<int> pid) {
    engine_->run([&] { engine_->setFrontmost(pid); });
}
platform::Point World::cursor() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->cursor;
}
int World::accessibilityPrompts() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->accessibilityPrompts;
}
int World::screenRecordingPrompts() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->screenRecordingPrompts;
}

double World::virtualSeconds() const {
    std::lock_guard lock(engine_->mutex);
    return engine_->seconds();
}
void World::advance(double seconds) { facades_->clock->sleep(std::chrono::duration<double>(seconds)); }
void World::at(double virtualSeconds, std::function<void()> action) {
    engine_->run([&] { engine_->schedule(virtualSeconds - engine_->seconds(), "test action", std::move(action)); });
}

double World::level(int raw) { return taper::level(raw); }
int World::rawFor(double levelDb) { return taper::rawFor(levelDb); }
std::string World::levelText(int raw) const {
    std::lock_guard lock(engine_->mutex);
    return taper::levelText(raw, engine_->faults.levelFormatPlain);
}

// ---- layout queries ---------------------------------------------------------------------------------

std::optional<platform::Rect> World::frameByKey(const std::string& key) const {
    std::lock_guard lock(engine_->mutex);
    const auto& tree = engine_->ensureTree();
    int i = tree.findKey(key);
    if (i < 0) return std::nullopt;
    return tree[i].frame;
}

std::optional<platform::Rect> World::findInSubtree(const std::string& rootKey, std::string_view description) const {
    std::lock_guard lock(engine_->mutex);
    const auto& tree = engine_->ensureTree();
    int root = tree.findKey(rootKey);
    if (root < 0) return std::nullopt;
    std::vector<int> stack{root};
    while (!stack.empty()) {
        int i = stack.back();
        stack.pop_back();
        const auto& n = tree[i];
        if (n.description && *n.description == description) return n.frame;
        for (auto it = n.children.rbegin(); it != n.children.rend(); ++it) stack.push_back(*it);
    }
    return std::nullopt;
}

namespace {
std::string trackKey(const Engine& e, std::string_view name, const char* prefix) {
    const Track* t = e.project.track(name);
    return t ? prefix + std::to_string(t->id) : std::string("?");
}
const std::string kMain = "app/w:main";
}  // namespace

std::optional<platform::Rect> World::windowFrame(std::string_view logicWindow) const {
    std::lock_guard lock(engine_->mutex);
    const auto* w = engine_->logicWindow(logicWindow);
    return w ? std::optional<platform::Rect>(w->frame) : std::nullopt;
}

std::optional<std::uint32_t> World::windowId(std::string_view logicWindow) const {
    std::lock_guard lock(engine_->mutex);
    const auto* w = engine_->logicWindow(logicWindow);
    return w ? std::optional<std::uint32_t>(w->id) : std::nullopt;
}

std::optional<platform::Rect> World::controlFrame(std::string_view description) const {
    return findInSubtree(kMain, description);
}

std::optional<platform::Rect> World::headerFrame(std::string_view trackName) const {
    std::string key;
    {
        std::lock_guard lock(engine_->mutex);
        key = kMain + "/tracks/headers/" + trackKey(*engine_, trackName, "h:");
    }
    return frameByKey(key);
}

std::optional<platform::Rect> World::headerControlFrame(std::string_view trackName, std::string_view control) const {
    std::string key;
    {
        std::lock_guard lock(engine_->mutex);
        key = kMain + "/tracks/headers/" + trackKey(*engine_, trackName, "h:");
    }
    if (control == "triangle") return frameByKey(key + "/triangle");
    if (control == "track name") return frameByKey(key + "/name");
    return frameByKey(key + "/" + std::string(control));
}

std::optional<platform::Rect> World::rowFrame(std::string_view trackName) const {
    std::string key;
    {
        std::lock_guard lock(engine_->mutex);
        key = kMain + "/tracks/contents/" + trackKey(*engine_, trackName, "r:");
    }
    return frameByKey(key);
}

std::optional<platform::Rect> World::regionFrame(std::string_view trackName, int region) const {
    std::string key;
    {
        std::lock_guard lock(engine_->mutex);
        key = kMain + "/tracks/contents/" + trackKey(*engine_, trackName, "r:") + "/g" + std::to_string(region);
    }
    return frameByKey(key);
}

std::optional<platform::Rect> World::stripFrame(int strip) const {
    return frameByKey(kMain + "/inspector/mixer/strip" + std::to_string(strip));
}

std::optional<platform::Rect> World::stripControlFrame(int strip, std::string_view description) const {
    return findInSubtree(kMain + "/inspector/mixer/strip" + std::to_string(strip), description);
}

std::optional<platform::Rect> World::slotFrame(int strip, int slot) const {
    return frameByKey(kMain + "/inspector/mixer/strip" + std::to_string(strip) + "/inserts/slot" +
                      std::to_string(slot));
}

std::optional<platform::Rect> World::insertBarFrame(int strip, int gap) const {
    return frameByKey(kMain + "/inspector/mixer/strip" + std::to_string(strip) + "/inserts/bar" + std::to_string(gap));
}

// ---- screen model -----------------------------------------------------------------------------------

std::uint32_t World::addWindow(const WindowSpec& window) {
    return engine_->run([&] {
        Engine& e = *engine_;
        detail::ScreenWindow w;
        w.id = e.nextWindowId++;
        w.pid = window.pid ? window.pid : e.selfPid;
        w.title = window.title;
        w.frame = window.frame;
        w.level = static_cast<int>(window.level);
        w.ignoresMouse = window.ignoresMouse;
        w.visible = window.visible;
        w.colour = window.colour;
        w.alpha = window.alpha;
        e.windows.insert(e.windows.begin(), w);
        return w.id;
    });
}

void World::removeWindow(std::uint32_t id) {
    engine_->run([&] {
        auto& ws = engine_->windows;
        ws.erase(std::remove_if(ws.begin(), ws.end(),
                                [id](const detail::ScreenWindow& w) { return w.id == id && w.logicKey.empty(); }),
                 ws.end());
    });
}

void World::setWindowFrame(std::uint32_t id, platform::Rect frame) {
    engine_->run([&] {
        for (auto& w : engine_->windows)
            if (w.id == id && w.logicKey.empty()) w.frame = frame;
    });
}

void World::setWindowVisible(std::uint32_t id, bool visible) {
    engine_->run([&] {
        for (auto& w : engine_->windows)
            if (w.id == id && w.logicKey.empty()) w.visible = visible;
    });
}

void World::drainMainQueue() {
    if (ownedQueue_) ownedQueue_->drain();
}

}  // namespace corvane::standin
