#include "transcript/markdown.h"

#include "support/unicode.h"
#include "diagrams/plain_text.h"

namespace corvane {

namespace {
using plain_text::removeAll;
using plain_text::trimSpaceSeparatorsAndTabs;

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

namespace {

// CR LF and a lone CR both become LF.
std::string unifiedLineBreaks(std::string_view text) {
    std::string unified;
    unified.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            unified += text[i];
            continue;
        }
        unified += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return unified;
}

template <class Line>
void forEachLine(std::string_view body, Line&& line) {
    size_t start = 0;
    while (start <= body.size()) {
        size_t newline = body.find('\n', start);
        if (newline == std::string_view::npos) newline = body.size();
        line(body.substr(start, newline - start));
        start = newline + 1;
    }
}

}  // namespace

std::vector<MarkdownBlock> MessageMarkdown::parseBlocks(ConversationRole role, std::string_view text) {
    const std::string unified = unifiedLineBreaks(displayText(role, text));
    MarkdownBlockBuilder builder;
    forEachLine(plain_text::trimLineBreaks(unified), [&](std::string_view line) { builder.addLine(line); });
    return builder.blocks();
}

void MarkdownBlockBuilder::addLine(std::string_view line) {
    auto lastIs = [&](MarkdownBlockType type) { return !blocks_.empty() && blocks_.back().type == type; };
    const std::string_view trimmed = trimSpaceSeparatorsAndTabs(line);
    if (startsWith(trimmed, "```")) {
        if (inCode_) {
            blocks_.push_back({MarkdownBlockType::code, std::move(pending_), std::nullopt});
            pending_.clear();
            hasPending_ = false;
        }
        inCode_ = !inCode_;
        return;
    }
    if (inCode_) {
        if (hasPending_) pending_ += '\n';
        pending_ += line;
        hasPending_ = true;
        return;
    }
    if (trimmed.empty()) {
        if (!lastIs(MarkdownBlockType::spacer)) blocks_.push_back({MarkdownBlockType::spacer, "", std::nullopt});
        return;
    }
    if (auto tag = VisualTagParser::parse(trimmed)) {
        blocks_.push_back({MarkdownBlockType::visual, "", std::move(tag)});
        return;
    }
    const std::string withoutTags = removeBracketTags(trimmed);
    const std::string_view cleaned = trimSpaceSeparatorsAndTabs(withoutTags);
    if (cleaned.empty()) return;

    MarkdownBlockType type = MarkdownBlockType::paragraph;
    if (startsWith(cleaned, "### ") || startsWith(cleaned, "## ") || startsWith(cleaned, "# ")) {
        type = MarkdownBlockType::heading;
    } else if (startsWith(cleaned, "- ") || startsWith(cleaned, "* ")) {
        type = MarkdownBlockType::bullet;
    } else if (MessageMarkdown::startsWithOrderedList(cleaned)) {
        type = MarkdownBlockType::numbered;
    }
    blocks_.push_back({type, MessageMarkdown::normalizeText(type, cleaned), std::nullopt});
}

std::vector<MarkdownBlock> MarkdownBlockBuilder::blocks() const {
    size_t first = 0;
    while (first < blocks_.size() && blocks_[first].type == MarkdownBlockType::spacer) ++first;
    std::vector<MarkdownBlock> blocks(blocks_.begin() + static_cast<std::ptrdiff_t>(first), blocks_.end());
    if (inCode_ && hasPending_) blocks.push_back({MarkdownBlockType::code, pending_, std::nullopt});
    while (!blocks.empty() && blocks.back().type == MarkdownBlockType::spacer) blocks.pop_back();
    return blocks;
}

namespace {

// LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR: what trimLineBreaks takes off the ends.
// The length of the one ending at `end`, or 0.
size_t lineBreakEndingAt(std::string_view s, size_t end) {
    if (end >= 1 && s[end - 1] >= 0x0A && s[end - 1] <= 0x0D) return 1;
    if (end >= 2 && s.substr(end - 2, 2) == "\xC2\x85") return 2;
    if (end >= 3 && (s.substr(end - 3, 3) == "\xE2\x80\xA8" || s.substr(end - 3, 3) == "\xE2\x80\xA9")) return 3;
    return 0;
}

bool isLineBreak(char32_t c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

// Whether [start, end) holds one whole, well-formed code point other than a line break: one that
// no byte appended later can change.
bool isSettledCharacter(std::string_view s, size_t start, size_t end) {
    size_t at = start;
    const char32_t c = plain_text::nextCodePoint(s, at);
    if (at != end || isLineBreak(c)) return false;
    return c != U'\uFFFD' || s.substr(start, end - start) == "\xEF\xBF\xBD";
}

// The end of the last settled character in [begin, end), or begin when there is none.
size_t lastSettledEnd(std::string_view s, size_t begin, size_t end) {
    for (size_t at = end; at > begin; --at)
        for (size_t length = 1; length <= 4 && length <= at - begin; ++length)
            if (isSettledCharacter(s, at - length, at)) return at;
    return begin;
}

}  // namespace

const std::vector<MarkdownBlock>& GrowingMarkdown::update(std::string_view text) {
    if (text.substr(0, committed_) != std::string_view(text_)) *this = GrowingMarkdown{};
    // What trimLineBreaks would leave: from the first character that is no line break to the last.
    size_t begin = committed_;
    if (committed_ == 0) begin = static_cast<size_t>(plain_text::trimLineBreaks(text).data() - text.data());
    size_t end = text.size();
    while (end > begin) {
        const size_t n = lineBreakEndingAt(text, end);
        if (n == 0) break;
        end -= n;
    }
    if (end <= begin) {
        blocks_.clear();
        return blocks_;
    }
    // The lines before the last line break ahead of a settled character are final, parsed once:
    // trimming the ends never reaches them, whatever is appended (a partial UTF-8 sequence at
    // either end may still turn into a line break).
    size_t firstEnd = begin;
    if (begin < end) plain_text::nextCodePoint(text, firstEnd);
    const bool frontSettled = committed_ > 0 || isSettledCharacter(text, begin, firstEnd);
    const size_t settled = lastSettledEnd(text, begin, end);
    const size_t lastBreak = settled > begin ? text.rfind('\n', settled - 1) : std::string_view::npos;
    if (frontSettled && lastBreak != std::string_view::npos && lastBreak >= begin) {
        std::string unified = unifiedLineBreaks(text.substr(begin, lastBreak + 1 - begin));
        unified.pop_back();  // the break that ends the last line (a CR before it is part of it)
        forEachLine(unified, [&](std::string_view line) {
            builder_.addLine(line);
            ++linesParsed_;
        });
        committed_ = lastBreak + 1;
        text_.append(text.substr(text_.size(), committed_ - text_.size()));
        begin = committed_;
    }
    MarkdownBlockBuilder withTail = builder_;
    forEachLine(unifiedLineBreaks(text.substr(begin, end - begin)), [&](std::string_view line) {
        withTail.addLine(line);
        ++linesParsed_;
    });
    blocks_ = withTail.blocks();
    return blocks_;
}

std::string MessageMarkdown::normalizeText(MarkdownBlockType type, std::string_view line) {
    switch (type) {
        case MarkdownBlockType::bullet:
            return std::string(trimSpaceSeparatorsAndTabs(line.substr(std::min<size_t>(2, line.size()))));
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
            if (startsWith(line, "> ")) return std::string(trimSpaceSeparatorsAndTabs(line.substr(2)));
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
