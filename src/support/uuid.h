#pragma once

#include <string>

namespace corvane {

// A random (version 4) UUID in upper-case canonical text, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
std::string makeUUID();
bool isUUID(const std::string& text);

}  // namespace corvane
