#pragma once

// Conversions between our UTF-8 text and ICU's strings, for the support sources only.

#include <unicode/unistr.h>

#include <string>
#include <string_view>

namespace corvane::icu_text {

inline icu::UnicodeString u(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

inline std::string utf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

}  // namespace corvane::icu_text
