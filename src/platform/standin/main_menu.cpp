// The menu bar's "Track" menu. As in any Mac application its menu and items exist in the Accessibility
// tree whether or not the menu is open, so an item can be pressed directly. Logic hangs it under the
// application's AXMenuBar; whether the main window mirrors it is the mainMenuExposure knob.

#include <algorithm>

#include "platform/standin/engine.h"
#include "platform/standin/layout.h"

namespace corvane::standin::detail {

using platform::AXError;

namespace {
const char* const kItems[] = {"Rename Track", "Show Output Track"};
constexpr double kTrackMenuX = 220;
}  // namespace

void buildMainMenu(Engine& e, int menuBar, const std::string& sig) {
    Tree& t = e.tree;
    const platform::Rect barFrame = t[menuBar].frame;
    int item = t.add(menuBar, "track", "AXMenuBarItem", sig);
    t[item].title = "Track";
    t[item].frame = {kTrackMenuX, barFrame.y, 50, barFrame.height};
    t[item].actions = {"AXPress"};
    int menu = t.add(item, "menu", "AXMenu", sig);
    t[menu].frame = {kTrackMenuX, barFrame.maxY(), layout::kMenuWidth, layout::kMenuItemHeight * std::size(kItems)};
    double y = barFrame.maxY();
    for (const char* title : kItems) {
        int i = t.add(menu, title, "AXMenuItem", sig);
        Node& n = t[i];
        n.title = title;
        n.frame = {kTrackMenuX, y, layout::kMenuWidth, layout::kMenuItemHeight};
        n.actions = {"AXPress"};
        n.bind.kind = Bind::mainMenuItem;
        n.bind.name = title;
        y += layout::kMenuItemHeight;
    }
}

AXError Engine::pressMainMenuItem(int nodeIndex) {
    const std::string title = tree[nodeIndex].bind.name;
    closeMenus();
    if (title == "Rename Track")
        startRenaming();
    else if (title == "Show Output Track")
        toggleOutputTrack();
    return AXError::success;
}

void Engine::showInTrackList(int trackId) {
    Track* t = project.trackById(trackId);
    if (!t || t->inArrange) return;
    t->inArrange = true;
    t->number = project.maxTrackNumber() + 1;
    auto it = std::find_if(project.tracks.begin(), project.tracks.end(),
                           [trackId](const Track& x) { return x.id == trackId; });
    std::rotate(it, it + 1, project.tracks.end());
    changed();
}

void Engine::toggleOutputTrack() {
    auto it = std::find_if(project.tracks.begin(), project.tracks.end(),
                           [](const Track& t) { return t.kind == TrackKind::output; });
    if (it == project.tracks.end()) return;
    if (!it->inArrange) {
        showInTrackList(it->id);
        return;
    }
    // Hidden again, it keeps its number; the selection moves off it.
    it->inArrange = false;
    const int id = it->id;
    std::erase(project.alsoSelectedTrackIds, id);
    changed();
    if (project.selectedTrackId == id) {
        const std::vector<int> visible = project.visibleTrackIds();
        if (!visible.empty()) selectTrack(visible.front());
    }
}

}  // namespace corvane::standin::detail
