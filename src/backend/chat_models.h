#pragma once

// What answers "/api/ai/chat": a replayed script (the default, offline) or a relay to an
// OpenAI-compatible Responses endpoint. Both take a request the service has already checked.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/regex.h"

namespace corvane::backend {

struct ChatReply {
    int statusCode = 200;
    nlohmann::json body;
};

class ChatModel {
public:
    virtual ~ChatModel() = default;
    virtual ChatReply answer(const nlohmann::json& request) = 0;
};

// The text of the first text part of the request's last user item; empty when there is none.
std::string lastUserText(const nlohmann::json& request);

// A script: rules of a user-message pattern (case-insensitive regular expression) and the model
// steps that follow it, each one reply: {"calls": [{"name", "arguments"}]} or {"respond": prose}.
// Each conversation's position is kept by response id.
class ScriptedModel final : public ChatModel {
public:
    // Throws std::invalid_argument naming what is wrong with the script.
    explicit ScriptedModel(const nlohmann::json& script);
    static std::unique_ptr<ScriptedModel> fromFile(const std::filesystem::path& file);

    ChatReply answer(const nlohmann::json& request) override;

private:
    struct Rule {
        Regex pattern;
        std::string example;
        std::vector<nlohmann::json> steps;
    };
    struct Position {
        std::size_t rule;
        std::size_t nextStep;
    };
    nlohmann::json reply(const std::optional<Position>& position, const nlohmann::json& step);
    nlohmann::json offlineStep() const;

    std::vector<Rule> rules_;
    std::mutex mutex_;
    std::map<std::string, Position> positions_;
    std::deque<std::string> order_;  // oldest first, so the map stays bounded
};

struct RelayConfiguration {
    std::string providerURL;  // the Responses endpoint, e.g. ".../v1/responses"
    std::string providerKey;
    std::string standardModel = "gpt-5-mini";
    std::string proModel = "gpt-5";
    // CORVANE_PROVIDER_URL and CORVANE_PROVIDER_KEY (both needed), CORVANE_PROVIDER_MODEL and
    // CORVANE_PROVIDER_MODEL_PRO.
    static std::optional<RelayConfiguration> fromEnvironment();
};

class RelayModel final : public ChatModel {
public:
    // Reads the tool definitions and the instructions per kind from the resources folder.
    RelayModel(RelayConfiguration configuration, const std::filesystem::path& resources);
    ChatReply answer(const nlohmann::json& request) override;

    // The body sent to the provider for a checked request.
    nlohmann::json forwardedBody(const nlohmann::json& request) const;

private:
    RelayConfiguration configuration_;
    nlohmann::json tools_;
    std::map<std::string, std::string> instructions_;
};

}  // namespace corvane::backend
