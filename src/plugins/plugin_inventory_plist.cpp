#include "plugins/plugin_inventory_plist.h"

#include <cctype>
#include <charconv>
#include <cstdint>

#include "support/unicode.h"

namespace corvane {

namespace {

// Far beyond any real Info.plist; keeps a hostile file from exhausting the stack.
constexpr int kMaxDepth = 64;

struct Refused {};

struct Tag {
    std::string name;
    bool selfClosing = false;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isNameChar(char c) { return !isSpace(c) && c != '/' && c != '>' && c != '=' && c != '<'; }

void appendUTF8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Parser {
public:
    explicit Parser(std::string_view input) : in_(input) {}

    PropertyListValue document() {
        if (in_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        skipMisc();
        Tag root = startTag();
        PropertyListValue value;
        if (root.name == "plist") {
            if (root.selfClosing) throw Refused{};
            skipMisc();
            value = valueFor(startTag(), 0);
            skipMisc();
            endTag("plist");
        } else {
            value = valueFor(root, 0);
        }
        skipMisc();
        if (pos_ != in_.size()) throw Refused{};
        return value;
    }

private:
    bool startsWith(std::string_view s) const { return in_.substr(pos_, s.size()) == s; }

    void skipPast(std::string_view terminator) {
        auto at = in_.find(terminator, pos_);
        if (at == std::string_view::npos) throw Refused{};
        pos_ = at + terminator.size();
    }

    void skipSpace() {
        while (pos_ < in_.size() && isSpace(in_[pos_])) ++pos_;
    }

    // The document type may carry an internal subset in brackets and quoted identifiers.
    void skipDoctype() {
        pos_ += 9;
        int brackets = 0;
        while (pos_ < in_.size()) {
            char c = in_[pos_++];
            if (c == '"' || c == '\'') {
                auto close = in_.find(c, pos_);
                if (close == std::string_view::npos) throw Refused{};
                pos_ = close + 1;
            } else if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                --brackets;
            } else if (c == '>' && brackets <= 0) {
                return;
            }
        }
        throw Refused{};
    }

    // White space, comments, processing instructions and the document type between elements.
    void skipMisc() {
        for (;;) {
            skipSpace();
            if (startsWith("<?")) skipPast("?>");
            else if (startsWith("<!--")) skipPast("-->");
            else if (startsWith("<!DOCTYPE")) skipDoctype();
            else return;
        }
    }

    Tag startTag() {
        if (!startsWith("<") || startsWith("</")) throw Refused{};
        ++pos_;
        Tag tag;
        while (pos_ < in_.size() && isNameChar(in_[pos_])) tag.name += in_[pos_++];
        if (tag.name.empty()) throw Refused{};
        for (;;) {
            skipSpace();
            if (pos_ >= in_.size()) throw Refused{};
            if (startsWith("/>")) {
                pos_ += 2;
                tag.selfClosing = true;
                return tag;
            }
            if (in_[pos_] == '>') {
                ++pos_;
                return tag;
            }
            // An attribute: name = "value"; its value is not needed.
            size_t nameStart = pos_;
            while (pos_ < in_.size() && isNameChar(in_[pos_])) ++pos_;
            if (pos_ == nameStart) throw Refused{};
            skipSpace();
            if (pos_ >= in_.size() || in_[pos_] != '=') throw Refused{};
            ++pos_;
            skipSpace();
            if (pos_ >= in_.size() || (in_[pos_] != '"' && in_[pos_] != '\'')) throw Refused{};
            auto close = in_.find(in_[pos_], pos_ + 1);
            if (close == std::string_view::npos) throw Refused{};
            pos_ = close + 1;
        }
    }

    void endTag(std::string_view name) {
        if (!startsWith("</")) throw Refused{};
        pos_ += 2;
        if (in_.substr(pos_, name.size()) != name) throw Refused{};
        pos_ += name.size();
        skipSpace();
        if (pos_ >= in_.size() || in_[pos_] != '>') throw Refused{};
        ++pos_;
    }

    void entity(std::string& out) {
        auto semicolon = in_.find(';', pos_);
        if (semicolon == std::string_view::npos || semicolon - pos_ > 12) throw Refused{};
        std::string_view name = in_.substr(pos_ + 1, semicolon - pos_ - 1);
        pos_ = semicolon + 1;
        if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "amp") out += '&';
        else if (name == "quot") out += '"';
        else if (name == "apos") out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            bool hex = name[1] == 'x';
            std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t cp = 0;
            auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
            if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size()) throw Refused{};
            if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) throw Refused{};
            appendUTF8(out, cp);
        } else {
            throw Refused{};
        }
    }

    // Character data up to the element's end tag.
    std::string content(const std::string& name) {
        std::string out;
        for (;;) {
            if (pos_ >= in_.size()) throw Refused{};
            char c = in_[pos_];
            if (c == '&') {
                entity(out);
            } else if (c != '<') {
                out += c;
                ++pos_;
            } else if (startsWith("<![CDATA[")) {
                pos_ += 9;
                auto close = in_.find("]]>", pos_);
                if (close == std::string_view::npos) throw Refused{};
                out.append(in_.substr(pos_, close - pos_));
                pos_ = close + 3;
            } else if (startsWith("<!--")) {
                skipPast("-->");
            } else {
                endTag(name);
                return out;
            }
        }
    }

    std::string textOf(const Tag& tag) { return tag.selfClosing ? std::string() : content(tag.name); }

    PropertyListValue valueFor(const Tag& tag, int depth) {
        if (depth > kMaxDepth) throw Refused{};
        PropertyListValue v;
        const std::string& n = tag.name;
        if (n == "dict") {
            v.kind = PropertyListValue::Kind::dictionary;
            if (tag.selfClosing) return v;
            for (;;) {
                skipMisc();
                if (startsWith("</")) break;
                Tag key = startTag();
                if (key.name != "key") throw Refused{};
                v.keys.push_back(textOf(key));
                skipMisc();
                v.items.push_back(valueFor(startTag(), depth + 1));
            }
            endTag("dict");
        } else if (n == "array") {
            v.kind = PropertyListValue::Kind::array;
            if (tag.selfClosing) return v;
            for (;;) {
                skipMisc();
                if (startsWith("</")) break;
                v.items.push_back(valueFor(startTag(), depth + 1));
            }
            endTag("array");
        } else if (n == "true" || n == "false") {
            v.kind = PropertyListValue::Kind::boolean;
            v.boolean = n == "true";
            if (!tag.selfClosing) {
                skipSpace();
                endTag(n);
            }
        } else if (n == "string") {
            v.text = textOf(tag);
        } else if (n == "integer") {
            v.kind = PropertyListValue::Kind::integer;
            v.text = text::trimmingWhitespaceAndNewlines(textOf(tag));
            if (!isInteger(v.text)) throw Refused{};
        } else if (n == "real") {
            v.kind = PropertyListValue::Kind::real;
            v.text = text::trimmingWhitespaceAndNewlines(textOf(tag));
            double d = 0;
            auto [end, ec] = std::from_chars(v.text.data(), v.text.data() + v.text.size(), d);
            if (v.text.empty() || ec != std::errc{} || end != v.text.data() + v.text.size()) throw Refused{};
        } else if (n == "date") {
            v.kind = PropertyListValue::Kind::date;
            v.text = text::trimmingWhitespaceAndNewlines(textOf(tag));
        } else if (n == "data") {
            v.kind = PropertyListValue::Kind::data;
            v.text = textOf(tag);
            for (char c : v.text)
                if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=' || isSpace(c)))
                    throw Refused{};
        } else {
            throw Refused{};
        }
        return v;
    }

    static bool isInteger(std::string_view s) {
        if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
        bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        if (hex) s.remove_prefix(2);
        if (s.empty()) return false;
        for (char c : s)
            if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
                return false;
        return true;
    }

    std::string_view in_;
    size_t pos_ = 0;
};

}  // namespace

const PropertyListValue* PropertyListValue::find(std::string_view key) const {
    if (kind != Kind::dictionary) return nullptr;
    for (size_t i = keys.size(); i-- > 0;)
        if (keys[i] == key) return &items[i];
    return nullptr;
}

const std::string* PropertyListValue::stringFor(std::string_view key) const {
    const PropertyListValue* v = find(key);
    return v && v->kind == Kind::string ? &v->text : nullptr;
}

std::optional<PropertyListValue> parseXMLPropertyList(std::string_view bytes) {
    if (!text::isValidUTF8(bytes)) return std::nullopt;
    try {
        return Parser(bytes).document();
    } catch (const Refused&) {
        return std::nullopt;
    }
}

}  // namespace corvane
