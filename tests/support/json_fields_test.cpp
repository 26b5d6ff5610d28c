#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "support/json_fields.h"

namespace corvane {
namespace {

using nlohmann::json;
namespace jf = json_fields;

enum class Shade { light, dark };

std::optional<Shade> shadeFromString(const std::string& text) {
    if (text == "light") return Shade::light;
    if (text == "dark") return Shade::dark;
    return std::nullopt;
}

struct Swatch {
    Shade shade = Shade::light;
    std::vector<std::int64_t> rgb;
};

void from_json(const json& j, Swatch& v) {
    v.shade = jf::enumeration(jf::required(j, "shade"), "shade", shadeFromString);
    v.rgb = jf::integerList(j, "rgb");
}

// Whether reading throws exactly the one decode error type (never nlohmann's own exceptions).
template <class Read>
std::optional<bool> throwsDecodeError(Read read) {
    try {
        read();
        return std::nullopt;
    } catch (const jf::DecodeError&) {
        return true;
    } catch (...) {
        return false;
    }
}

TEST(JsonFields, IntegersAreWholeNumbersInRangeAndNothingElse) {
    struct Case {
        json value;
        std::optional<std::int64_t> expected;  // absent: DecodeError
    };
    const Case cases[] = {
        {3, 3},
        {3.0, 3},
        {-9223372036854775808.0, INT64_MIN},
        {3.5, std::nullopt},
        {true, std::nullopt},
        {"3", std::nullopt},
        {9223372036854775808ULL, std::nullopt},  // 2^63, one past INT64_MAX
        {9223372036854775808.0, std::nullopt},
        {1e300, std::nullopt},
    };
    for (const auto& c : cases) {
        const json object = {{"n", c.value}};
        if (c.expected) {
            EXPECT_EQ(jf::integer(object, "n"), *c.expected) << c.value;
        } else {
            EXPECT_EQ(throwsDecodeError([&] { jf::integer(object, "n"); }), true) << c.value;
        }
    }
    EXPECT_EQ(throwsDecodeError([] { jf::integer({{"n", 70000}}, "n", 0, 65535); }), true);
    EXPECT_EQ(jf::integerOf<std::uint16_t>({{"n", 65535.0}}, "n"), 65535);
    EXPECT_EQ(throwsDecodeError([] { jf::integerOf<std::uint16_t>({{"n", -1}}, "n"); }), true);
    EXPECT_EQ(throwsDecodeError([] { jf::optionalIntegerOf<std::int32_t>({{"n", 2147483648LL}}, "n"); }), true);
    EXPECT_EQ(jf::optionalInteger({{"n", nullptr}}, "n"), std::nullopt);
    EXPECT_EQ(throwsDecodeError([] { jf::optionalInteger({{"n", 1.5}}, "n"); }), true);
}

TEST(JsonFields, EveryMalformedDocumentThrowsTheOneDecodeError) {
    using Read = void (*)();
    const std::pair<const char*, Read> cases[] = {
        {"no JSON at all", [] { jf::decode<Swatch>("{shade"); }},
        {"list where an object belongs", [] { jf::decode<std::map<std::string, Swatch>>("[]"); }},
        {"object where a list belongs", [] { jf::decode<std::vector<Swatch>>("{}"); }},
        {"element of a list mistyped", [] { jf::decode<std::vector<Swatch>>(R"([{"shade":"dark","rgb":[1.5]}])"); }},
        {"boolean as an integer element", [] { jf::decode<Swatch>(R"({"shade":"dark","rgb":[true]})"); }},
        {"enumeration text in another case", [] { jf::decode<Swatch>(R"({"shade":"Dark","rgb":[]})"); }},
        {"enumeration as a number", [] { jf::decode<Swatch>(R"({"shade":1,"rgb":[]})"); }},
        {"required key missing", [] { jf::text(json::object(), "name"); }},
        {"optional key mistyped",
         [] {
             jf::optionalText({{"name", 1}}, "name");
         }},
        {"fields of no object", [] { jf::optionalText(json::array(), "name"); }},
    };
    for (const auto& [name, read] : cases) EXPECT_EQ(throwsDecodeError(read), true) << name;
    auto swatch = jf::decode<Swatch>(R"({"shade":"dark","rgb":[1,2.0,3]})");
    EXPECT_EQ(swatch.shade, Shade::dark);
    EXPECT_EQ(swatch.rgb, (std::vector<std::int64_t>{1, 2, 3}));
}

TEST(JsonFields, NestedFailureNamesTheKeysOnTheWayDown) {
    try {
        const json grey = {{"shade", "grey"}, {"rgb", json::array()}};
        jf::value<std::vector<Swatch>>({{"swatches", json::array({grey})}}, "swatches");
        ADD_FAILURE() << "decoded";
    } catch (const jf::DecodeError& e) {
        EXPECT_STREQ(e.what(), R"(swatches: unknown shade "grey")");
    }
}

TEST(JsonFields, NumbersJsonCannotHoldAreNullOrLeftOut) {
    EXPECT_TRUE(jf::jsonNumber(std::nan("")).is_null());
    EXPECT_TRUE(jf::jsonNumber(std::numeric_limits<double>::infinity()).is_null());
    EXPECT_EQ(jf::jsonNumber(-14.5), json(-14.5));
    json j = json::object();
    jf::put(j, "a", std::optional<double>(-std::numeric_limits<double>::infinity()));
    jf::put(j, "b", std::optional<double>(1.5));
    jf::put(j, "c", std::optional<std::string>());
    EXPECT_EQ(j.dump(), R"({"b":1.5})");
}

// A hostile body must be refused before nlohmann builds its nodes; brackets and commas inside
// texts (escaped quotes included) are no values.
TEST(JsonFields, ObjectsPastTheNestingOrValueBoundAreNeverParsed) {
    const auto nested = [](std::size_t depth) {
        return "{\"a\":" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
    };
    const auto values = [](std::size_t count) {
        std::string text = "{\"a\":[";
        for (std::size_t i = 1; i + 1 < count; ++i) text += i == 1 ? "0" : ",0";
        return text + "]}";
    };
    const struct {
        std::string text;
        jf::Bounds bounds;
    } cases[] = {
        {nested(jf::kMaxNesting), jf::Bounds::within},
        {nested(jf::kMaxNesting + 1), jf::Bounds::tooDeep},
        {values(jf::kMaxValues), jf::Bounds::within},
        {values(jf::kMaxValues + 1), jf::Bounds::tooManyValues},
        {"{\"a\":\"" + std::string(200, '[') + "\\\"" + std::string(200'000, ',') + "\"}", jf::Bounds::within},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(jf::bounds(c.text), c.bounds) << c.text.substr(0, 80);
        EXPECT_EQ(jf::parseObject(c.text).has_value(), c.bounds == jf::Bounds::within) << c.text.substr(0, 80);
    }
}

}  // namespace
}  // namespace corvane
