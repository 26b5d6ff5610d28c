#pragma once

// What the songs sidebar lists, worked out from the view model's values without Qt: one row per
// project (the one open in Logic Pro first), then the chats of no project.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/conversation_model.h"
#include "ui/chat_view_model.h"

namespace corvane {

struct SidebarState {
    NavigationState navigation;
    std::optional<std::string> detectedProjectName;
    std::vector<ConversationSummary> threads;
    std::vector<std::string> projectNames;  // ChatViewModel::projectNames()

    static SidebarState of(const ChatViewModel& viewModel);
};

struct SidebarRow {
    std::optional<std::string> projectName;  // none: the "No project" row
    std::string title;
    std::size_t count = 0;
    bool detected = false;  // the green dot
    bool current = false;   // the highlight
    friend bool operator==(const SidebarRow&, const SidebarRow&) = default;
};

// The project rows' names in display order.
std::vector<std::string> orderedFolderNames(const SidebarState& state);
bool isCurrent(const SidebarState& state, const std::optional<std::string>& projectName);
std::vector<SidebarRow> sidebarRows(const SidebarState& state);
// "1 chat", "0 chats", "2 chats".
std::string chatCountText(std::size_t count);

}  // namespace corvane
