// Feeds arbitrary bytes to what corvane-backend reads from its clients: request bodies and
// bearer tokens.
//
// The first byte picks the reader. A body goes through the nesting check, the bounded parse and
// the chat checks, and its redaction must never leave the key in. A token goes to verifyJWT
// (never valid without the key) and to the token service as is; a payload is signed with the
// service's own key first, so the claim checks behind the signature are reached too, with "SID"
// standing for the live session's id and "NOW" for the current second.

#include <fuzzer/FuzzedDataProvider.h>
#include <sodium.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "backend/accounts.h"
#include "backend/jwt.h"
#include "backend/request_checks.h"
#include "platform/clock.h"
#include "support/files.h"

using namespace corvane::backend;
namespace fs = std::filesystem;

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

class FixedClock final : public corvane::platform::Clock {
public:
    TimePoint now() override { return TimePoint{std::chrono::seconds{1796225040}}; }
    void sleep(std::chrono::duration<double>) override {}
};

constexpr const char* kKey = "sk-fuzz-0123456789abcdefghij";

struct Service {
    FixedClock clock;
    fs::path folder;
    std::unique_ptr<AccountStore> accounts;
    std::unique_ptr<TokenService> tokens;
    std::string secret;
    std::string sessionID;

    Service() {
        char pattern[] = "/tmp/backend-fuzz-XXXXXX";
        folder = ::mkdtemp(pattern);
        accounts = std::make_unique<AccountStore>(folder, PasswordCost::minimum());
        require(accounts->addUser("mix@example.com", "secret"));
        tokens = std::make_unique<TokenService>(folder, *accounts, TokenLifetimes{}, clock);
        const Session session = tokens->issue("mix@example.com");
        require(tokens->verifyAccessToken(session.accessToken) == "mix@example.com");
        std::string hexText = corvane::readFile(folder / "jwt-secret").bytes;
        secret.resize(crypto_auth_hmacsha256_KEYBYTES);
        require(sodium_hex2bin(reinterpret_cast<unsigned char*>(secret.data()), secret.size(), hexText.data(),
                               hexText.size(), "\n", nullptr, nullptr) == 0);
        const auto first = session.accessToken.find('.');
        const auto claims = nlohmann::json::parse(*base64URLDecode(
            session.accessToken.substr(first + 1, session.accessToken.rfind('.') - first - 1)));
        sessionID = claims["session_id"];
    }
    ~Service() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

Service& service() {
    static Service instance;
    return instance;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

std::string signedToken(std::string_view header, std::string_view payload, const std::string& key) {
    const std::string input = base64URLEncode(header) + "." + base64URLEncode(payload);
    unsigned char mac[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256(mac, reinterpret_cast<const unsigned char*>(input.data()), input.size(),
                           reinterpret_cast<const unsigned char*>(key.data()));
    return input + "." + base64URLEncode(std::string_view(reinterpret_cast<const char*>(mac), sizeof mac));
}

void body(const std::string& bytes) {
    const bool within = nestsWithin(bytes);
    const auto parsed = parseBoundedObject(bytes);
    if (!within) require(!parsed);
    if (parsed) {
        (void)chatBodyProblem(*parsed);
        const std::string written = parsed->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        require(nestsWithin(written));
        const nlohmann::json redacted = redactSecretsIn(*parsed, kKey);
        require(redacted.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).find(kKey) ==
                std::string::npos);
    }
    require(redactSecrets(bytes, kKey).find(kKey) == std::string::npos);
}

void token(const std::string& bytes) {
    Service& s = service();
    require(!verifyJWT(bytes, s.secret) || bytes.find('.') != std::string::npos);
    (void)s.tokens->verifyAccessToken(bytes);
    const auto decoded = base64URLDecode(bytes);
    if (decoded) (void)base64URLEncode(*decoded);
    require(base64URLDecode(base64URLEncode(bytes)) == bytes);
}

void signedPayload(std::string payload, bool ownHeader, const std::string& header) {
    Service& s = service();
    replaceAll(payload, "SID", s.sessionID);
    replaceAll(payload, "NOW", std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                                  s.clock.now().time_since_epoch())
                                                  .count()));
    const std::string jwt = signedToken(ownHeader ? header : R"({"alg":"HS256","typ":"JWT"})", payload, s.secret);
    const auto claims = verifyJWT(jwt, s.secret);
    if (!ownHeader) require(claims.has_value() == parseBoundedObject(payload).has_value());
    const auto email = s.tokens->verifyAccessToken(jwt);
    if (email) require(*email == "mix@example.com");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    FuzzedDataProvider input(data + 1, size - 1);
    switch (data[0] % 4) {
        case 0: body(input.ConsumeRemainingBytesAsString()); break;
        case 1: token(input.ConsumeRemainingBytesAsString()); break;
        case 2: signedPayload(input.ConsumeRemainingBytesAsString(), false, ""); break;
        default: {
            const std::string header = input.ConsumeRandomLengthString(256);
            signedPayload(input.ConsumeRemainingBytesAsString(), true, header);
        }
    }
    return 0;
}
