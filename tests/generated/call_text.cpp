#include "generated/call_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "generated/tool_calls.h"
#include "support/numbers.h"

namespace corvane::generated {

using nlohmann::json;

namespace {

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool mentions(const std::string& text, const std::string& part) {
    return lower(text).find(lower(part)) != std::string::npos;
}

bool toldFailed(const std::string& answer, const std::string& name) {
    const auto failed = answer.find("Failed");
    return failed != std::string::npos &&
           lower(answer).find("'" + lower(trimmed(name)) + "'", failed) != std::string::npos;
}


// Whether `text` names `name` whole: in its own case, with no letter or digit against either end,
// and not within a longer name of the project standing at the same place ("Kick" is not named
// by "Kick 2", nor "Vox" by "Lead Vox").
bool namesWhole(const std::string& text, const std::string& name, const std::vector<std::string>& names) {
    if (name.empty()) return false;
    for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if ((at > 0 && isWordChar(text[at - 1])) || (end < text.size() && isWordChar(text[end]))) continue;
        const bool inLonger = std::any_of(names.begin(), names.end(), [&](const std::string& longer) {
            if (longer.size() <= name.size()) return false;
            for (auto pos = longer.find(name); pos != std::string::npos; pos = longer.find(name, pos + 1))
                if (pos <= at && text.compare(at - pos, longer.size(), longer) == 0) return true;
            return false;
        });
        if (!inLonger) return true;
    }
    return false;
}

// The answer's sentences (and the items of its lists): a change is named where its track is.
std::vector<std::string> sentencesOf(const std::string& text) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size() || text[i] == ';' || text[i] == '\n' ||
                         (text[i] == '.' && (i + 1 == text.size() || text[i + 1] == ' '));
        if (!end) continue;
        if (i > from) out.push_back(text.substr(from, i - from));
        from = i + 1;
    }
    return out;
}

// Whether one sentence of the answer names the track whole and says one of the words.
bool namedWith(const std::string& text, const std::string& name, const std::vector<std::string>& words,
               const std::vector<std::string>& names) {
    for (const auto& sentence : sentencesOf(text))
        if (namesWhole(sentence, name, names) &&
            std::any_of(words.begin(), words.end(), [&](const std::string& w) { return mentions(sentence, w); }))
            return true;
    return false;
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// The tracks a name reaches: names are told apart whole, trimmed, in any case (as headers read).
std::vector<int> idsNamed(const standin::Project& p, const std::string& name) {
    std::vector<int> ids;
    for (const auto& t : p.tracks)
        if (lower(trimmed(t.name)) == lower(trimmed(name))) ids.push_back(t.id);
    return ids;
}

std::vector<int> listedIdsNamed(const standin::Project& p, const std::string& name) {
    auto ids = idsNamed(p, name);
    std::erase_if(ids, [&](int id) { return !inList(p, id); });
    return ids;
}

// The track names a call addresses as its targets (the side chain's source is not one).
std::vector<std::string> targetNames(const GeneratedCall& c) {
    std::vector<std::string> names;
    for (const char* key : {"track_name", "current_name", "source_track"})
        if (c.args.contains(key) && c.args[key].is_string()) names.push_back(c.args[key].get<std::string>());
    if (c.args.contains("track_names"))
        for (const auto& n : c.args["track_names"]) names.push_back(n.get<std::string>());
    if (c.args.contains("tracks") && c.args["tracks"].is_array())
        for (const auto& w : c.args["tracks"]) names.push_back(w["track_name"].get<std::string>());
    return names;
}

// Whether the track is in the track list, shown or inside a collapsed folder.
bool inList(const standin::Project& p, int id) {
    for (const standin::Track* t = p.trackById(id); t; t = t->parent >= 0 ? p.trackById(t->parent) : nullptr)
        if (!t->inArrange) return false;
    return true;
}

std::optional<double> numberIn(const json& v) {
    if (v.is_number()) return v.get<double>();
    if (v.is_string()) return readNumber(v.get<std::string>());
    return std::nullopt;
}

const json* trackIn(const ProjectState& s, int id) {
    auto it = s.tracks.find(id);
    return it == s.tracks.end() ? nullptr : &it->second;
}

const json* slotIn(const json& track, int uid) {
    for (const auto& s : track["inserts"])
        if (s["uid"] == uid) return &s;
    return nullptr;
}

// An absolute level in dB asked of the fader ("-6 dB"), if that is what the value is.
std::optional<double> absoluteDb(const nlohmann::json& v) {
    if (!v.is_string()) return std::nullopt;
    std::string s = v.get<std::string>();
    if (s.size() < 3 || s.substr(s.size() - 2) != "dB" || s[0] == '+') return std::nullopt;
    s.resize(s.size() - 2);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return readNumber(s);
}

int decimalsOf(const std::string& number) {
    const auto dot = number.find('.');
    if (dot == std::string::npos) return 0;
    int n = 0;
    for (std::size_t i = dot + 1; i < number.size() && std::isdigit(static_cast<unsigned char>(number[i])); ++i) ++n;
    return n;
}

bool sameNumber(const std::string& stated, double shown, std::optional<int> shownDecimals) {
    const auto value = readNumber(stated);
    if (!value) return true;  // not a number: nothing to compare
    const int places = shownDecimals ? std::min(decimalsOf(stated), *shownDecimals) : decimalsOf(stated);
    return std::fabs(*value - shown) <= 0.5 * std::pow(10.0, -places) + 1e-9;
}

std::string numberPart(const std::string& text) {
    const std::string t = trimmed(text);
    const auto end = t.find_first_not_of("+-0123456789.");
    return t.substr(0, end);
}

}  // namespace corvane::generated
