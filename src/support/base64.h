#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

std::string base64Encode(std::string_view bytes);
// Absent when the text is not valid (padded) base64.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace corvane
