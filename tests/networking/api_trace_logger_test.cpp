#include "networking/api_trace_logger.h"

#include <gtest/gtest.h>

namespace corvane::networking {
namespace {

using nlohmann::json;

TEST(APITraceLogger, RedactsCredentialsAndImagesAndCutsLongTexts) {
    const std::string image = "data:image/png;base64," + std::string(20000, 'A') + "==";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"Authorization" : "Bearer abc.def"})", R"({"Authorization":"<redacted>"})"},
        {"token Bearer eyJ.abc-_x9 end", "token Bearer <redacted> end"},
        {"see " + image + " there", "see data:image/...;base64,<redacted> there"},
        {std::string(8000, 'x'), std::string(8000, 'x')},
        {std::string(8001, 'x'), std::string(8000, 'x') + "\n... <truncated>"},
        {std::string(7999, 'x') + "\u00E9\u00E9", std::string(7999, 'x') + "\u00E9\n... <truncated>"},
    };
    for (const auto& [raw, logged] : cases) EXPECT_EQ(APITraceLogger::sanitize(raw), logged) << raw.substr(0, 40);
}

TEST(APITraceLogger, RequestBlockRedactsTheHeaderInAnyCaseAndIndentsThePrettyBody) {
    const json body = {
        {"input", json::array({{{"type", "input_image"}, {"image_url", "data:image/jpeg;base64,/9j/AAAA"}}})}};
    const std::string block = APITraceLogger::requestBlock("API Proxy", "http://127.0.0.1:1/api/ai/chat",
                                                           {{"authorization", "Bearer secret"}, {"X-A", "1"}}, body);
    EXPECT_EQ(block,
              "[API] API Proxy request\n"
              "  POST http://127.0.0.1:1/api/ai/chat\n"
              "  headers: [\"X-A\": \"1\", \"authorization\": \"<redacted>\"]\n"
              "  body:\n"
              "    {\n"
              "      \"input\": [\n"
              "        {\n"
              "          \"image_url\": \"data:image/...;base64,<redacted>\",\n"
              "          \"type\": \"input_image\"\n"
              "        }\n"
              "      ]\n"
              "    }");
    EXPECT_EQ(APITraceLogger::requestBlock("L", "u", {}, json("text")), "[API] L request\n  POST u");
}

TEST(APITraceLogger, ResponseBlockShowsOnlyBodiesThatAreNonEmptyUTF8) {
    EXPECT_EQ(APITraceLogger::responseBlock("L", "u", 200, std::string("a\r\nb")),
              "[API] L response\n  u\n  status: 200\n  body:\n    a\n    \n    b");
    EXPECT_EQ(APITraceLogger::responseBlock("L", "u", 500, std::string()), "[API] L response\n  u\n  status: 500");
    EXPECT_EQ(APITraceLogger::responseBlock("L", "u", std::nullopt, std::string("\xff")), "[API] L response\n  u");
}

}  // namespace
}  // namespace corvane::networking
