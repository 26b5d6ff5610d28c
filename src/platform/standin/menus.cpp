// Logic's menus: the insert menu of an insert bar, a slot's menu, a plug-in window's view menu, its
// side-chain menu and a strip's automation mode menu. One menu is open at a time; its whole submenu
// tree exists while it is open, and the stack of levels only matters to the keyboard and to clicks.

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/standin/engine.h"
#include "platform/standin/plugin_parameters.h"

namespace corvane::standin::detail {

using platform::AXError;

std::string menuKindName(OpenMenu::Kind kind) {
    switch (kind) {
        case OpenMenu::Kind::insert: return "insert";
        case OpenMenu::Kind::slot: return "slot";
        case OpenMenu::Kind::view: return "view";
        case OpenMenu::Kind::sidechain: return "sidechain";
        case OpenMenu::Kind::automation: return "automation";
        case OpenMenu::Kind::parameter: return "parameter";
    }
    return "menu";
}

std::string pathText(const std::vector<int>& path) {
    std::string s;
    for (std::size_t i = 0; i < path.size(); ++i) s += (i ? "." : "") + std::to_string(path[i]);
    return s;
}

std::vector<int> parsePath(const std::string& text) {
    std::vector<int> path;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('.', start);
        if (end == std::string::npos) end = text.size();
        int index = 0;
        const auto [stop, error] = std::from_chars(text.data() + start, text.data() + end, index);
        if (error != std::errc{} || stop != text.data() + end) return {};
        path.push_back(index);
        start = end + 1;
    }
    return path;
}

namespace {

MenuItem leaf(std::string title, std::string action) { return MenuItem{std::move(title), {}, std::move(action)}; }

// One item per category path of the catalogue, in catalogue order; each plug-in item opens its formats.
std::vector<MenuItem> insertMenu(const Project& p) {
    std::vector<MenuItem> top;
    for (const PluginDefinition& def : p.plugins) {
        std::vector<MenuItem>* level = &top;
        for (const std::string& category : def.category) {
            auto it = std::find_if(level->begin(), level->end(),
                                   [&](const MenuItem& m) { return m.title == category && m.action == "category"; });
            if (it == level->end()) {
                level->push_back(MenuItem{category, {}, "category"});
                it = level->end() - 1;
            }
            level = &it->children;
        }
        MenuItem item{def.name, {}, ""};
        const std::vector<std::string> formats = def.formats.empty() ? std::vector<std::string>{"Stereo"} : def.formats;
        for (const std::string& f : formats) item.children.push_back(leaf(f, def.name));
        level->push_back(std::move(item));
    }
    return top;
}

std::vector<MenuItem> sidechainMenu(const Project& p) {
    std::vector<MenuItem> items{leaf("None", "None"), leaf("Internal", "Internal")};
    MenuItem audio{"Audio", {}, ""}, inst{"Inst", {}, ""}, bus{"Bus", {}, ""};
    for (const Track& t : p.tracks) {
        if (t.kind == TrackKind::audio) audio.children.push_back(leaf(t.name, t.name));
        if (t.kind == TrackKind::instrument) inst.children.push_back(leaf(t.name, t.name));
    }
    for (const Bus& b : p.buses) {
        const std::string name = "Bus " + std::to_string(b.number);
        const Track* aux = p.trackById(p.auxForBus(b.number));
        // Logic names the aux after the bus only when the user gave it a name of its own.
        const bool custom = aux && !b.auxName.empty();
        bus.children.push_back(leaf(custom ? name + " \u2190 " + aux->name : name, name));
    }
    for (MenuItem* group : {&audio, &inst, &bus})
        if (!group->children.empty()) items.push_back(std::move(*group));
    return items;
}

std::string lowerAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

void Engine::openMenu(OpenMenu::Kind kind, int invokerNode) {
    const Node& invoker = tree[invokerNode];
    OpenMenu m;
    m.kind = kind;
    m.seq = nextMenuSeq++;
    m.invokerKey = invoker.key;
    m.invokerFrame = invoker.frame;
    m.track = invoker.bind.track;
    switch (kind) {
        case OpenMenu::Kind::insert:
            m.gap = invoker.bind.index;
            m.items = insertMenu(project);
            if (invoker.bind.kind == Bind::filledSlotButton) {
                const Track* t = project.trackById(invoker.bind.track);
                if (!t || invoker.bind.index < 0 || invoker.bind.index >= int(t->strip.inserts.size())) return;
                m.replaceUid = t->strip.inserts[static_cast<std::size_t>(invoker.bind.index)].uid;
                m.items.insert(m.items.begin(), leaf("No Plug-in", "remove"));
            }
            break;
        case OpenMenu::Kind::slot: {
            const Track* t = project.trackById(invoker.bind.track);
            if (!t || invoker.bind.index < 0 || invoker.bind.index >= int(t->strip.inserts.size())) return;
            m.slotUid = t->strip.inserts[static_cast<std::size_t>(invoker.bind.index)].uid;
            m.items = {leaf("Open", "open"), leaf("No Plug-in", "remove")};
            break;
        }
        case OpenMenu::Kind::view:
            m.slotUid = invoker.bind.index;
            m.items = {leaf("Editor", "Editor"), leaf("Controls", "Controls")};
            break;
        case OpenMenu::Kind::sidechain:
            m.slotUid = invoker.bind.index;
            m.items = sidechainMenu(project);
            break;
        case OpenMenu::Kind::parameter:
            m.slotUid = invoker.bind.index;
            m.items = parameterMenuItems(*this, invoker);
            break;
        case OpenMenu::Kind::automation:
            for (const char* mode : {"Off", "Read", "Touch", "Latch", "Write"}) m.items.push_back(leaf(mode, mode));
            break;
    }
    m.levels = {{}};
    m.highlight = {-1};
    menu = std::move(m);
    changed();
}

void Engine::closeMenus() {
    if (!menu) return;
    menu.reset();
    changed();
}

const MenuItem* Engine::menuItemAt(const std::vector<int>& path) const {
    if (!menu || path.empty()) return nullptr;
    const std::vector<MenuItem>* level = &menu->items;
    const MenuItem* item = nullptr;
    for (int i : path) {
        if (i < 0 || i >= int(level->size())) return nullptr;
        item = &(*level)[static_cast<std::size_t>(i)];
        level = &item->children;
    }
    return item;
}

bool Engine::menuLevelOpen(const std::string& itemPath) const {
    if (!menu) return false;
    return std::any_of(menu->levels.begin(), menu->levels.end(),
                       [&](const std::vector<int>& l) { return pathText(l) == itemPath; });
}

AXError Engine::pressMenuItem(int nodeIndex) {
    const Binding& b = tree[nodeIndex].bind;
    if (!menu || b.index != static_cast<int>(menu->seq)) return AXError::invalidUIElement;
    const std::vector<int> path = parsePath(b.name);
    const MenuItem* item = menuItemAt(path);
    if (!item) return AXError::invalidUIElement;
    if (item->children.empty()) {
        activateMenuItem(path);
        return AXError::success;
    }
    // Pressing an item with a submenu opens that submenu (and the levels above it).
    menu->levels = {{}};
    menu->highlight = {-1};
    for (std::size_t depth = 1; depth <= path.size(); ++depth) {
        menu->highlight.back() = path[depth - 1];
        menu->levels.emplace_back(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(depth));
        menu->highlight.push_back(-1);
    }
    changed();
    return AXError::success;
}

void Engine::activateMenuItem(const std::vector<int>& path) {
    const MenuItem* item = menuItemAt(path);
    if (!item || !item->children.empty()) return;
    const OpenMenu m = *menu;
    const MenuItem chosen = *item;
    closeMenus();
    switch (m.kind) {
        case OpenMenu::Kind::insert:
            if (m.replaceUid == 0)
                insertPlugin(m.track, m.gap, chosen.action, chosen.title);
            else if (chosen.action == "remove")
                removeSlot(m.replaceUid);
            else
                replacePlugin(m.replaceUid, chosen.action, chosen.title);
            break;
        case OpenMenu::Kind::slot: {
            Track* owner = nullptr;
            if (!slotByUid(m.slotUid, &owner)) return;
            if (chosen.action == "open")
                requestPluginWindow(owner->id, m.slotUid);
            else if (chosen.action == "remove")
                removeSlot(m.slotUid);
            break;
        }
        case OpenMenu::Kind::view:
            if (InsertSlot* s = slotByUid(m.slotUid)) {
                s->windowView = chosen.action;
                changed();
            }
            break;
        case OpenMenu::Kind::sidechain:
            if (InsertSlot* s = slotByUid(m.slotUid)) {
                s->sideChainSource = chosen.action;
                changed();
            }
            break;
        case OpenMenu::Kind::automation: setAutomationMode(m.track, chosen.action); break;
        case OpenMenu::Kind::parameter: chooseParameterOption(*this, m, chosen); break;
    }
}

const char* Engine::menuKey(const platform::KeyEvent& ev) {
    OpenMenu& m = *menu;
    const std::vector<int> levelPath = m.levels.back();
    const MenuItem* owner = levelPath.empty() ? nullptr : menuItemAt(levelPath);
    if (!levelPath.empty() && !owner) {
        closeMenus();
        return "menu closed";
    }
    const std::vector<MenuItem>& items = owner ? owner->children : m.items;
    int& h = m.highlight.back();
    const int count = static_cast<int>(items.size());
    auto highlighted = [&]() -> const MenuItem* {
        return h >= 0 && h < count ? &items[static_cast<std::size_t>(h)] : nullptr;
    };
    auto pushLevel = [&] {
        std::vector<int> path = levelPath;
        path.push_back(h);
        m.levels.push_back(path);
        m.highlight.push_back(-1);
        changed();
    };
    if ((ev.flags & (platform::modifier::kShift | platform::modifier::kControl | platform::modifier::kOption |
                     platform::modifier::kCommand)) != 0)
        return "ignored";
    switch (ev.virtualKey) {
        case 125:  // Down: the first press highlights the first item; no wrapping
            if (count > 0) h = std::min(h + 1, count - 1);
            changed();
            return "menu";
        case 126:  // Up
            if (count > 0) h = h < 0 ? count - 1 : std::max(h - 1, 0);
            changed();
            return "menu";
        case 124:  // Right opens a highlighted submenu
            if (const MenuItem* item = highlighted(); item && !item->children.empty()) pushLevel();
            return "menu";
        case 123:  // Left closes the innermost submenu
            if (m.levels.size() > 1) {
                m.levels.pop_back();
                m.highlight.pop_back();
                changed();
            }
            return "menu";
        case 36: {  // Return: perform the highlight, open it, or close the menu when nothing is highlighted
            const MenuItem* item = highlighted();
            if (!item) {
                closeMenus();
                return "menu closed";
            }
            if (!item->children.empty()) {
                pushLevel();
                return "menu";
            }
            std::vector<int> path = levelPath;
            path.push_back(h);
            activateMenuItem(path);
            return "menu item";
        }
        case 53:  // Escape pops one level
            if (m.levels.size() > 1) {
                m.levels.pop_back();
                m.highlight.pop_back();
                changed();
                return "menu";
            }
            closeMenus();
            return "menu closed";
        case 0: {
            if (ev.unicodeText.empty()) return "consumed";
            // Type-select: characters typed within a second of each other accumulate.
            if (nowNs - m.typedAtNs > 1'000'000'000LL) m.typed.clear();
            m.typed += lowerAscii(utf8(ev.unicodeText));
            m.typedAtNs = nowNs;
            for (int i = 0; i < count; ++i)
                if (lowerAscii(items[static_cast<std::size_t>(i)].title).rfind(m.typed, 0) == 0) {
                    h = i;
                    break;
                }
            changed();
            return "menu";
        }
        default: return "consumed";
    }
}

int Engine::menuItemNodeAt(platform::Point p) {
    if (!menu) return -1;
    ensureTree();
    int best = -1;
    std::size_t bestDepth = 0;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const Node& n = tree[static_cast<int>(i)];
        if (n.bind.kind != Bind::menuItem || n.bind.index != static_cast<int>(menu->seq) || !n.frame.contains(p))
            continue;
        std::vector<int> path = parsePath(n.bind.name);
        if (path.empty()) continue;
        std::vector<int> level(path.begin(), path.end() - 1);
        if (!menuLevelOpen(pathText(level))) continue;
        if (best < 0 || path.size() > bestDepth) {
            best = static_cast<int>(i);
            bestDepth = path.size();
        }
    }
    return best;
}

}  // namespace corvane::standin::detail
