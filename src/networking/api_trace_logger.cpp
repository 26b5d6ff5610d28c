#include "networking/api_trace_logger.h"

#include "platform/log.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane::networking {
namespace {

constexpr std::size_t kMaxTraceCharacters = 8000;

struct Redaction {
    Regex pattern;
    std::string replacement;
};

const std::vector<Redaction>& redactions() {
    static const std::vector<Redaction> rules = [] {
        std::vector<Redaction> list;
        list.push_back({Regex(R"("Authorization"\s*:\s*"[^"]+")"), R"("Authorization":"<redacted>")"});
        list.push_back({Regex(R"(Bearer\s+[A-Za-z0-9_\-\.]+)"), "Bearer <redacted>"});
        list.push_back({Regex(R"(data:image\/[^;]+;base64,[A-Za-z0-9+/=]+)"), "data:image/...;base64,<redacted>"});
        return list;
    }();
    return rules;
}

// ICU treats "$" and "\" in a replacement as references; the replacements above hold neither
// except as literal text, which is escaped here once.
std::string literalReplacement(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '$' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

}  // namespace

std::map<std::string, std::string> APITraceLogger::sanitize(const std::map<std::string, std::string>& headers) {
    std::map<std::string, std::string> out;
    for (const auto& [name, value] : headers) {
        out[name] = text::equalsIgnoringCase(name, "Authorization") ? "<redacted>" : value;
    }
    return out;
}

std::string APITraceLogger::sanitize(const std::string& text) {
    std::string out = text;
    for (const auto& rule : redactions()) out = rule.pattern.replaceAll(out, literalReplacement(rule.replacement));
    if (text::graphemeCount(out) > kMaxTraceCharacters) {
        out = text::graphemePrefix(out, kMaxTraceCharacters) + "\n... <truncated>";
    }
    return out;
}

std::string APITraceLogger::indent(const std::string& multiline) {
    std::string out = "    ";
    for (char c : multiline) {
        if (c == '\n' || c == '\r') {
            out += "\n    ";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string APITraceLogger::requestBlock(const std::string& label, const std::string& url,
                                         const std::map<std::string, std::string>& headers,
                                         const nlohmann::json& body) {
    std::string block = "[API] " + label + " request\n  POST " + url;
    if (!headers.empty()) {
        std::string map;
        for (const auto& [name, value] : sanitize(headers)) {
            if (!map.empty()) map += ", ";
            map += "\"" + name + "\": \"" + value + "\"";
        }
        block += "\n  headers: [" + map + "]";
    }
    if (body.is_object() || body.is_array()) {
        try {
            const std::string text = body.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
            block += "\n  body:\n" + indent(sanitize(text));
        } catch (const nlohmann::json::exception&) {
            // A body that cannot be written is left out of the block.
        }
    }
    return block;
}

std::string APITraceLogger::responseBlock(const std::string& label, const std::string& url,
                                          std::optional<int> statusCode, const std::optional<std::string>& bodyData) {
    std::string block = "[API] " + label + " response\n  " + url;
    if (statusCode) block += "\n  status: " + std::to_string(*statusCode);
    if (bodyData && !bodyData->empty() && text::isValidUTF8(*bodyData)) {
        block += "\n  body:\n" + indent(sanitize(*bodyData));
    }
    return block;
}

void APITraceLogger::logRequest(const std::string& label, const std::string& url,
                                const std::map<std::string, std::string>& headers, const nlohmann::json& body) {
    log(requestBlock(label, url, headers, body));
}

void APITraceLogger::logResponse(const std::string& label, const std::string& url, std::optional<int> statusCode,
                                 const std::optional<std::string>& bodyData) {
    log(responseBlock(label, url, statusCode, bodyData));
}

}  // namespace corvane::networking
