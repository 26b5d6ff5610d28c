#include "transcript/markdown.h"

#include "support/unicode.h"
#include "diagrams/plain_text.h"

namespace corvane {

namespace {
using plain_text::removeAll;
using plain_text::trimSpacesAndTabs;

bool isUpperAscii(char c) { return c >= 'A' && c <= 'Z'; }

// The line without its bracketed upper-case tags such as "[NOTE: ...]". Hand-written rather
// than a regex so that a line of many unclosed openings stays linear.
std::string removeBracketTags(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    size_t close = 0;  // the next "]" at or after the scan, npos once there is none
    bool closeKnown = false;
    for (size_t i = 0; i < line.size();) {
        if (line[i] == '[') {
            size_t j = i + 1;
            while (j < line.size() && isUpperAscii(line[j])) ++j;
            if (j > i + 1 && j < line.size() && line[j] == ':') {
                if (!closeKnown || (close != std::string_view::npos && close <= j)) {
                    close = line.find(']', j + 1);
                    closeKnown = true;
                }
                if (close != std::string_view::npos) {
                    i = close + 1;
                    continue;
                }
            }
        }
        out += line[i++];
    }
    return out;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
}  // namespace

std::string MessageMarkdown::displayText(ConversationRole role, std::string_view text) {
    if (role != ConversationRole::user) return std::string(text);
    size_t marker = std::string_view::npos;
    for (auto candidate : snapshotMarkers) {
        marker = text.find(candidate);
        if (marker != std::string_view::npos) break;
    }
    if (marker == std::string_view::npos) return std::string(text);
    // Back over the separator: line breaks and dashes, each a character of its own. A CR LF
    // pair is one character, which is none of these, so it stops the walk.
    size_t end = marker;
    while (end > 0) {
        const char c = text[end - 1];
        if (c == '\n' && end >= 2 && text[end - 2] == '\r') break;
        if (c != '\n' && c != '\r' && c != '-') break;
        --end;
    }
    return text::trimmingWhitespaceAndNewlines(text.substr(0, end));
}

std::vector<MarkdownBlock> MessageMarkdown::parseBlocks(ConversationRole role, std::string_view text) {
    const std::string shown = displayText(role, text);
    std::string unified;
    unified.reserve(shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\r') {
            unified += shown[i];
            continue;
        }
        unified += '\n';
        if (i + 1 < shown.size() && shown[i + 1] == '\n') ++i;
    }
    std::string_view body = plain_text::trimLineBreaks(unified);

    std::vector<MarkdownBlock> blocks;
    std::string pending;
    bool hasPending = false;
    bool inCode = false;
    auto lastIs = [&](MarkdownBlockType type) { return !blocks.empty() && blocks.back().type == type; };

    size_t start = 0;
    while (start <= body.size()) {
        size_t newline = body.find('\n', start);
        if (newline == std::string_view::npos) newline = body.size();
        const std::string_view line = body.substr(start, newline - start);
        start = newline + 1;

        const std::string_view trimmed = trimSpacesAndTabs(line);
        if (startsWith(trimmed, "```")) {
            if (inCode) {
                blocks.push_back({MarkdownBlockType::code, std::move(pending), std::nullopt});
                pending.clear();
                hasPending = false;
            }
            inCode = !inCode;
            continue;
        }
        if (inCode) {
            if (hasPending) pending += '\n';
            pending += line;
            hasPending = true;
            continue;
        }
        if (trimmed.empty()) {
            if (!lastIs(MarkdownBlockType::spacer)) blocks.push_back({MarkdownBlockType::spacer, "", std::nullopt});
            continue;
        }
        if (auto tag = VisualTagParser::parse(trimmed)) {
            blocks.push_back({MarkdownBlockType::visual, "", std::move(tag)});
            continue;
        }
        const std::string withoutTags = removeBracketTags(trimmed);
        const std::string_view cleaned = trimSpacesAndTabs(withoutTags);
        if (cleaned.empty()) continue;

        MarkdownBlockType type = MarkdownBlockType::paragraph;
        if (startsWith(cleaned, "### ") || startsWith(cleaned, "## ") || startsWith(cleaned, "# ")) {
            type = MarkdownBlockType::heading;
        } else if (startsWith(cleaned, "- ") || startsWith(cleaned, "* ")) {
            type = MarkdownBlockType::bullet;
        } else if (startsWithOrderedList(cleaned)) {
            type = MarkdownBlockType::numbered;
        }
        blocks.push_back({type, normalizeText(type, cleaned), std::nullopt});
    }
    if (inCode && hasPending) blocks.push_back({MarkdownBlockType::code, std::move(pending), std::nullopt});

    size_t first = 0;
    while (first < blocks.size() && blocks[first].type == MarkdownBlockType::spacer) ++first;
    blocks.erase(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(first));
    while (lastIs(MarkdownBlockType::spacer)) blocks.pop_back();
    return blocks;
}

std::string MessageMarkdown::normalizeText(MarkdownBlockType type, std::string_view line) {
    switch (type) {
        case MarkdownBlockType::bullet:
            return std::string(trimSpacesAndTabs(line.substr(std::min<size_t>(2, line.size()))));
        case MarkdownBlockType::heading: {
            std::string s(line);
            removeAll(s, "**");
            removeAll(s, "__");
            removeAll(s, "`");
            for (std::string_view hashes : {"### ", "## ", "# "})
                if (startsWith(s, hashes)) return s.substr(hashes.size());
            return s;
        }
        case MarkdownBlockType::paragraph:
        case MarkdownBlockType::numbered:
            if (startsWith(line, "> ")) return std::string(trimSpacesAndTabs(line.substr(2)));
            return std::string(line);
        default: return std::string(line);
    }
}

bool MessageMarkdown::startsWithOrderedList(std::string_view line) {
    const size_t dot = line.find('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    for (size_t at = 0; at < dot;)
        if (!plain_text::isNumeric(plain_text::nextCodePoint(line, at))) return false;
    size_t after = dot + 1;
    return after < line.size() && plain_text::isWhitespace(plain_text::nextCodePoint(line, after));
}

std::vector<InlineRun> MessageMarkdown::renderMarkdownText(std::string_view text) {
    std::vector<InlineRun> runs;
    auto plain = [&](std::string_view s) {
        if (!s.empty()) runs.push_back({InlineStyle::plain, std::string(s)});
    };
    // Once no "**" is left, none will be found in what remains: remembering it keeps a text of
    // many code spans linear.
    bool boldLeft = true;
    while (!text.empty()) {
        const size_t bold = boldLeft ? text.find("**") : std::string_view::npos;
        if (bold == std::string_view::npos) boldLeft = false;
        if (bold != std::string_view::npos) {
            plain(text.substr(0, bold));
            const size_t close = text.find("**", bold + 2);
            if (close != std::string_view::npos) {
                runs.push_back({InlineStyle::bold, std::string(text.substr(bold + 2, close - bold - 2))});
                text.remove_prefix(close + 2);
            } else {
                plain("**");
                text.remove_prefix(bold + 2);
            }
            continue;
        }
        const size_t tick = text.find('`');
        if (tick == std::string_view::npos) {
            plain(text);
            break;
        }
        plain(text.substr(0, tick));
        const size_t close = text.find('`', tick + 1);
        if (close != std::string_view::npos) {
            runs.push_back({InlineStyle::code, std::string(text.substr(tick + 1, close - tick - 1))});
            text.remove_prefix(close + 1);
        } else {
            plain("`");
            text.remove_prefix(tick + 1);
        }
    }
    return runs;
}

double MessageMarkdown::topPadding(size_t index, const std::vector<MarkdownBlock>& blocks) {
    if (index == 0 || index >= blocks.size()) return 0;
    auto listLike = [](MarkdownBlockType t) {
        return t == MarkdownBlockType::bullet || t == MarkdownBlockType::numbered;
    };
    const MarkdownBlockType type = blocks[index].type;
    const MarkdownBlockType previous = blocks[index - 1].type;
    if (type == MarkdownBlockType::spacer) return 0;
    if (previous == MarkdownBlockType::spacer) return 8;
    if (listLike(previous) && listLike(type)) return 2;
    return 10;
}

}  // namespace corvane
