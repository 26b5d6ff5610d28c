#include "backend/chat_models.h"

#include <sodium.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "backend/request_checks.h"
#include "http/http_client.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace corvane::backend {
namespace {

using nlohmann::json;

constexpr std::size_t kRememberedConversations = 1000;
// A reply is walked recursively when it is redacted and written out.
constexpr std::size_t kMaxProviderNesting = 128;

std::string randomID(const std::string& prefix) {
    unsigned char bytes[12];
    randombytes_buf(bytes, sizeof bytes);
    char text[sizeof bytes * 2 + 1];
    sodium_bin2hex(text, sizeof text, bytes, sizeof bytes);
    return prefix + text;
}

json functionCall(const std::string& name, const json& arguments) {
    return {{"type", "function_call"},       {"id", randomID("fc_")}, {"call_id", randomID("call_")}, {"name", name},
            {"arguments", arguments.dump()}, {"status", "completed"}};
}

json messageReply(const std::string& text) {
    return {{"id", randomID("resp_")},
            {"object", "response"},
            {"status", "completed"},
            {"output", json::array({{{"type", "message"},
                                     {"role", "assistant"},
                                     {"content", json::array({{{"type", "output_text"}, {"text", text}}})}}})},
            {"output_text", text}};
}

// "User: <message>\nAssistant: ..." becomes the first words of the message.
std::string titleFrom(const std::string& titleRequest) {
    std::string message = titleRequest;
    if (message.rfind("User: ", 0) == 0) message = message.substr(6);
    message = message.substr(0, message.find("\nAssistant:"));
    std::string title;
    std::size_t words = 0;
    std::size_t position = 0;
    while (words < 6 && position < message.size()) {
        const auto start = message.find_first_not_of(" \t\n", position);
        if (start == std::string::npos) break;
        const auto end = message.find_first_of(" \t\n", start);
        if (!title.empty()) title += " ";
        title += message.substr(start, end == std::string::npos ? std::string::npos : end - start);
        ++words;
        position = end == std::string::npos ? message.size() : end;
    }
    if (title.empty()) return "New chat";
    // A title cut short says so, as the window shows it whole.
    if (message.find_first_not_of(" \t\n", position) != std::string::npos) title += "…";
    return title;
}

// Corvane sends its live analysis after the user's message ("\n\n---\n[INTERNAL — ..."): the
// script's rules are for the user's own words.
std::string userWords(const std::string& message) {
    const auto appended = message.find("\n\n---\n[INTERNAL");
    return appended == std::string::npos ? message : message.substr(0, appended);
}

// What the first failed tool of a continuation said, when one failed.
std::optional<std::string> toolFailure(const json& request) {
    const auto input = request.find("input");
    if (input == request.end() || !input->is_array()) return std::nullopt;
    for (const auto& item : *input) {
        if (!item.is_object() || item.value("type", json()) != "function_call_output") continue;
        const auto text = item.find("output");
        if (text == item.end() || !text->is_string()) continue;
        const auto output = json::parse(text->get<std::string>(), nullptr, false);
        if (!output.is_object() || output.value("status", json()) != "error") continue;
        const auto message = output.find("message");
        return message != output.end() && message->is_string() ? message->get<std::string>() : std::string();
    }
    return std::nullopt;
}

// A scripted reply never claims what a failed tool did not do: the exchange ends with the failure.
std::string failureProse(const std::string& message) {
    if (message.empty()) return "That step did not work, so I stopped there.";
    const char last = message.back();
    return "That step did not work, so I stopped there: " + message + (last == '.' || last == '!' ? "" : ".");
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? "" : value;
}

}  // namespace

std::string lastUserText(const json& request) {
    const auto input = request.find("input");
    if (input == request.end() || !input->is_array()) return "";
    for (auto item = input->rbegin(); item != input->rend(); ++item) {
        if (!item->is_object() || item->value("role", json()) != "user") continue;
        const auto content = item->find("content");
        if (content == item->end() || !content->is_array()) return "";
        for (const auto& part : *content) {
            if (part.is_object() && part.value("type", json()) == "input_text" && part.contains("text") &&
                part["text"].is_string()) {
                return part["text"].get<std::string>();
            }
        }
        return "";
    }
    return "";
}

ScriptedModel::ScriptedModel(const json& script) {
    if (!script.is_object() || !script.contains("rules") || !script["rules"].is_array()) {
        throw std::invalid_argument("a script is an object with a \"rules\" array");
    }
    for (const auto& rule : script["rules"]) {
        if (!rule.is_object() || !rule.contains("match") || !rule["match"].is_string() || !rule.contains("steps") ||
            !rule["steps"].is_array() || rule["steps"].empty()) {
            throw std::invalid_argument("each rule needs a \"match\" text and a non-empty \"steps\" array");
        }
        for (const auto& step : rule["steps"]) {
            const bool calls = step.is_object() && step.contains("calls") && step["calls"].is_array();
            const bool respond = step.is_object() && step.contains("respond") && step["respond"].is_string();
            if (calls == respond) throw std::invalid_argument("each step holds either \"calls\" or \"respond\"");
            if (calls) {
                for (const auto& call : step["calls"]) {
                    if (!call.is_object() || !call.contains("name") || !call["name"].is_string()) {
                        throw std::invalid_argument("each call needs a \"name\"");
                    }
                }
            }
        }
        rules_.push_back(Rule{Regex(rule["match"].get<std::string>(), RegexOptions{.caseInsensitive = true}),
                              rule.value("example", rule["match"].get<std::string>()),
                              rule["steps"].get<std::vector<json>>()});
    }
}

std::unique_ptr<ScriptedModel> ScriptedModel::fromFile(const fs::path& file) {
    const FileRead read = readFile(file);
    if (!read.ok()) throw std::invalid_argument("cannot read the script " + file.string());
    const auto script = json::parse(read.bytes, nullptr, false);
    if (script.is_discarded()) throw std::invalid_argument("the script " + file.string() + " is not JSON");
    return std::make_unique<ScriptedModel>(script);
}

json ScriptedModel::offlineStep() const {
    std::string prose =
        "I'm running offline: no language model is configured for this backend, so I can only follow the "
        "exchanges in my script.";
    if (rules_.empty()) {
        prose += " My script is empty.";
    } else {
        prose += " Things I know how to do:";
        for (const auto& rule : rules_) prose += "\n- \"" + rule.example + "\"";
    }
    return {{"respond", prose}};
}

json ScriptedModel::reply(const std::optional<Position>& position, const json& step) {
    json output = json::array();
    if (step.contains("respond")) {
        output.push_back(functionCall("respond", {{"prose", step["respond"]}}));
    } else {
        for (const auto& call : step["calls"]) {
            output.push_back(functionCall(call["name"].get<std::string>(), call.value("arguments", json::object())));
        }
    }
    const std::string id = randomID("resp_");
    if (position) {
        positions_[id] = *position;
        order_.push_back(id);
        while (order_.size() > kRememberedConversations) {
            positions_.erase(order_.front());
            order_.pop_front();
        }
    }
    return {{"id", id}, {"object", "response"}, {"status", "completed"}, {"output", output}};
}

ChatReply ScriptedModel::answer(const json& request) {
    if (request.value("kind", json()) == "title") return {200, messageReply(titleFrom(lastUserText(request)))};
    std::lock_guard lock(mutex_);
    if (request.contains("previous_response_id")) {
        const auto found = positions_.find(request["previous_response_id"].get<std::string>());
        if (found == positions_.end()) return {400, {{"error", "Unknown previous_response_id"}}};
        const Position position = found->second;
        if (const auto failure = toolFailure(request))
            return {200, reply(std::nullopt, {{"respond", failureProse(*failure)}})};
        const auto& steps = rules_[position.rule].steps;
        if (position.nextStep >= steps.size()) return {200, reply(std::nullopt, {{"respond", "Done."}})};
        return {200, reply(Position{position.rule, position.nextStep + 1}, steps[position.nextStep])};
    }
    const std::string message = userWords(lastUserText(request));
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (rules_[i].pattern.search(message)) return {200, reply(Position{i, 1}, rules_[i].steps.front())};
    }
    return {200, reply(std::nullopt, offlineStep())};
}

std::optional<RelayConfiguration> RelayConfiguration::fromEnvironment() {
    RelayConfiguration configuration;
    configuration.providerURL = environment("CORVANE_PROVIDER_URL");
    configuration.providerKey = environment("CORVANE_PROVIDER_KEY");
    if (configuration.providerURL.empty() || configuration.providerKey.empty()) return std::nullopt;
    if (const auto model = environment("CORVANE_PROVIDER_MODEL"); !model.empty()) configuration.standardModel = model;
    if (const auto model = environment("CORVANE_PROVIDER_MODEL_PRO"); !model.empty()) configuration.proModel = model;
    return configuration;
}

RelayModel::RelayModel(RelayConfiguration configuration, const fs::path& resources)
    : configuration_(std::move(configuration)) {
    // The key travels in every request: never in clear beyond this machine.
    if (!http::isPermittedURL(configuration_.providerURL)) {
        throw std::invalid_argument("the provider URL must use https (plain http only on the loopback host): " +
                                    configuration_.providerURL);
    }
    const FileRead tools = readFile(resources / "ToolDefinitions" / "tools.json");
    tools_ = tools.ok() ? json::parse(tools.bytes, nullptr, false) : json();
    if (!tools_.is_array()) throw std::invalid_argument("cannot read the tool definitions under " + resources.string());
    for (const char* kind : {"agent", "title"}) {
        const FileRead text = readFile(resources / "Backend" / (std::string("instructions-") + kind + ".md"));
        if (!text.ok()) throw std::invalid_argument(std::string("cannot read the instructions for ") + kind);
        instructions_[kind] = text.bytes;
    }
}

json RelayModel::forwardedBody(const json& request) const {
    const bool pro = request.value("tier", json()) == "pro";
    // A continuation names no kind; it goes on with an agent turn.
    const std::string kind = request.contains("kind") ? request["kind"].get<std::string>() : "agent";
    json body = {{"model", pro ? configuration_.proModel : configuration_.standardModel},
                 {"instructions", instructions_.at(kind)},
                 {"input", request["input"]},
                 {"parallel_tool_calls", request.value("parallel_tool_calls", json(false))}};
    if (kind == "agent") body["tools"] = tools_;
    if (request.contains("previous_response_id")) body["previous_response_id"] = request["previous_response_id"];
    if (request.contains("store")) body["store"] = request["store"];
    return body;
}

ChatReply RelayModel::answer(const json& request) {
    http::HTTPClientRequest forwarded;
    forwarded.url = configuration_.providerURL;
    forwarded.headers = {{"Content-Type", "application/json"},
                         {"Authorization", "Bearer " + configuration_.providerKey}};
    forwarded.body = forwardedBody(request).dump();
    forwarded.timeout = std::chrono::seconds(120);
    http::CurlTransport transport(http::CurlTransport::PlainHTTP::loopbackOnly);
    http::HTTPClientResponse response;
    const std::string& key = configuration_.providerKey;
    try {
        response = transport.send(forwarded);
    } catch (const http::TransportError& error) {
        return {502, {{"error", redactSecrets(std::string("Provider unreachable: ") + error.what(), key)}}};
    }
    const int status = response.statusCode;
    // Providers echo keys in their errors; whatever goes back to the client is redacted.
    const auto reply = parseBoundedObject(response.body, kMaxProviderNesting);
    if (status < 200 || status > 299) {
        const std::string detail =
            reply && reply->contains("error")
                ? (*reply)["error"].dump(-1, ' ', false, json::error_handler_t::replace)
                : "no details";
        return {502, {{"error", redactSecrets("Provider answered HTTP " + std::to_string(status) + ": " + detail, key)}}};
    }
    if (!reply) return {502, {{"error", "Provider reply was not a JSON object nesting within limits"}}};
    return {200, redactSecretsIn(*reply, key)};
}

}  // namespace corvane::backend
