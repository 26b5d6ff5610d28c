#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One value of a property list in XML form, as a bundle's Info.plist holds it.
struct PropertyListValue {
    enum class Kind { string, integer, real, boolean, date, data, array, dictionary };
    Kind kind = Kind::string;
    std::string text;  // string contents; integer, real, date and data as written
    bool boolean = false;
    std::vector<PropertyListValue> items;  // array elements, or dictionary values
    std::vector<std::string> keys;         // dictionary keys, parallel to items

    // Dictionaries only; with a repeated key the last one counts. Null when absent.
    const PropertyListValue* find(std::string_view key) const;
    // The text of a string value under the key; null when absent or not a string.
    const std::string* stringFor(std::string_view key) const;
};

// Reads a property list in XML form: prolog, document type, comments and processing instructions
// are skipped, the five named entities, character references and CDATA sections are decoded, and
// dictionaries and arrays nest. Anything else is refused rather than guessed at: the binary form,
// malformed XML, elements a property list does not have, unknown entities, text that is not
// UTF-8, and nesting deeper than any real Info.plist.
std::optional<PropertyListValue> parseXMLPropertyList(std::string_view bytes);

}  // namespace corvane
