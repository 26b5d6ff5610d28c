#include "app/port_holder.h"

#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

namespace corvane::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kListening = "0A";  // the kernel's TCP state for a listening socket

// The socket inodes of the listeners on the port, as the kernel's tables write them.
std::set<std::string> listeningInodes(std::uint16_t port) {
    const std::string portSuffix = fmt::format(":{:04X}", port);
    std::set<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            // sl local_address rem_address st tx_queue:rx_queue tr:when retrnsmt uid timeout inode
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
                  inode))
                continue;
            if (state == kListening && local.ends_with(portSuffix) && inode != "0") inodes.insert(inode);
        }
    }
    return inodes;
}

// The program's name in full. The kernel's own name for it ("comm") is cut at 15 characters
// ("corvane-headles"): the executable's or the command line's first word is taken instead, when it
// starts as that name does (a program may rewrite its command line into anything).
std::string programName(const fs::path& process) {
    std::string shortName;
    std::getline(std::ifstream(process / "comm"), shortName);
    std::error_code noLink;
    std::string executable = fs::read_symlink(process / "exe", noLink).filename().string();
    if (executable.ends_with(" (deleted)")) executable.resize(executable.size() - 10);
    std::string command;
    std::getline(std::ifstream(process / "cmdline"), command, '\0');
    command = fs::path(command).filename().string();
    for (const std::string& full : {executable, command})
        if (!full.empty() && full.starts_with(shortName)) return full;
    return shortName;
}

}  // namespace

std::optional<std::string> describePortHolder(std::uint16_t port) {
    const auto inodes = listeningInodes(port);
    if (inodes.empty()) return std::nullopt;
    std::error_code ec;
    for (fs::directory_iterator process("/proc", ec), end; !ec && process != end; process.increment(ec)) {
        const std::string pid = process->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code unreadable;
        for (fs::directory_iterator fd(process->path() / "fd", unreadable), fdEnd; !unreadable && fd != fdEnd;
             fd.increment(unreadable)) {
            std::error_code noLink;
            const std::string target = fs::read_symlink(fd->path(), noLink).string();
            if (noLink || !target.starts_with("socket:[") || !target.ends_with("]")) continue;
            if (!inodes.count(target.substr(8, target.size() - 9))) continue;
            const std::string name = programName(process->path());
            return (name.empty() ? std::string("a program") : name) + ", process " + pid;
        }
    }
    return std::nullopt;
}

std::string listenFailure(std::uint16_t port, const std::string& error) {
    const auto holder = describePortHolder(port);
    return error + (holder ? " (" + *holder + ")" : std::string());
}

}  // namespace corvane::app
