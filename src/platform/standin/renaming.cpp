// Renaming a track: "Rename Track" puts the selected header's name field into editing with the whole
// name selected. Typed text replaces the selection and then appends, Delete erases, Return commits and
// Escape cancels. While editing, the field takes every key that no open menu takes.

#include "platform/standin/engine.h"

namespace corvane::standin::detail {

using platform::AXError;

namespace {

// The characters of the few keys with a meaning of their own that type into a text field instead.
const char* keyCharacter(std::uint16_t code) {
    switch (code) {
        case 1: return "s";
        case 8: return "c";
        case 34: return "i";
        case 46: return "m";
        case 49: return " ";
        default: return nullptr;
    }
}

// Drops the last UTF-8 code point.
void eraseLast(std::string& s) {
    if (s.empty()) return;
    std::size_t i = s.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
    s.erase(i);
}

}  // namespace

void Engine::startRenaming() {
    const Track* t = project.selectedTrack();
    if (!t || !project.isVisible(t->id)) return;
    renaming = Renaming{t->id, t->name, true};
    changed();
}

void Engine::finishRenaming(bool commit) {
    if (!renaming) return;
    const Renaming r = *renaming;
    renaming.reset();
    changed();
    if (!commit) return;
    Track* t = project.trackById(r.trackId);
    // An empty field leaves the name as it was.
    if (!t || r.text.find_first_not_of(" \t") == std::string::npos || t->name == r.text) return;
    t->name = r.text;
    syncPluginWindows();  // plug-in window titles carry the track name
}

const char* Engine::renameKey(const platform::KeyEvent& ev) {
    Renaming& r = *renaming;
    const std::uint64_t mods = ev.flags & (platform::modifier::kShift | platform::modifier::kControl |
                                           platform::modifier::kOption | platform::modifier::kCommand);
    auto type = [&](const std::string& text) {
        if (faults.renameIgnoresInput) return "dropped";
        if (r.allSelected) r.text.clear();
        r.allSelected = false;
        r.text += text;
        changed();
        return "typed";
    };
    if (ev.virtualKey == 0 && !ev.unicodeText.empty()) return type(utf8(ev.unicodeText));
    if (mods != 0 && mods != platform::modifier::kShift) return "ignored";
    switch (ev.virtualKey) {
        case 36: finishRenaming(true); return "rename committed";
        case 53: finishRenaming(false); return "rename cancelled";
        case 51:
            if (faults.renameIgnoresInput) return "dropped";
            if (r.allSelected)
                r.text.clear();
            else
                eraseLast(r.text);
            r.allSelected = false;
            changed();
            return "erased";
        default:
            if (const char* c = keyCharacter(ev.virtualKey)) {
                std::string s = c;
                if (mods == platform::modifier::kShift && s != " ") s[0] = static_cast<char>(s[0] - 'a' + 'A');
                return type(s);
            }
            return "ignored";
    }
}

AXError Engine::writeRenameText(int nodeIndex, const std::string& text) {
    if (!renaming || renaming->trackId != tree[nodeIndex].bind.track) return AXError::attributeUnsupported;
    if (faults.renameIgnoresInput) return AXError::success;
    renaming->text = text;
    renaming->allSelected = false;
    changed();
    return AXError::success;
}

}  // namespace corvane::standin::detail
