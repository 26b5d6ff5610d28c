#include "backend/backend_service.h"

#include <sys/stat.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "backend/request_checks.h"
#include "http/json_response.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/json_fields.h"
#include "support/numbers.h"
#include "support/unicode.h"
#include "support/uuid.h"

namespace fs = std::filesystem;

namespace corvane::backend {

using http::HTTPRequest;
using http::HTTPResponse;

namespace {

using nlohmann::json;

HTTPResponse jsonResponse(int status, const json& body) { return http::jsonAnswer(body, status); }

// The sign-in service's failures carry "error" and "error_description" (the client shows the latter).
HTTPResponse authError(int status, const std::string& error, const std::string& description) {
    return jsonResponse(status, {{"error", error}, {"error_description", description}});
}

HTTPResponse chatError(int status, const std::string& message) { return jsonResponse(status, {{"error", message}}); }

HTTPResponse reportsBusy() {
    HTTPResponse refused = chatError(503, "Too many reports at once; try again shortly");
    refused.headers = {{"Retry-After", "1"}};
    return refused;
}

HTTPResponse signInsBusy() {
    HTTPResponse refused = jsonResponse(429, {{"error", "over_request_rate_limit"},
                                              {"error_description", "Too many sign-ins at once. Try again in 1 s."},
                                              {"retry_after", 1}});
    refused.headers = {{"Retry-After", "1"}};
    return refused;
}

HTTPResponse chatsBusy() {
    HTTPResponse refused = chatError(503, "Too many chats at once; try again shortly");
    refused.headers = {{"Retry-After", "1"}};
    return refused;
}

constexpr const char* kSignedOutReports = "signed out";
// Requests of a route with slots of its own that may wait for a worker beyond those the slots hold.
constexpr std::size_t kWaitingForSlots = 64;
// Chats waiting on the model at once, and as many more waiting for a worker.
constexpr std::size_t kChatsAtOnce = 32;
// Refreshes handled at once (no hash: each is quick), and kWaitingForSlots more waiting.
constexpr std::size_t kRefreshesAtOnce = 8;

// The backend names each status it sends (the app's API calls every status it does not list "OK").
std::string_view reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 413: return "Payload Too Large";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

constexpr auto& textMember = json_fields::lenientText;

std::string queryValue(const HTTPRequest& request, const std::string& name) {
    const auto params = request.queryParams();
    const auto found = params.find(name);
    return found == params.end() ? "" : found->second;
}

json sessionJSON(const Session& session, std::int64_t lifetime) {
    return {{"access_token", session.accessToken},
            {"refresh_token", session.refreshToken},
            {"token_type", "bearer"},
            {"expires_in", lifetime},
            {"expires_at", session.expiresAt},
            {"user", {{"email", session.email}}}};
}

// Why a body is refused before it is parsed: its status and message; none when it may be parsed.
std::optional<std::pair<int, std::string>> boundsProblem(std::string_view body, const char* what) {
    switch (jsonBounds(body)) {
        case JSONBounds::within: return std::nullopt;
        // Too deep is too large, as the app's loopback API answers it: one answer for both servers.
        case JSONBounds::tooDeep:
            return std::pair{413,
                             std::string(what) + " nests deeper than " + std::to_string(kMaxJSONNesting) + " levels"};
        case JSONBounds::tooManyValues:
            return std::pair{413, std::string(what) + " holds more than " + std::to_string(kMaxJSONValues) + " values"};
    }
    return std::nullopt;
}

// The token of an "Authorization: Bearer <token>" header; the scheme's case is the client's.
std::optional<std::string> bearerToken(const HTTPRequest& request) {
    const std::string authorization = request.header("authorization").value_or("");
    constexpr std::string_view kScheme = "bearer";
    if (authorization.size() <= kScheme.size() + 1 || authorization[kScheme.size()] != ' ' ||
        !text::equalsIgnoringCase(std::string_view(authorization).substr(0, kScheme.size()), kScheme)) {
        return std::nullopt;
    }
    const auto start = authorization.find_first_not_of(' ', kScheme.size());
    if (start == std::string::npos) return std::nullopt;
    return authorization.substr(start);
}

std::string accountKey(const std::string& email) {
    return text::lowercased(text::trimmingWhitespaceAndNewlines(email));
}

// What a large body's parse freed stays in the allocator of the thread that parsed it, where no
// other request may ever reuse it: the backend would keep its largest burst for good.
constexpr std::size_t kTrimAfterBodyBytes = 1024 * 1024;

void releaseFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace

fs::path BackendService::defaultDataFolder() {
    fs::path folder;
    if (const char* home = std::getenv("CORVANE_BACKEND_HOME"); home != nullptr && *home != '\0') {
        folder = home;
    } else {
        folder = AppPaths::userDataDirectory().value_or(AppPaths::temporaryDirectory()) / "Corvane Backend";
    }
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    narrowFolderToOwner(folder);
    return folder;
}

http::HTTPServerOptions BackendService::serverOptions() const {
    http::HTTPServerOptions options;
    options.maxBodyBytes = 64 * 1024 * 1024;  // screenshots travel inline, in a signed-in chat only
    // One account holds at most one largest body in flight: the rest of the budget stays for the
    // other accounts, however many uploads one client opens.
    options.maxBodyBytesInFlightPerHolder = static_cast<std::size_t>(options.maxBodyBytes);
    options.bodyAllowance = [this](const HTTPRequest& head) { return bodyAllowance(head); };
    // Nothing to wait for: never queued behind the handlers of a flood.
    options.answersAtOnce = [](const HTTPRequest& request) {
        return request.method == "GET" && request.routePath() == "/health";
    };
    // Sign-ins and reports wait for their slots on the workers, within those slots' bounds; a chat
    // waits on the model, and every other route is slow within the bounds of its own.
    options.workLane = [this](const HTTPRequest& request) {
        const std::string path = request.routePath();
        http::WorkLane lane;
        if (path == "/auth/v1/token" && queryValue(request, "grant_type") == "refresh_token") {
            // A lane of its own: a known session's refresh never waits behind strangers' guesses.
            lane = {.prompt = true, .key = "/auth/v1/token refresh", .maxRunning = kRefreshesAtOnce,
                    .maxWaiting = kWaitingForSlots, .refusal = signInsBusy()};
        } else if (path == "/auth/v1/token") {
            lane = {.prompt = true, .key = path, .maxRunning = options_.maxConcurrentHashes + options_.maxWaitingHashes,
                    .maxWaiting = kWaitingForSlots, .refusal = signInsBusy()};
        } else if (path == "/api/errors/report") {
            lane = {.prompt = true, .key = path,
                    .maxRunning = options_.maxConcurrentReports + options_.maxWaitingReports,
                    .maxWaiting = kWaitingForSlots, .refusal = reportsBusy()};
        } else if (path == "/auth/v1/logout") {
            lane.prompt = true;
        } else if (path == "/api/ai/chat") {
            lane = {.prompt = false, .key = path, .maxRunning = kChatsAtOnce, .maxWaiting = kChatsAtOnce,
                    .refusal = chatsBusy()};
        }
        return lane;
    };
    // Sign-in, refresh and small reports never wait behind uploads that hold the budget.
    options.unbudgetedBodyBytes = signedOutBodyBytes();
    // Web pages must not reach it: the same Host and Origin rules as the app's API.
    options.loopbackGuard = true;
    options.answers.badRequest = chatError(400, "Bad request");
    options.answers.headTooLarge = chatError(413, "Request head too large");
    options.answers.bodyTooLarge = chatError(413, "Request body too large");
    options.answers.internalError = chatError(500, "Internal error");
    options.answers.busy = chatError(503, "Too many uploads at once; try again shortly");
    options.answers.reasonPhrase = &reasonPhrase;
    return options;
}

BackendService::BackendService(BackendOptions options, std::unique_ptr<ChatModel> model, platform::Clock& clock)
    : options_(std::move(options)),
      model_(std::move(model)),
      clock_(clock),
      accounts_(options_.dataFolder, options_.passwordCost),
      tokens_(options_.dataFolder, accounts_, {options_.accessTokenLifetime, options_.refreshTokenLifetime}, clock),
      throttle_(options_.signInThrottle),
      hashSlots_(options_.maxConcurrentHashes, options_.maxWaitingHashes),
      reportSlots_(options_.maxConcurrentReports, options_.maxWaitingReports),
      reports_(options_.dataFolder, options_.reportQuotas, clock) {}

HTTPResponse BackendService::handle(const HTTPRequest& request) {
    const std::string path = request.routePath();
    struct Route {
        const char* path;
        HTTPResponse (BackendService::*handler)(const HTTPRequest&);
    };
    static constexpr Route routes[] = {{"/auth/v1/token", &BackendService::token},
                                       {"/auth/v1/logout", &BackendService::logout},
                                       {"/api/ai/chat", &BackendService::chat},
                                       {"/api/errors/report", &BackendService::errorReport}};
    if (path == "/health" && request.method == "GET") return jsonResponse(200, {{"ok", true}});
    for (const auto& route : routes) {
        if (path != route.path) continue;
        if (request.method != "POST") return chatError(405, "Method not allowed");
        HTTPResponse answer = [&] {
            try {
                return (this->*route.handler)(request);
            } catch (const SessionsNotStored& refused) {
                // Told why, as the app tells its user, rather than a bare "Internal error".
                return authError(500, "unexpected_failure", refused.what());
            }
        }();
        if (request.body.size() >= kTrimAfterBodyBytes) releaseFreedMemory();
        return answer;
    }
    return chatError(404, "Not found");
}

HTTPResponse BackendService::token(const HTTPRequest& request) {
    if (request.header("apikey") != options_.publishableKey) {
        return authError(401, "invalid_api_key", "Invalid API key");
    }
    if (request.body.size() > options_.maxTokenBodyBytes) {
        return authError(413, "request_too_large", "The request body is too large");
    }
    if (const auto problem = boundsProblem(request.body, "The request body")) {
        return authError(problem->first, "request_too_large", problem->second);
    }
    const auto body = parseBoundedObject(request.body);
    if (!body) return authError(400, "invalid_request", "The request body must be a JSON object");
    const std::string grant = queryValue(request, "grant_type");
    if (grant == "password") {
        const auto email = textMember(*body, "email");
        const auto password = textMember(*body, "password");
        if (!email || !password) return authError(400, "invalid_request", "Email and password are required");
        const std::string key = accountKey(*email);
        // The slot first: a sign-in turned away as busy is no failed guess.
        auto slot = hashSlots_.acquire(key);
        if (!slot) return signInsBusy();
        // Whether it exists decides only its line for a turn: it is answered as a wrong password either way.
        const bool known = accounts_.sessionStamp(*email).has_value();
        auto admission = throttle_.attempt(key, clock_.now(), known);
        if (!admission.ticket) {
            const auto wait = admission.wait.count();
            // The wait (whole seconds) in the header for HTTP clients and in the body for ours.
            HTTPResponse refused = jsonResponse(
                429, {{"error", "over_request_rate_limit"},
                      {"error_description", "Too many failed sign-ins. Try again in " + std::to_string(wait) + " s."},
                      {"retry_after", wait}});
            refused.headers = {{"Retry-After", std::to_string(wait)}};
            return refused;
        }
        // Unknown account and wrong password answer alike, so accounts cannot be probed.
        const auto account = accounts_.verify(*email, *password);
        slot.reset();  // storing the session needs no hash's memory
        if (!account) {
            admission.ticket->failed(clock_.now());
            return authError(400, "invalid_grant", "Invalid login credentials");
        }
        admission.ticket->succeeded();
        return jsonResponse(200, sessionJSON(tokens_.issue(*account), options_.accessTokenLifetime.count()));
    }
    if (grant == "refresh_token") {
        const auto refreshToken = textMember(*body, "refresh_token");
        if (!refreshToken || refreshToken->empty()) return authError(400, "invalid_request", "Refresh token required");
        const auto session = tokens_.refresh(*refreshToken);
        if (!session) return authError(400, "invalid_grant", "Invalid Refresh Token: Refresh Token Not Found");
        return jsonResponse(200, sessionJSON(*session, options_.accessTokenLifetime.count()));
    }
    return authError(400, "unsupported_grant_type", "grant_type must be password or refresh_token");
}

// Ends the session of the bearer's access token; the client's own copy of its tokens is its to drop.
HTTPResponse BackendService::logout(const HTTPRequest& request) {
    if (request.header("apikey") != options_.publishableKey) {
        return authError(401, "invalid_api_key", "Invalid API key");
    }
    const auto token = bearerToken(request);
    if (!token || !tokens_.signOut(*token)) {
        return authError(401, "invalid_token", "Invalid or expired access token");
    }
    return {204, "", ""};
}

std::optional<std::string> BackendService::bearerAccount(const HTTPRequest& request) const {
    const auto token = bearerToken(request);
    if (!token) return std::nullopt;
    return tokens_.verifyAccessToken(*token);
}

std::size_t BackendService::signedOutBodyBytes() const {
    return std::max(options_.maxTokenBodyBytes, reports_.quota(false).maxBodyBytes);
}

// The same limits and refusals as the routes apply to a body they have read, from the head alone.
// A body larger than a signed-out client may send needs a bearer token that checks out (its
// signature and its session): a made-up one must not hold the budget of large bodies.
http::BodyAllowance BackendService::bodyAllowance(const HTTPRequest& head) const {
    const std::string path = head.routePath();
    const bool bearer = bearerToken(head).has_value();
    const auto declared = readInteger(head.header("content-length").value_or("0"));
    const bool large = !declared || *declared > static_cast<std::int64_t>(signedOutBodyBytes());
    const auto account = bearer && large ? bearerAccount(head) : std::nullopt;
    const bool signedIn = bearer && (!large || account.has_value());
    // A large body counts against its account's share of the bodies in flight.
    const std::string holder = account ? accountKey(*account) : "";
    const auto limit = [](std::size_t bytes) { return static_cast<std::int64_t>(bytes); };
    if (head.method == "POST" && path == "/auth/v1/token") {
        return {limit(options_.maxTokenBodyBytes),
                authError(413, "request_too_large", "The request body is too large")};
    }
    if (head.method == "POST" && path == "/api/ai/chat") {
        if (!signedIn) return {0, chatError(401, "Not authenticated")};
        return {std::numeric_limits<std::int64_t>::max(), std::nullopt, holder};  // the server's own bound
    }
    if (head.method == "POST" && path == "/api/errors/report") {
        // A flood's refusal from its head, before its body is read or a handler taken: refusing
        // costs the other routes next to nothing.
        if (!bearer && reportSlots_.wouldRefuse(kSignedOutReports)) return {-1, reportsBusy()};
        const std::size_t bytes = reports_.quota(signedIn).maxBodyBytes;
        return {limit(bytes), chatError(413, "The report is larger than " + std::to_string(bytes) + " bytes"),
                holder};
    }
    return {limit(options_.maxTokenBodyBytes)};  // no other route reads a body
}

HTTPResponse BackendService::chat(const HTTPRequest& request) {
    if (!bearerAccount(request)) return chatError(401, "Not authenticated");
    if (const auto problem = boundsProblem(request.body, "The request body")) {
        return chatError(problem->first, problem->second);
    }
    const auto body = parseBoundedObject(request.body);
    if (!body) return chatError(400, "The request body must be a JSON object");
    if (const auto problem = chatBodyProblem(*body)) return chatError(400, *problem);
    const ChatReply reply = model_->answer(*body);
    return jsonResponse(reply.statusCode, reply.body);
}

HTTPResponse BackendService::errorReport(const HTTPRequest& request) {
    // Signed-out clients may report too, under tighter limits.
    const auto account = bearerAccount(request);
    const ReportQuota& quota = reports_.quota(account.has_value());
    if (request.body.size() > quota.maxBodyBytes) {
        return chatError(413, "The report is larger than " + std::to_string(quota.maxBodyBytes) + " bytes");
    }
    if (const auto problem = boundsProblem(request.body, "The report")) {
        return chatError(problem->first, problem->second);
    }
    // Before the parse, so that a flood's refusals cost little. Signed-out clients share one
    // place: an anonymous flood cannot keep an account's report out.
    const auto slot = reportSlots_.acquire(account ? "account " + accountKey(*account) : kSignedOutReports);
    if (!slot) return reportsBusy();
    auto body = parseBoundedObject(request.body);
    if (!body) return chatError(400, "The report must be a JSON object");
    const std::string id = makeUUID();
    (*body)["received_at"] = ISO8601::plainString(clock_.now());
    if (account) (*body)["account"] = *account;
    if (const auto failure = reports_.store(id, *body, account)) {
        return chatError(500, "The report could not be stored: " + *failure);
    }
    return jsonResponse(200, {{"ok", true}, {"id", id}});
}

}  // namespace corvane::backend
