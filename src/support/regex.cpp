#include "support/regex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "support/icu_text.h"

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
        match.start = byteOffset(us, m->start(status));
        match.end = byteOffset(us, m->end(status));
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

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
    icu::UnicodeString us = u(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(impl_->pattern->matcher(us, status));
    if (U_FAILURE(status)) return std::string(text);
    m->setTimeLimit(kTimeLimit, status);
    icu::UnicodeString r = m->replaceAll(u(replacement), status);
    return U_FAILURE(status) ? std::string(text) : utf8(r);
}

}  // namespace corvane
