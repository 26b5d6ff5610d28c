#pragma once

// The program's only client of the chat backend: posts request bodies with the signed-in user's
// bearer token, maps failures to one error type whose text reaches the user, traces every
// exchange and keeps the last request for diagnosis. Also files error reports and cleans titles.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/http_client.h"
#include "model/capture_models.h"

namespace corvane::networking {

class BackendChatService {
public:
    // The one error of the client; what() is the text the user sees.
    class OpenAIClientError : public std::runtime_error {
    public:
        enum class Kind { invalidResponse, missingApiKey, signedOut, busy, refused };
        static OpenAIClientError invalidResponse(const std::string& payload);
        static OpenAIClientError missingApiKey();  // no token provider installed
        static OpenAIClientError signedOut();      // the provider has no token: the user must sign in
        static OpenAIClientError sessionEnded();   // the backend turned the token down (401), the session ended
        static OpenAIClientError chatRefused();    // 401 again although the sign-in service keeps the session
        static OpenAIClientError busy();           // the backend had no room for the request (429, 503)
        Kind kind() const { return kind_; }
        const std::string& payload() const { return payload_; }

    private:
        OpenAIClientError(Kind kind, std::string payload, const std::string& description);
        Kind kind_;
        std::string payload_;
    };

    // One screenshot sent with a user message.
    struct AttachedCapture {
        CaptureMetadata metadata;
        std::string imageDataURL;  // "data:" MIME ";base64," Base64
        std::string contextLabel;
    };
    // Never empty: a message without screenshots has none of these at all.
    using AttachedCaptureInput = std::vector<AttachedCapture>;

    // Gives the current access token, or none; called on the requesting thread with the request's
    // stop token, which ends any wait for the token. What it throws (no token to be had just now)
    // fails the request, its text the user's to see.
    using StoppableTokenProvider = std::function<std::optional<std::string>(std::stop_token)>;
    using TokenProvider = std::function<std::optional<std::string>()>;

    // `endpoint` is the backend's base URL followed by "/api/ai/chat".
    BackendChatService(std::string endpoint, std::string defaultModel = "gpt-5",
                       std::shared_ptr<http::HTTPTransport> transport = http::defaultTransport());

    const std::string& endpoint() const { return endpoint_; }
    const std::string& defaultModel() const { return defaultModel_; }
    void setAuthTokenProvider(StoppableTokenProvider provider);
    void setAuthTokenProvider(TokenProvider provider);  // one that cannot be stopped
    // Told of a token the backend refused (401); gives the session's token when it lives on (sent
    // once more where it differs from the refused one), none when it has ended. What it throws
    // fails the request.
    using TokenRefusedHandler = std::function<std::optional<std::string>(const std::string& token, std::stop_token)>;
    void setTokenRefusedHandler(TokenRefusedHandler handler);

    // Posts one JSON object and gives the reply's object. Throws OpenAIClientError, TransportError
    // (no answer, cancelled through `stop`), nlohmann::json::parse_error (a reply that is not JSON)
    // or what the token provider threw.
    nlohmann::json sendRequest(const nlohmann::json& body, std::stop_token stop = {});

    // True when the backend accepted the report (2xx); never throws.
    bool submitErrorReport(const std::string& threadID, const std::optional<std::string>& userMessage,
                           const std::string& assistantMessage, const nlohmann::json& toolCalls,
                           const std::string& userDescription);

    static std::optional<std::string> extractTitleText(const nlohmann::json& reply);
    static std::string cleanTitle(const std::string& title);
    // "/api/ai/chat" becomes "/api/errors/report" on the same host.
    static std::string errorReportURL(const std::string& endpoint);

private:
    std::optional<std::string> currentToken(std::stop_token stop);
    bool hasTokenProvider();

    std::string endpoint_;
    std::string defaultModel_;
    std::shared_ptr<http::HTTPTransport> transport_;
    mutable std::mutex providerMutex_;
    StoppableTokenProvider tokenProvider_;
    TokenRefusedHandler tokenRefused_;
};

}  // namespace corvane::networking
