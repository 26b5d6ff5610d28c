#include "support/regex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>

#include "support/icu_text.h"
#include "support/unicode.h"

#include <stdexcept>

namespace corvane {

struct Regex::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
};

namespace {
using icu_text::u;
using icu_text::utf8;
size_t byteOffset(const icu::UnicodeString& s, int32_t utf16Index) {
    return utf8(s.tempSubString(0, utf16Index)).size();
}

// UTF-8 offsets of the rising UTF-16 positions of successive matches, each counted on from the
// last one, so that converting them all costs one pass over the text rather than one per match.
class ByteOffsets {
public:
    explicit ByteOffsets(const icu::UnicodeString& s) : s_(s) {}
    size_t at(int32_t utf16Index) {
        if (utf16Index < unit_) unit_ = 0, byte_ = 0;  // not expected; correct all the same
        const char16_t* units = s_.getBuffer();
        const int32_t length = s_.length();
        while (unit_ < utf16Index) {
            const char16_t c = units[unit_];
            if (U16_IS_LEAD(c) && unit_ + 1 < length && U16_IS_TRAIL(units[unit_ + 1]) && unit_ + 1 < utf16Index) {
                byte_ += 4;
                unit_ += 2;
                continue;
            }
            byte_ += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;  // a lone surrogate becomes U+FFFD: 3 bytes
            ++unit_;
        }
        return byte_;
    }

private:
    const icu::UnicodeString& s_;
    int32_t unit_ = 0;
    size_t byte_ = 0;
};
// Long inputs must not hang a caller: ICU stops a match that runs too long.
constexpr int32_t kTimeLimit = 50;
}  // namespace

Regex::Regex(std::string_view pattern, Options options) : impl_(std::make_unique<Impl>()) {
    uint32_t flags = 0;
    if (options.caseInsensitive) flags |= UREGEX_CASE_INSENSITIVE;
    if (options.dotMatchesLineSeparators) flags |= UREGEX_DOTALL;
    if (options.multiline) flags |= UREGEX_MULTILINE;
    UErrorCode status = U_ZERO_ERROR;
    UParseError pe;
    impl_->pattern.reset(icu::RegexPattern::compile(u(pattern), flags, pe, status));
    if (U_FAILURE(status)) throw std::invalid_argument("invalid regular expression: " + std::string(pattern));
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

std::vector<Regex::Match> Regex::allMatches(std::string_view text) const {
    std::vector<Match> out;
    icu::UnicodeString us = u(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(us, status));
    if (U_FAILURE(status)) return out;
    m->setTimeLimit(kTimeLimit, status);
    ByteOffsets offsets(us);
    while (m->find(status) && U_SUCCESS(status)) {
        Match match;
        for (int32_t g = 0; g <= m->groupCount(); ++g) {
            int32_t s = m->start(g, status);
            if (s < 0) {
                match.groups.emplace_back(std::nullopt);
                continue;
            }
            match.groups.emplace_back(utf8(m->group(g, status)));
        }
        match.start = offsets.at(m->start(status));
        match.end = offsets.at(m->end(status));
        out.push_back(std::move(match));
    }
    return out;
}

std::optional<Regex::Match> Regex::firstMatch(std::string_view text) const {
    icu::UnicodeString us = u(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(us, status));
    if (U_FAILURE(status)) return std::nullopt;
    m->setTimeLimit(kTimeLimit, status);
    if (!m->find(status) || U_FAILURE(status)) return std::nullopt;
    Match match;
    for (int32_t g = 0; g <= m->groupCount(); ++g) {
        if (m->start(g, status) < 0)
            match.groups.emplace_back(std::nullopt);
        else
            match.groups.emplace_back(utf8(m->group(g, status)));
    }
    match.start = byteOffset(us, m->start(status));
    match.end = byteOffset(us, m->end(status));
    return match;
}

bool Regex::matches(std::string_view text) const {
    icu::UnicodeString us = u(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(us, status));
    if (U_FAILURE(status)) return false;
    m->setTimeLimit(kTimeLimit, status);
    bool r = m->matches(status);
    return U_SUCCESS(status) && r;
}

// Whether the pattern finds anything in the text, read in place: a long text without a match
// (the usual case for redactions) costs no copy at all.
bool Regex::findsInPlace(std::string_view text) const {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, UText* (*)(UText*)> in(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status), &utext_close);
    if (U_FAILURE(status)) return true;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(status));
    if (U_FAILURE(status)) return true;
    m->reset(in.get());
    m->setTimeLimit(kTimeLimit, status);
    const bool found = m->find(status);
    return found || U_FAILURE(status);
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
    // Invalid bytes come back as U+FFFD from the full pass below, so only valid text skips it.
    if (text::isValidUTF8(text) && !findsInPlace(text)) return std::string(text);
    icu::UnicodeString us = u(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(us, status));
    if (U_FAILURE(status)) return std::string(text);
    m->setTimeLimit(kTimeLimit, status);
    icu::UnicodeString r = m->replaceAll(u(replacement), status);
    return U_FAILURE(status) ? std::string(text) : utf8(r);
}

}  // namespace corvane
