#include "http/json_response.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::http {
namespace {

using Json = nlohmann::json;

struct Health {
    std::string appName;
    int serverPort = 0;
    double level = 0;
};
void to_json(Json& j, const Health& h) {
    j = Json{{"serverPort", h.serverPort}, {"appName", h.appName}, {"level", h.level}};
}

struct Unencodable {};
void to_json(Json&, const Unencodable&) { throw std::runtime_error("cannot encode"); }

TEST(JsonResponse, WriteSortedIndentedKeysWithEscapedSlashes) {
    const auto answer = jsonDictAnswer(Json{{"path", "/a/b"}, {"b", 1}, {"a/key", true}});
    EXPECT_EQ(answer.statusCode, 200);
    EXPECT_EQ(answer.contentType, "application/json");
    EXPECT_EQ(answer.body, "{\n  \"a\\/key\": true,\n  \"b\": 1,\n  \"path\": \"\\/a\\/b\"\n}");
    // The escaped text still reads back as the same value.
    EXPECT_EQ(Json::parse(answer.body)["path"], "/a/b");

    EXPECT_EQ(jsonAnswer(Health{"Corvane", 51234, 0.5}).body,
              "{\n  \"appName\": \"Corvane\",\n  \"level\": 0.5,\n  \"serverPort\": 51234\n}");
    EXPECT_EQ(jsonAnswer(std::vector<int>{1, 2}, 404), (HTTPResponse{404, "application/json", "[\n  1,\n  2\n]"}));
    EXPECT_EQ(jsonArrayAnswer(Json::array({{{"k", "v"}}})).body, "[\n  {\n    \"k\": \"v\"\n  }\n]");
}

TEST(JsonResponse, FallBackToEmptyBodiesWithTheCallersStatus) {
    const std::string invalidUtf8 = "\xff\xfe";
    const struct {
        HTTPResponse answer;
        std::string body;
    } cases[] = {
        {jsonDictAnswer(Json{{"x", invalidUtf8}}, 201), "{}"},
        {jsonDictAnswer(Json::array(), 201), "{}"},
        {jsonArrayAnswer(Json::array({Json{{"x", invalidUtf8}}}), 201), "[]"},
        {jsonArrayAnswer(Json::array({1, 2}), 201), "[]"},
        {jsonArrayAnswer(Json::object(), 201), "[]"},
        {jsonAnswer(Json{{"x", invalidUtf8}}, 201), "{}"},
        {jsonAnswer(Health{"bad \xff text", 1, 0}, 201), "{}"},
        {jsonAnswer(std::string("\xc3"), 201), "{}"},
        {jsonAnswer(Unencodable{}, 201), "{}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.answer.body, c.body);
        EXPECT_EQ(c.answer.statusCode, 201);
        EXPECT_EQ(c.answer.contentType, "application/json");
    }
    EXPECT_EQ(jsonArrayAnswer(Json::array()).body, "[]");
}

TEST(JsonResponse, NaNAndInfinityBecomeNull) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(jsonAnswer(Health{"x", 1, nan}).body,
              "{\n  \"appName\": \"x\",\n  \"level\": null,\n  \"serverPort\": 1\n}");
    EXPECT_EQ(jsonDictAnswer({{"a", inf}, {"b", -inf}}).body, "{\n  \"a\": null,\n  \"b\": null\n}");
    EXPECT_EQ(jsonArrayAnswer(Json::array({{{"v", nan}}})).body, "[\n  {\n    \"v\": null\n  }\n]");
    // And the output always parses back.
    EXPECT_TRUE(Json::accept(jsonDictAnswer({{"a", inf}}).body));
}

}  // namespace
}  // namespace corvane::http
