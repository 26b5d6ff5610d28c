#include "networking/update_check.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string_view>

namespace corvane::networking {

namespace {

// The text of the attribute `name` inside the opening tag `tag` (between '<' and '>'), if any.
std::optional<std::string> attribute(std::string_view tag, std::string_view name) {
    std::size_t at = 0;
    while ((at = tag.find(name, at)) != std::string_view::npos) {
        const bool startsName =
            at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n' || tag[at - 1] == '\r');
        std::size_t cursor = at + name.size();
        while (cursor < tag.size() && tag[cursor] == ' ') ++cursor;
        if (startsName && cursor < tag.size() && tag[cursor] == '=') {
            ++cursor;
            while (cursor < tag.size() && tag[cursor] == ' ') ++cursor;
            if (cursor < tag.size() && (tag[cursor] == '"' || tag[cursor] == '\'')) {
                const char quote = tag[cursor];
                const std::size_t end = tag.find(quote, cursor + 1);
                if (end == std::string_view::npos) return std::nullopt;
                return std::string(tag.substr(cursor + 1, end - cursor - 1));
            }
        }
        at += name.size();
    }
    return std::nullopt;
}

// The text of the first element `name` inside `body`, trimmed.
std::optional<std::string> element(std::string_view body, std::string_view name) {
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const auto start = body.find(open);
    if (start == std::string_view::npos) return std::nullopt;
    const auto end = body.find(close, start + open.size());
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view text = body.substr(start + open.size(), end - start - open.size());
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return std::nullopt;
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

// The item's version fields, as elements or as attributes of its enclosure.
std::optional<AppcastItem> readItem(std::string_view body) {
    AppcastItem item;
    std::optional<std::string> version = element(body, "sparkle:version");
    std::optional<std::string> shortVersion = element(body, "sparkle:shortVersionString");
    if (const auto enclosure = body.find("<enclosure"); enclosure != std::string_view::npos) {
        const auto end = body.find('>', enclosure);
        const std::string_view tag = body.substr(enclosure, end == std::string_view::npos ? end : end - enclosure);
        if (!version) version = attribute(tag, "sparkle:version");
        if (!shortVersion) shortVersion = attribute(tag, "sparkle:shortVersionString");
    }
    if (!version || version->empty()) return std::nullopt;
    item.version = *version;
    if (shortVersion && !shortVersion->empty()) item.shortVersion = shortVersion;
    return item;
}

std::vector<std::string_view> parts(std::string_view version) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start <= version.size()) {
        const auto dot = version.find('.', start);
        const auto end = dot == std::string_view::npos ? version.size() : dot;
        out.push_back(version.substr(start, end - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return out;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int comparePart(std::string_view a, std::string_view b) {
    if (allDigits(a) && allDigits(b)) {
        // Numbers of any length: leading zeros aside, the longer one is larger.
        a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
        b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
        if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    }
    const int order = a.compare(b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

}  // namespace

std::vector<AppcastItem> parseAppcast(const std::string& xml) {
    if (xml.find("<rss") == std::string::npos || xml.find("<channel") == std::string::npos)
        throw std::invalid_argument("the update feed is not an appcast");
    std::vector<AppcastItem> items;
    std::size_t at = 0;
    while ((at = xml.find("<item", at)) != std::string::npos) {
        const std::size_t afterName = at + 5;
        if (afterName < xml.size() && xml[afterName] != '>' && xml[afterName] != ' ') {
            at = afterName;
            continue;
        }
        const std::size_t end = xml.find("</item>", afterName);
        if (end == std::string::npos) break;
        if (auto item = readItem(std::string_view(xml).substr(afterName, end - afterName))) items.push_back(*item);
        at = end + 7;
    }
    return items;
}

int compareVersions(const std::string& a, const std::string& b) {
    const auto left = parts(a);
    const auto right = parts(b);
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const std::string_view l = i < left.size() ? left[i] : "0";
        const std::string_view r = i < right.size() ? right[i] : "0";
        if (const int order = comparePart(l, r); order != 0) return order;
    }
    return 0;
}

UpdateChecker::UpdateChecker(UpdateCheckConfiguration configuration, std::shared_ptr<http::HTTPTransport> transport)
    : configuration_(std::move(configuration)), transport_(std::move(transport)) {}

UpdateCheckResult UpdateChecker::check(std::stop_token stop) const {
    UpdateCheckResult result;
    if (!http::isPermittedURL(configuration_.feedURL) || configuration_.feedURL.rfind("https://", 0) != 0) {
        result.detail = "the update feed's address is not an HTTPS address";
        return result;
    }
    http::HTTPClientRequest request;
    request.method = "GET";
    request.url = configuration_.feedURL;
    request.timeout = std::chrono::seconds(15);
    http::HTTPClientResponse response;
    try {
        response = transport_->send(request, stop);
    } catch (const std::exception& error) {
        result.detail = "the update feed could not be reached (" + std::string(error.what()) + ")";
        return result;
    }
    if (response.statusCode != 200) {
        result.detail = "the update feed could not be reached (HTTP " + std::to_string(response.statusCode) + ")";
        return result;
    }
    std::vector<AppcastItem> items;
    try {
        items = parseAppcast(response.body);
    } catch (const std::invalid_argument&) {
        result.detail = "the update feed could not be read";
        return result;
    }
    const AppcastItem* newest = nullptr;
    for (const auto& item : items)
        if (!newest || compareVersions(item.version, newest->version) > 0) newest = &item;
    if (newest && compareVersions(newest->version, configuration_.version) > 0) {
        result.kind = UpdateCheckResult::Kind::updateAvailable;
        result.latestVersion = newest->displayVersion();
    } else {
        result.kind = UpdateCheckResult::Kind::upToDate;
    }
    return result;
}

UpdateCheckMessage UpdateChecker::describe(const UpdateCheckResult& result) const {
    const auto& c = configuration_;
    switch (result.kind) {
        case UpdateCheckResult::Kind::upToDate:
            return {"You\u2019re up to date!",
                    c.appName + " " + c.shortVersion + " is currently the newest version available."};
        case UpdateCheckResult::Kind::updateAvailable:
            return {"A new version of " + c.appName + " is available!",
                    c.appName + " " + result.latestVersion + " is now available\u2014you have " + c.shortVersion + "."};
        case UpdateCheckResult::Kind::failed: break;
    }
    return {"Update Error!", c.appName + " could not check for updates: " + result.detail + "."};
}

}  // namespace corvane::networking
