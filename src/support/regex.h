#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct RegexOptions {
    bool caseInsensitive = false;
    bool dotMatchesLineSeparators = false;
    bool multiline = false;
};

// A regular expression over Unicode text (ICU syntax and classes).
class Regex {
public:
    using Options = RegexOptions;
    struct Match {
        std::vector<std::optional<std::string>> groups;  // [0] is the whole match
        size_t start = 0;                                // UTF-8 byte offsets into the input
        size_t end = 0;
    };

    // Throws std::invalid_argument for a pattern ICU does not accept.
    explicit Regex(std::string_view pattern, Options options = {});
    ~Regex();
    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;

    std::optional<Match> firstMatch(std::string_view text) const;
    std::vector<Match> allMatches(std::string_view text) const;
    bool matches(std::string_view text) const;  // the whole text
    bool search(std::string_view text) const { return firstMatch(text).has_value(); }
    // ICU replacement syntax ("$1").
    std::string replaceAll(std::string_view text, std::string_view replacement) const;

private:
    bool findsInPlace(std::string_view text) const;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvane
