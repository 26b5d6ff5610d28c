#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "http/http_message.h"
#include "support/unicode.h"

namespace corvane::http {
namespace {

using Params = std::map<std::string, std::string>;

HTTPRequest mustParse(std::string_view bytes, RequestLimits limits = {}) {
    auto result = parseRequest(bytes, limits);
    EXPECT_EQ(result.status, ParseStatus::complete) << bytes;
    return result.request.value_or(HTTPRequest{});
}

ParseStatus statusOf(std::string_view bytes, RequestLimits limits = {}) { return parseRequest(bytes, limits).status; }

// ---------------------------------------------------------------------------------------------
// Parsing

TEST(HTTPMessage, ParseRequestReadsMethodPathHostAndBody) {
    auto r = mustParse("post /analysis?x=1 HTTP/1.1\r\nHost: \t127.0.0.1:51234 \r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(r.method, "post");  // case kept
    EXPECT_EQ(r.path, "/analysis?x=1");
    EXPECT_EQ(r.host, "127.0.0.1:51234");
    EXPECT_EQ(r.body, "hello");
    EXPECT_FALSE(r.origin.has_value());
    EXPECT_FALSE(r.secFetchSite.has_value());
}

// A line feed without its carriage return never ends a line: the head is refused as soon as one
// arrives, rather than waiting for a blank line its sender will never send.
TEST(HTTPMessage, ParseRequestNoRequestWithoutTheBlankLineAndABareLineFeedIsABadRequestAtOnce) {
    EXPECT_EQ(statusOf(""), ParseStatus::incomplete);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nHost: localhost\r\n"), ParseStatus::incomplete);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\n\r\n"), ParseStatus::complete);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\n\r\nbody\n"), ParseStatus::complete);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\n"), ParseStatus::badRequest);
    EXPECT_EQ(statusOf("\n"), ParseStatus::badRequest);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\nHost: localhost\n\n"), ParseStatus::badRequest);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nX: a\nb\r\n\r\n"), ParseStatus::badRequest);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\n\n"), ParseStatus::badRequest);
}

TEST(HTTPMessage, ParseRequestAWholeHeadThatIsNotUTF8OrHasNoTargetIsABadRequest) {
    EXPECT_EQ(statusOf("GET /\xff HTTP/1.1\r\n\r\n"), ParseStatus::badRequest);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nX: \xc0\xaf\r\n\r\n"), ParseStatus::badRequest);  // overlong
    EXPECT_EQ(statusOf("GET\r\n\r\n"), ParseStatus::badRequest);
    EXPECT_EQ(statusOf("\r\n\r\n"), ParseStatus::badRequest);
    EXPECT_EQ(statusOf("GET\r\n"), ParseStatus::incomplete);  // not whole yet
    // Non-ASCII UTF-8 is fine.
    EXPECT_EQ(mustParse("GET /caf\xc3\xa9 HTTP/1.1\r\n\r\n").path, "/caf\xc3\xa9");
}

TEST(HTTPMessage, ParseRequestSplitsTheRequestLineAtEverySingleSpace) {
    EXPECT_EQ(mustParse("GET  /x HTTP/1.1\r\n\r\n").path, "");  // two spaces: empty path
    auto bare = mustParse("GET /only\r\n\r\n");                 // the version is not needed
    EXPECT_EQ(bare.method, "GET");
    EXPECT_EQ(bare.path, "/only");
    EXPECT_EQ(mustParse("GET / extra words\r\n\r\n").path, "/");
    auto leading = mustParse(" GET /\r\n\r\n");
    EXPECT_EQ(leading.method, "");
    EXPECT_EQ(leading.path, "GET");
}

TEST(HTTPMessage, ParseRequestHeaderLinesSplitAtTheFirstColonOnly) {
    auto r = mustParse("GET / HTTP/1.1\r\nHost: [::1]:51234\r\n\r\n");
    EXPECT_EQ(r.host, "[::1]:51234");
    // A line without ":" and one whose name or value is empty are skipped.
    r = mustParse("GET / HTTP/1.1\r\nHost\r\n: localhost\r\nHost:\r\n\r\n");
    EXPECT_FALSE(r.host.has_value());
    // A value of blanks only is not empty before trimming: the Host is present and empty.
    r = mustParse("GET / HTTP/1.1\r\nHost: \t \r\n\r\n");
    EXPECT_EQ(r.host, "");
    // A bare LF is no line break: a Host behind one is never read, nor the line before it.
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nX-A: 1\nHost: evil\r\n\r\n"), ParseStatus::badRequest);
}

TEST(HTTPMessage, ParseRequestTheLastHostLineWinsAndRepeatedContentLengthsMustAgree) {
    auto r = mustParse(
        "GET / HTTP/1.1\r\nHost: evil.com\r\nHOST: localhost\r\nContent-Length: 2\r\n"
        "content-length: 2\r\n\r\nabcdef");
    EXPECT_EQ(r.host, "localhost");
    EXPECT_EQ(r.body, "ab");
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 9\r\nContent-Length: 2\r\n\r\nabcdefghi"),
              ParseStatus::badRequest);
    // An empty Host line does not replace an earlier one.
    r = mustParse("GET / HTTP/1.1\r\nHost: localhost\r\nHost:\r\n\r\n");
    EXPECT_EQ(r.host, "localhost");
}

TEST(HTTPMessage, ParseRequestContentLengthNameIgnoresCaseButNotASpaceBeforeTheColon) {
    EXPECT_EQ(mustParse("POST / HTTP/1.1\r\ncOnTeNt-LeNgTh: 3\r\n\r\nabc").body, "abc");
    EXPECT_EQ(mustParse("POST / HTTP/1.1\r\nContent-Length : 3\r\n\r\nabc").body, "");
}

TEST(HTTPMessage, ParseRequestContentLengthValues) {
    const auto body = [](std::string value) {
        return mustParse("POST / HTTP/1.1\r\nContent-Length:" + value + "\r\n\r\n0123456789").body;
    };
    EXPECT_EQ(body(" 4"), "0123");
    EXPECT_EQ(body("\t 04 \t"), "0123");
    EXPECT_EQ(body(""), "");  // nothing after the colon: as if there were no such line
    // Missing: the body is empty and trailing bytes are ignored.
    EXPECT_EQ(mustParse("POST / HTTP/1.1\r\n\r\nignored").body, "");
    // Anything but plain digits cannot be read correctly: refused rather than guessed.
    for (std::string value : {"+4", "-0", "-1", "  ", "4x", "0x4", "4 4", "4,4", "+", "\xd9\xa3"}) {
        EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length:" + value + "\r\n\r\n0123456789"),
                  ParseStatus::badRequest)
            << value;
    }
}

TEST(HTTPMessage, ParseRequestAnyTransferEncodingIsABadRequest) {
    for (std::string header : {"Transfer-Encoding: chunked", "transfer-encoding: identity",
                               "Transfer-Encoding:", "Content-Length: 4\r\nTransfer-Encoding: chunked",
                               "Transfer-Encoding : chunked", "Content-Length: 4\r\nTransfer-Encoding\t: chunked"}) {
        EXPECT_EQ(statusOf("POST / HTTP/1.1\r\n" + header + "\r\n\r\n4\r\nabcd\r\n0\r\n\r\n"), ParseStatus::badRequest)
            << header;
    }
}

TEST(HTTPMessage, RequestParserTellsAHeadExpectingContinueBeforeTheBody) {
    RequestParser parser;
    parser.feed("POST / HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 2\r\n\r\n");
    EXPECT_TRUE(parser.headComplete());
    EXPECT_TRUE(parser.expectsContinue());
    EXPECT_EQ(parser.status(), ParseStatus::incomplete);
    RequestParser plain;
    plain.feed("POST / HTTP/1.1\r\nContent-Length: 2\r\n");
    EXPECT_FALSE(plain.headComplete());
    plain.feed("\r\n");
    EXPECT_TRUE(plain.headComplete());
    EXPECT_FALSE(plain.expectsContinue());
}

TEST(HTTPMessage, ParseRequestBodyIsCutToContentLengthAndWaitsForTheRest) {
    EXPECT_EQ(mustParse("POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcdef").body, "abc");
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nab"), ParseStatus::incomplete);
    // Content-Length counts bytes: a two-byte character counts twice.
    EXPECT_EQ(mustParse("POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\n\xc3\xa9!").body, "\xc3\xa9");
    // The body is bytes: anything goes, including CR LF CR LF and NUL.
    std::string binary("\r\n\r\n\0\xff", 6);
    EXPECT_EQ(mustParse("POST / HTTP/1.1\r\nContent-Length: 6\r\n\r\n" + binary).body, binary);
}

TEST(HTTPMessage, ParseRequestLimitsRefuseLongHeadsAndLargeBodies) {
    RequestLimits limits{.maxHeadBytes = 32, .maxBodyBytes = 10};
    const std::string head32 = "GET /" + std::string(7, 'a') + " HTTP/1.1\r\nA: 12\r\n\r\n";
    ASSERT_EQ(head32.size(), 32u);
    EXPECT_EQ(statusOf(head32, limits), ParseStatus::complete);
    const std::string head33 = "GET /" + std::string(8, 'a') + " HTTP/1.1\r\nA: 12\r\n\r\n";
    EXPECT_EQ(statusOf(head33, limits), ParseStatus::headTooLarge);
    // Without its blank line: refused as soon as it cannot fit any more.
    EXPECT_EQ(statusOf(std::string(31, 'a'), limits), ParseStatus::incomplete);
    EXPECT_EQ(statusOf(std::string(32, 'a'), limits), ParseStatus::headTooLarge);

    const auto withLength = [&](std::string value) {
        return statusOf("POST / HTTP/1.1\r\nContent-Length: " + value + "\r\n\r\n", {.maxBodyBytes = 10});
    };
    EXPECT_EQ(withLength("10"), ParseStatus::incomplete);
    EXPECT_EQ(withLength("11"), ParseStatus::bodyTooLarge);
    EXPECT_EQ(withLength("99999999999999999999999"), ParseStatus::bodyTooLarge);  // overflow
    // Decided on the head alone, before any body byte.
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 17000000\r\n\r\n"), ParseStatus::bodyTooLarge);
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 16777216\r\n\r\n"), ParseStatus::incomplete);
}

TEST(HTTPMessage, ParseRequestKeepsOriginAndSecFetchSite) {
    auto r = mustParse("GET / HTTP/1.1\r\norigin: http://evil.com\r\nSEC-FETCH-SITE: cross-site\r\n\r\n");
    EXPECT_EQ(r.origin, "http://evil.com");
    EXPECT_EQ(r.secFetchSite, "cross-site");
}

TEST(HTTPMessage, ParseRequestKeepsEveryHeaderByItsLowerCasedNameAndTheLastLineWins) {
    auto r = mustParse(
        "POST / HTTP/1.1\r\nAuthorization: Bearer old\r\nAUTHORIZATION: \tBearer new \r\napikey:k\r\n"
        "X-Empty:\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(r.header("authorization"), "Bearer new");
    EXPECT_EQ(r.header("apikey"), "k");
    EXPECT_EQ(r.header("content-length"), "0");
    EXPECT_EQ(r.header("x-empty"), std::nullopt);  // nothing after the colon
    EXPECT_EQ(r.header("Authorization"), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// The incremental parser

ParseResult feedInPieces(std::string_view bytes, const std::vector<std::size_t>& cuts, RequestLimits limits) {
    RequestParser parser(limits);
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        parser.feed(bytes.substr(from, cut - from));
        from = cut;
    }
    parser.feed(bytes.substr(from));
    ParseResult result{parser.status(), std::nullopt};
    if (result.status == ParseStatus::complete) result.request = parser.takeRequest();
    return result;
}

TEST(HTTPMessage, RequestParserAgreesWithTheWholeBufferParseForEverySplit) {
    const std::vector<std::string> samples = {
        "POST /a?b=c HTTP/1.1\r\nHost: localhost\r\nContent-Length: 4\r\n\r\nbody-and-more",
        "GET / HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\nHost: x\n\n",
        "GET / HTTP/1.1\r\nX: a\nb\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\n\n\n\n",
        std::string(62, 'y') + "\r\n\n",
        "GET /\xff HTTP/1.1\r\n\r\nContent-Length: 3\r\n\r\nabc",
        "POST / HTTP/1.1\r\nContent-Length: 20\r\n\r\nshort",
        "POST / HTTP/1.1\r\nContent-Length: 40\r\n\r\nshort",
        "POST / HTTP/1.1\r\nContent-Length: -4\r\n\r\n",
        "GET /" + std::string(40, 'x') + " HTTP/1.1\r\n\r\n",
        "GET /" + std::string(60, 'x') + " HTTP/1.1\r\n\r\n",
        std::string(70, 'y'),
    };
    const RequestLimits limits{.maxHeadBytes = 64, .maxBodyBytes = 30};
    for (const auto& sample : samples) {
        const auto whole = parseRequest(sample, limits);
        for (std::size_t a = 0; a <= sample.size(); ++a) {
            for (std::size_t b = a; b <= sample.size(); b += 3) {
                const auto pieces = feedInPieces(sample, {a, b}, limits);
                ASSERT_EQ(pieces.status, whole.status) << sample << " cut at " << a << "," << b;
                ASSERT_EQ(pieces.request, whole.request) << sample << " cut at " << a << "," << b;
            }
        }
    }
}

TEST(HTTPMessage, RequestParserFindsTheBlankLineSplitAcrossReceives) {
    RequestParser parser;
    EXPECT_EQ(parser.feed("GET /x HTTP/1.1\r"), ParseStatus::incomplete);
    EXPECT_EQ(parser.feed("\n"), ParseStatus::incomplete);
    EXPECT_EQ(parser.feed("\r"), ParseStatus::incomplete);
    EXPECT_EQ(parser.feed("\n"), ParseStatus::complete);
    EXPECT_EQ(parser.takeRequest().path, "/x");
    EXPECT_EQ(parser.feed("more"), ParseStatus::complete);  // a final status stays
}

TEST(HTTPMessage, RequestParserDoesNotRescanTheBufferOnEveryReceive) {
    RequestParser parser;
    // A long head arriving a byte at a time is examined in linear, not quadratic, time.
    std::string head = "GET / HTTP/1.1\r\nX-Pad: " + std::string(20000, 'p') + "\r\nContent-Length: 100000\r\n\r\n";
    for (char c : head) parser.feed(std::string_view(&c, 1));
    EXPECT_LE(parser.scannedBytes(), 4 * head.size());
    // Body bytes are never searched.
    const std::size_t afterHead = parser.scannedBytes();
    for (int i = 0; i < 1000; ++i) parser.feed(std::string(100, 'b'));
    EXPECT_EQ(parser.scannedBytes(), afterHead);
    ASSERT_EQ(parser.status(), ParseStatus::complete);
    EXPECT_EQ(parser.takeRequest().body.size(), 100000u);
}

// ---------------------------------------------------------------------------------------------
// routePath and queryParams

HTTPRequest requestFor(std::string path) { return HTTPRequest{"GET", std::move(path), std::nullopt, ""}; }

TEST(HTTPMessage, QueryDesignExamples) {
    auto r = requestFor("/test/snapshot?tracks=Kick%20In,Snare");
    EXPECT_EQ(r.routePath(), "/test/snapshot");
    EXPECT_EQ(r.queryParams(), (Params{{"tracks", "Kick In,Snare"}}));
    EXPECT_EQ(requestFor("/?a=1&a=2").queryParams(), (Params{{"a", "2"}}));
    EXPECT_EQ(requestFor("/?x=%ZZ").queryParams(), (Params{{"x", "%ZZ"}}));
    EXPECT_EQ(requestFor("/?q=a+b").queryParams(), (Params{{"q", "a+b"}}));
}

TEST(HTTPMessage, QueryPiecesAndParts) {
    EXPECT_EQ(requestFor("/health").routePath(), "/health");
    EXPECT_TRUE(requestFor("/health").queryParams().empty());
    EXPECT_EQ(requestFor("/a?b?c=d").routePath(), "/a");
    EXPECT_EQ(requestFor("/a?b?c=d").queryParams(), (Params{{"b?c", "d"}}));
    EXPECT_TRUE(requestFor("/?").queryParams().empty());
    EXPECT_EQ(requestFor("/?a=b=c").queryParams(), (Params{{"a", "b=c"}}));
    EXPECT_TRUE(requestFor("/?a&a=&=b&&").queryParams().empty());
    EXPECT_EQ(requestFor("/?&&k=v&&").queryParams(), (Params{{"k", "v"}}));
    EXPECT_TRUE(requestFor("/?=a=b").queryParams().empty());
    EXPECT_EQ(requestFor("/?%6B%65y=%C3%A9").queryParams(), (Params{{"key", "\xc3\xa9"}}));
    // Failed decoding keeps the text as written, key and value separately.
    EXPECT_EQ(requestFor("/?%FF=%2").queryParams(), (Params{{"%FF", "%2"}}));
    EXPECT_EQ(requestFor("/?k%=v%41").queryParams(), (Params{{"k%", "vA"}}));
}

TEST(HTTPMessage, QueryPercentDecode) {
    EXPECT_EQ(percentDecode("a%20b"), "a b");
    EXPECT_EQ(percentDecode("%2f%2F"), "//");
    EXPECT_EQ(percentDecode("a+b"), "a+b");
    EXPECT_EQ(percentDecode(""), "");
    EXPECT_EQ(percentDecode("%00"), std::string(1, '\0'));
    EXPECT_FALSE(percentDecode("%").has_value());
    EXPECT_FALSE(percentDecode("%4").has_value());
    EXPECT_FALSE(percentDecode("%G1").has_value());
    EXPECT_FALSE(percentDecode("%C3").has_value());        // not UTF-8 once decoded
    EXPECT_FALSE(percentDecode("%ED%A0%80").has_value());  // a surrogate
}

// ---------------------------------------------------------------------------------------------
// Answers

TEST(HTTPMessage, ResponseReasonPhrases) {
    // Every status its own phrase: an error never goes out named "OK".
    for (const auto& [status, phrase] : std::vector<std::pair<int, std::string>>{{400, "Bad Request"},
                                                                                 {403, "Forbidden"},
                                                                                 {404, "Not Found"},
                                                                                 {413, "Payload Too Large"},
                                                                                 {500, "Internal Server Error"},
                                                                                 {200, "OK"},
                                                                                 {201, "Created"},
                                                                                 {401, "Unauthorized"},
                                                                                 {429, "Too Many Requests"},
                                                                                 {503, "Service Unavailable"},
                                                                                 {418, "Client Error"},
                                                                                 {599, "Server Error"}})
        EXPECT_EQ(reasonPhrase(status), phrase) << status;
    for (int other : {0, -1, 99, 600}) EXPECT_EQ(reasonPhrase(other), "Status") << other;
}

TEST(HTTPMessage, ResponseSerialisedHeadAndByteCountedLength) {
    EXPECT_EQ(serializeResponse({200, "text/plain", "h\xc3\xa9llo"}),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n"
              "Connection: close\r\n\r\nh\xc3\xa9llo");
    EXPECT_EQ(serializeResponse({404, "application/json", ""}),
              "HTTP/1.1 404 Not Found\r\nContent-Type: application/json\r\nContent-Length: 0\r\n"
              "Connection: close\r\n\r\n");
    // A 204 announces no content at all: a client may not accept a Content-Length on it.
    EXPECT_EQ(serializeResponse({204, "application/json", "x", {{"X-Y", "z"}}}),
              "HTTP/1.1 204 No Content\r\nConnection: close\r\nX-Y: z\r\n\r\n");
    // A content type cannot smuggle header lines in.
    EXPECT_EQ(serializeResponse({201, "text/plain\r\nSet-Cookie: x", "x"}),
              "HTTP/1.1 201 Created\r\nContent-Type: text/plainSet-Cookie: x\r\nContent-Length: 1\r\n"
              "Connection: close\r\n\r\nx");
    // Further headers follow the fixed ones; neither a name nor a value can add a line of its own.
    EXPECT_EQ(serializeResponse({429,
                                 "text/plain",
                                 "",
                                 {{"Retry-After", "4\r\nSet-Cookie: x"}, {"Bad Name", "x"}, {"X:Y", "x"}, {"", "x"}}}),
              "HTTP/1.1 429 Too Many Requests\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n"
              "Connection: close\r\nRetry-After: 4Set-Cookie: x\r\n\r\n");
}

TEST(HTTPMessage, ResponseCannedAnswers) {
    EXPECT_EQ(badRequestResponse(), (HTTPResponse{400, "text/plain", "Bad Request"}));
    EXPECT_EQ(payloadTooLargeResponse(), (HTTPResponse{413, "text/plain", "Payload Too Large"}));
    EXPECT_EQ(internalErrorResponse(), (HTTPResponse{500, "text/plain", "Internal Server Error"}));
}

}  // namespace
}  // namespace corvane::http
