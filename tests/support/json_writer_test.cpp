#include "support/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace corvane {
namespace {

using nlohmann::json;

// The writer's text must be exactly nlohmann's dump(2): store files written either way look alike.
void write(PrettyJSONWriter& w, const json& value) {
    switch (value.type()) {
        case json::value_t::object:
            w.beginObject();
            for (const auto& [key, member] : value.items()) {
                w.key(key);
                write(w, member);
            }
            w.endObject();
            break;
        case json::value_t::array:
            w.beginArray();
            for (const auto& element : value) write(w, element);
            w.endArray();
            break;
        case json::value_t::string: w.string(value.get_ref<const std::string&>()); break;
        case json::value_t::boolean: w.boolean(value.get<bool>()); break;
        case json::value_t::number_float: w.number(value.get<double>()); break;
        default: w.integer(value.get<std::int64_t>());
    }
}

TEST(PrettyJSONWriter, WritesWhatNlohmannDumpsWithTwoSpaces) {
    std::string controls;
    for (char c = 0; c < 0x20; ++c) controls += c;
    const json documents[] = {
        json::object(),
        json::array(),
        {{"b", json::array()}, {"a", json::object()}, {"c", {{"d", json::array({1, 2})}}}},
        json::array({json::array({json::object()}), "x", true, false}),
        {{"text", controls + "\"\\/\x7F plain"}, {"long", std::string(37, 'a') + "\"" + std::string(9, 'b')}},
        {{"utf8", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x91\x8D \xED\x9F\xBF \xF4\x8F\xBF\xBF"}},
        {{"ints", json::array({0, -1, INT64_MAX, INT64_MIN})}},
        {{"reals", json::array({0.0, -0.0, 25.5, 1e308, -1e-300, 0.1, 1440.0})}},
        "top-level text",
    };
    for (const auto& document : documents) {
        std::string out;
        PrettyJSONWriter w(out);
        write(w, document);
        EXPECT_TRUE(w.valid());
        EXPECT_EQ(out, document.dump(2)) << document.dump();
    }
    std::string out;
    PrettyJSONWriter w(out);
    w.number(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(out, "null");
}

// nlohmann refuses (or replaces) exactly these; the writer must notice every one of them.
TEST(PrettyJSONWriter, InvalidUTF8MakesTheOutputUnusable) {
    const char* invalid[] = {
        "\xFF",
        "a\xC3",
        "\xC0\xAF",  // lone byte, cut short, overlong
        "\xE0\x80\xAF",
        "\xED\xA0\x80",
        "\xF4\x90\x80\x80",  // overlong, surrogate, beyond U+10FFFF
        "\x80",
        "12345678\xC3\x28",
    };
    for (const char* text : invalid) {
        std::string out;
        PrettyJSONWriter w(out);
        w.string(text);
        EXPECT_FALSE(w.valid()) << json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
        EXPECT_THROW((void)json(std::string(text)).dump(), json::type_error);
    }
}

}  // namespace
}  // namespace corvane
