#pragma once

// One log block per chat backend request and per answer, with credentials and screenshot data
// redacted and long bodies cut, so exchanges can be followed without leaking either.

#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace corvane::networking {

struct APITraceLogger {
    // A body other than an object or an array (null: none) is left out of the block.
    static void logRequest(const std::string& label, const std::string& url,
                           const std::map<std::string, std::string>& headers, const nlohmann::json& body);
    static void logResponse(const std::string& label, const std::string& url, std::optional<int> statusCode,
                            const std::optional<std::string>& bodyData);

    // The blocks as logged (exposed for the tests).
    static std::string requestBlock(const std::string& label, const std::string& url,
                                    const std::map<std::string, std::string>& headers, const nlohmann::json& body);
    static std::string responseBlock(const std::string& label, const std::string& url, std::optional<int> statusCode,
                                     const std::optional<std::string>& bodyData);

    static std::map<std::string, std::string> sanitize(const std::map<std::string, std::string>& headers);
    // Authorization members, bearer tokens and image data URLs redacted; cut after 8000 characters.
    static std::string sanitize(const std::string& text);
    static std::string indent(const std::string& multiline);
};

}  // namespace corvane::networking
