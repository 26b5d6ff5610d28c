#include "widgets/sidebar_rows.h"

#include <algorithm>

namespace corvane {

SidebarState SidebarState::of(const ChatViewModel& viewModel) {
    return {viewModel.navigation(), viewModel.detectedProjectName(), viewModel.threads(), viewModel.projectNames()};
}

std::vector<std::string> orderedFolderNames(const SidebarState& state) {
    const auto& names = state.projectNames;
    const auto& detected = state.detectedProjectName;
    if (!detected || std::find(names.begin(), names.end(), *detected) == names.end()) return names;
    std::vector<std::string> order{*detected};
    for (const auto& name : names)
        if (name != *detected) order.push_back(name);
    return order;
}

bool isCurrent(const SidebarState& state, const std::optional<std::string>& projectName) {
    if (!state.navigation.isChat()) return state.navigation.projectName == projectName;
    const auto thread = std::find_if(state.threads.begin(), state.threads.end(), [&](const ConversationSummary& s) {
        return s.threadID == state.navigation.threadID;
    });
    // A chat the list does not hold (another copy of the app deleted it) is of no row shown.
    return thread != state.threads.end() && thread->projectName == projectName;
}

std::vector<SidebarRow> sidebarRows(const SidebarState& state) {
    auto countOf = [&](const std::optional<std::string>& name) {
        return std::size_t(std::count_if(state.threads.begin(), state.threads.end(),
                                         [&](const ConversationSummary& s) { return s.projectName == name; }));
    };
    std::vector<SidebarRow> rows;
    for (const auto& name : orderedFolderNames(state))
        rows.push_back({name, name, countOf(name), state.detectedProjectName == name, isCurrent(state, name)});
    if (const auto loose = countOf(std::nullopt); loose > 0)
        rows.push_back({std::nullopt, "No project", loose, false, isCurrent(state, std::nullopt)});
    return rows;
}

std::string chatCountText(std::size_t count) { return std::to_string(count) + (count == 1 ? " chat" : " chats"); }

}  // namespace corvane
