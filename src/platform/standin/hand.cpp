// The user's own clicks on the track list, addressed by track id: a test that builds projects whose
// names repeat cannot name the header it means.

#include "platform/standin/engine.h"
#include "platform/standin/world.h"

namespace corvane::standin {

void World::clickHeader(int trackId) {
    engine_->run([&] {
        if (engine_->project.isVisible(trackId)) engine_->selectTrack(trackId);
    });
}

void World::shiftClickHeader(int trackId) {
    engine_->run([&] { engine_->addToSelection(trackId); });
}

void World::clickFolderTriangle(int folderId) {
    engine_->run([&] {
        const Track* f = engine_->project.trackById(folderId);
        if (f && engine_->project.isVisible(folderId)) engine_->setExpanded(folderId, !f->expanded);
    });
}

void World::renameByHand(int trackId, const std::string& name) {
    engine_->run([&] {
        Track* t = engine_->project.trackById(trackId);
        if (!t || name.empty() || t->name == name) return;
        t->name = name;
        engine_->syncPluginWindows();  // plug-in window titles carry the track name
        engine_->changed();
    });
}

void World::openPluginWindowByHand(int trackId, int slot) {
    engine_->run([&] {
        const Track* t = engine_->project.trackById(trackId);
        if (!t || slot < 0 || slot >= static_cast<int>(t->strip.inserts.size())) return;
        engine_->requestPluginWindow(trackId, t->strip.inserts[static_cast<std::size_t>(slot)].uid);
    });
}

}  // namespace corvane::standin
