#include "networking/backend_chat_service.h"

#include <array>
#include <string_view>

#include "networking/api_trace_logger.h"
#include "networking/request_dump.h"
#include "support/unicode.h"

namespace corvane::networking {
namespace {

constexpr const char* kTraceLabel = "API Proxy";
constexpr const char* kProjectFolderName = "Corvane";

bool isQuoteMark(std::string_view grapheme) {
    static constexpr std::array<std::string_view, 6> marks{"\"", "'", "\u201C", "\u201D", "\u2018", "\u2019"};
    for (auto mark : marks) {
        if (grapheme == mark) return true;
    }
    return false;
}

bool isTrailingPunctuation(std::string_view grapheme) {
    return grapheme.size() == 1 && std::string_view(".,;:!?").find(grapheme[0]) != std::string_view::npos;
}

std::string joined(const std::vector<std::string>& pieces, std::size_t begin, std::size_t end) {
    std::string out;
    for (std::size_t i = begin; i < end; ++i) out += pieces[i];
    return out;
}

}  // namespace

BackendChatService::OpenAIClientError::OpenAIClientError(Kind kind, std::string payload, const std::string& description)
    : std::runtime_error(description), kind_(kind), payload_(std::move(payload)) {}

BackendChatService::OpenAIClientError BackendChatService::OpenAIClientError::invalidResponse(
    const std::string& payload) {
    return OpenAIClientError(Kind::invalidResponse, payload, "OpenAI response could not be parsed: " + payload);
}

BackendChatService::OpenAIClientError BackendChatService::OpenAIClientError::missingApiKey() {
    return OpenAIClientError(Kind::missingApiKey, "",
                             std::string("Missing OPENAI_API_KEY. Set it in the environment or place it in a .env "
                                         "file inside ") +
                                 kProjectFolderName + ".");
}

BackendChatService::OpenAIClientError BackendChatService::OpenAIClientError::signedOut() {
    // Says "not authenticated", as a 401 does, so the turn's reply asks for the sign-in too.
    return OpenAIClientError(Kind::signedOut, "", "Not authenticated. Please sign in again.");
}

BackendChatService::OpenAIClientError BackendChatService::OpenAIClientError::sessionEnded() {
    // The sign-in ended (signed out or revoked elsewhere): the user is told so, not of an answer
    // that could not be parsed.
    return OpenAIClientError(Kind::signedOut, "", "Not authenticated: the sign-in has ended. Please sign in again.");
}

BackendChatService::OpenAIClientError BackendChatService::OpenAIClientError::chatRefused() {
    // Worded apart from a refused sign-in: the session is kept, and the turn is not told to sign in.
    return OpenAIClientError(Kind::refused, "",
                             "The chat backend refused the request although the sign-in is valid. Try again in a "
                             "moment.");
}

BackendChatService::OpenAIClientError BackendChatService::OpenAIClientError::busy() {
    return OpenAIClientError(Kind::busy, "", "The chat service is busy. Try again in a moment.");
}

BackendChatService::BackendChatService(std::string endpoint, std::string defaultModel,
                                       std::shared_ptr<http::HTTPTransport> transport)
    : endpoint_(std::move(endpoint)), defaultModel_(std::move(defaultModel)), transport_(std::move(transport)) {}

void BackendChatService::setAuthTokenProvider(StoppableTokenProvider provider) {
    std::lock_guard lock(providerMutex_);
    tokenProvider_ = std::move(provider);
}

void BackendChatService::setAuthTokenProvider(TokenProvider provider) {
    if (!provider) return setAuthTokenProvider(StoppableTokenProvider{});
    setAuthTokenProvider([provider = std::move(provider)](std::stop_token) { return provider(); });
}

void BackendChatService::setTokenRefusedHandler(TokenRefusedHandler handler) {
    std::lock_guard lock(providerMutex_);
    tokenRefused_ = std::move(handler);
}

bool BackendChatService::hasTokenProvider() {
    std::lock_guard lock(providerMutex_);
    return static_cast<bool>(tokenProvider_);
}

std::optional<std::string> BackendChatService::currentToken(std::stop_token stop) {
    StoppableTokenProvider provider;
    {
        std::lock_guard lock(providerMutex_);
        provider = tokenProvider_;
    }
    if (!provider) return std::nullopt;
    return provider(std::move(stop));
}

nlohmann::json BackendChatService::sendRequest(const nlohmann::json& body, std::stop_token stop) {
    if (!hasTokenProvider()) throw OpenAIClientError::missingApiKey();
    auto token = currentToken(stop);
    if (!token) throw OpenAIClientError::signedOut();

    http::HTTPClientRequest request;
    request.url = endpoint_;
    request.headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + *token}};
    // Invalid UTF-8 in a text makes this throw: the serialiser's failure is the result.
    request.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);

    APITraceLogger::logRequest(kTraceLabel, endpoint_,
                               {{"Content-Type", "application/json"}, {"Authorization", "Bearer <token>"}}, body);
    RequestDump::writeLater(body);
    if (!http::isPermittedURL(endpoint_)) {
        throw http::TransportError("refusing to send the token to " + endpoint_ +
                                   " without TLS (plain HTTP is for the loopback host only)");
    }

    http::HTTPClientResponse response = transport_->send(request, stop);
    APITraceLogger::logResponse(kTraceLabel, endpoint_, response.statusCode, response.body);
    if (response.statusCode == 401) {
        TokenRefusedHandler refused;
        {
            std::lock_guard lock(providerMutex_);
            refused = tokenRefused_;
        }
        // Whether the session has ended is the sign-in service's to say, not the chat backend's
        // (a proxy in the way answers 401 too). Without a handler nobody can ask.
        if (!refused) throw OpenAIClientError::sessionEnded();
        const auto renewed = refused(*token, stop);
        if (!renewed) throw OpenAIClientError::sessionEnded();
        // The session lives on, under a token renewed meanwhile: sent once more with it.
        if (*renewed != *token) {
            request.headers["Authorization"] = "Bearer " + *renewed;
            response = transport_->send(request, stop);
            APITraceLogger::logResponse(kTraceLabel, endpoint_, response.statusCode, response.body);
        }
        if (response.statusCode == 401) throw OpenAIClientError::chatRefused();
    }
    // No room for the request just now: said as such, not as an answer that could not be read.
    if (response.statusCode == 429 || response.statusCode == 503) throw OpenAIClientError::busy();
    if (response.statusCode < 200 || response.statusCode > 299) {
        const std::string detail = text::isValidUTF8(response.body) ? response.body : "unknown error";
        throw OpenAIClientError::invalidResponse("HTTP " + std::to_string(response.statusCode) + ": " + detail);
    }
    nlohmann::json reply = nlohmann::json::parse(response.body);
    if (!reply.is_object()) throw OpenAIClientError::invalidResponse("response was not a JSON object");
    return reply;
}

std::string BackendChatService::errorReportURL(const std::string& endpoint) {
    const auto schemeEnd = endpoint.find("://");
    const auto pathStart = endpoint.find('/', schemeEnd == std::string::npos ? 0 : schemeEnd + 3);
    if (pathStart == std::string::npos) return endpoint + "/errors/report";
    std::string origin = endpoint.substr(0, pathStart);
    std::string path = endpoint.substr(pathStart);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    for (int i = 0; i < 2 && path.size() > 1; ++i) {
        path.erase(path.rfind('/'));
        if (path.empty()) path = "/";
    }
    if (path.back() != '/') path += '/';
    return origin + path + "errors/report";
}

bool BackendChatService::submitErrorReport(const std::string& threadID, const std::optional<std::string>& userMessage,
                                           const std::string& assistantMessage, const nlohmann::json& toolCalls,
                                           const std::string& userDescription) {
    try {
        http::HTTPClientRequest request;
        request.url = errorReportURL(endpoint_);
        request.headers = {{"Content-Type", "application/json"}};
        std::optional<std::string> token;
        try {
            token = currentToken({});
        } catch (const std::exception&) {
            // No token to be had now (the sign-in service is busy or out of reach): the report goes without one.
        }
        if (token) request.headers["Authorization"] = "Bearer " + *token;
        const nlohmann::json body = {{"thread_id", threadID},
                                     {"app_version", CORVANE_VERSION},
                                     {"user_message", userMessage.value_or("")},
                                     {"assistant_message", assistantMessage},
                                     {"tool_calls", toolCalls},
                                     {"user_description", userDescription}};
        try {
            request.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        } catch (const nlohmann::json::exception&) {
            request.body.reset();  // sent without a body
        }
        if (request.headers.count("Authorization") != 0 && !http::isPermittedURL(request.url)) return false;
        const auto response = transport_->send(request);
        return response.statusCode >= 200 && response.statusCode <= 299;
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::string> BackendChatService::extractTitleText(const nlohmann::json& reply) {
    if (!reply.is_object()) return std::nullopt;
    const auto output = reply.find("output");
    if (output == reply.end() || !output->is_array()) return std::nullopt;
    for (const auto& item : *output) {
        if (!item.is_object()) continue;
        const auto content = item.find("content");
        if (content == item.end() || !content->is_array()) continue;
        for (const auto& part : *content) {
            if (!part.is_object()) continue;
            const auto textValue = part.find("text");
            if (textValue != part.end() && textValue->is_string() && !textValue->get<std::string>().empty()) {
                return textValue->get<std::string>();
            }
        }
    }
    return std::nullopt;
}

std::string BackendChatService::cleanTitle(const std::string& title) {
    std::vector<std::string> pieces = text::graphemes(text::trimmingWhitespaceAndNewlines(title));
    std::size_t begin = 0;
    std::size_t end = pieces.size();
    while (begin < end && isQuoteMark(pieces[begin])) ++begin;
    while (end > begin && isQuoteMark(pieces[end - 1])) --end;
    while (end > begin && isTrailingPunctuation(pieces[end - 1])) --end;
    const std::string cleaned = text::trimmingWhitespaceAndNewlines(joined(pieces, begin, end));
    if (text::graphemeCount(cleaned) <= 60) return cleaned;
    return std::string(text::trimSpacesAndTabs(text::graphemePrefix(cleaned, 60)));
}

}  // namespace corvane::networking
