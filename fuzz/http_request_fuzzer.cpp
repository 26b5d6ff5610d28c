// Feeds arbitrary bytes to the request parser of the HTTP server.
//
// Each input is parsed whole by parseRequest() and fed in pieces to RequestParser; after every
// piece the incremental status must equal the whole-buffer parse of the bytes fed so far, a
// final status must stay final, the head must be searched in linear time, and everything done
// with a parsed request afterwards (route, query, guard, answer, JSON) must hold its invariants.
// The limits and the cut points are taken from the end of the input, the request from its start.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/http_message.h"
#include "http/json_response.h"
#include "http/loopback_guard.h"
#include "support/unicode.h"

using namespace corvane::http;

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

bool isFinal(ParseStatus s) { return s != ParseStatus::incomplete; }

void checkRequest(const HTTPRequest& request, const RequestLimits& limits) {
    require(static_cast<std::int64_t>(request.body.size()) <= limits.maxBodyBytes);
    require(corvane::text::isValidUTF8(request.method) && corvane::text::isValidUTF8(request.path));
    const std::string route = request.routePath();
    require(request.path.compare(0, route.size(), route) == 0);
    require(route.find('?') == std::string::npos);
    for (const auto& [key, value] : request.queryParams()) require(!key.empty() && !value.empty());
    (void)isForbiddenRequest(request);
    if (request.host) (void)isLoopbackHost(*request.host);
    if (request.origin) (void)isLoopbackOrigin(*request.origin);

    const HTTPResponse echo{200, "text/plain", request.body};
    const std::string sent = serializeResponse(echo);
    const std::string lengthLine = "\r\nContent-Length: " + std::to_string(request.body.size()) + "\r\n";
    require(sent.find(lengthLine) != std::string::npos);
    require(sent.size() >= request.body.size() &&
            sent.compare(sent.size() - request.body.size(), std::string::npos, request.body) == 0);

    const auto json =
        jsonDictAnswer({{"path", request.path}, {"body", request.body}, {"host", request.host.value_or("")}});
    require(json.body == "{}" || nlohmann::json::accept(json.body));
    require(json.body != "{}" || !corvane::text::isValidUTF8(request.body) ||
            !corvane::text::isValidUTF8(request.host.value_or("")));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    RequestLimits limits;
    if (provider.ConsumeBool()) {  // small limits, to reach them often
        limits.maxHeadBytes = provider.ConsumeIntegralInRange<std::size_t>(0, 300);
        limits.maxBodyBytes = provider.ConsumeIntegralInRange<std::int64_t>(0, 200);
    }
    const std::size_t pieces = provider.ConsumeIntegralInRange<std::size_t>(1, 8);
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < pieces; ++i) cuts.push_back(provider.ConsumeIntegral<std::uint16_t>());
    const std::string bytes = provider.ConsumeRemainingBytesAsString();
    for (auto& cut : cuts) cut = bytes.empty() ? 0 : cut % (bytes.size() + 1);
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(bytes.size());

    const ParseResult whole = parseRequest(bytes, limits);
    require(whole.request.has_value() == (whole.status == ParseStatus::complete));

    RequestParser parser(limits);
    std::size_t from = 0;
    ParseStatus previous = ParseStatus::incomplete;
    for (std::size_t cut : cuts) {
        const ParseStatus now = parser.feed(std::string_view(bytes).substr(from, cut - from));
        from = cut;
        require(now == parser.status());
        if (isFinal(previous)) require(now == previous);
        const ParseResult prefix = parseRequest(std::string_view(bytes).substr(0, cut), limits);
        require(prefix.status == now);
        previous = now;
    }
    require(parser.status() == whole.status);
    require(parser.scannedBytes() <= bytes.size() + 3 * cuts.size());

    (void)percentDecode(bytes);
    (void)isLoopbackHost(bytes);
    (void)isLoopbackOrigin(bytes);

    if (whole.status == ParseStatus::complete) {
        const HTTPRequest incremental = parser.takeRequest();
        require(incremental == *whole.request);
        checkRequest(incremental, limits);
    }
    return 0;
}
