#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane {

// The one writer of JSON answers: two-space indentation, sorted keys, every "/" inside a text
// escaped as "\/" (as the original answers were written), or `fallback` when the value cannot be
// written (invalid UTF-8).
std::string jsonText(const nlohmann::json& value, std::string_view fallback);

// Writes JSON text straight from values, byte for byte as nlohmann::json::dump(2) writes the
// same document (two-space indent, "key": value, non-ASCII kept as UTF-8), without building a
// document first: large store files are encoded in a fraction of the time. Object keys must be
// given in sorted (byte) order, as nlohmann's objects hold them. A string that is not valid UTF-8
// makes the output unusable (valid() false): nlohmann then writes it, replacing the bad bytes.
// With `Slashes::escaped` every "/" in a text is written "\/": the text of jsonText, written
// straight.
class PrettyJSONWriter {
public:
    enum class Slashes { plain, escaped };
    explicit PrettyJSONWriter(std::string& out, Slashes slashes = Slashes::plain)
        : out_(out), escapeSlashes_(slashes == Slashes::escaped) {}

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }
    void key(std::string_view name);

    void string(std::string_view text);
    void boolean(bool value);
    void integer(std::int64_t value);
    void number(double value);  // null for NaN and infinities, as nlohmann writes them

    bool valid() const { return valid_; }

private:
    void open(char bracket);
    void close(char bracket);
    void beforeValue();
    void newLine(size_t depth);
    void escaped(std::string_view text);

    std::string& out_;
    std::vector<size_t> counts_;  // members written so far, per open container
    const bool escapeSlashes_;
    bool afterKey_ = false;
    bool valid_ = true;
};

}  // namespace corvane
