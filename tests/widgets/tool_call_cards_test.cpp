#include "widgets/tool_call_cards.h"

#include <QLabel>
#include <map>

#include "widget_pixels.h"
#include "widgets/text_block.h"

namespace corvane {
namespace {

using testing::render;

// The view model's side of the cards: stored choices per call, else open for the active call.
struct FakeExpansion {
    std::map<std::string, bool> choices;
    std::optional<std::string> active;
    int toggles = 0;
    ToolCardHooks hooks() {
        return {[this](const std::string& id) {
                    auto it = choices.find(id);
                    return it != choices.end() ? it->second : active == id;
                },
                [this](const std::string& id, bool current) {
                    choices[id] = !current;
                    ++toggles;
                }};
    }
};

ToolCallInfo call(std::string id, std::string tool, ToolCallStatus status, std::optional<std::string> summary = {},
                  std::optional<std::string> result = {}) {
    ToolCallInfo info;
    info.id = std::move(id);
    info.toolName = tool;
    info.displayName = ToolCallInfo::displayNameFor(tool);
    info.arguments = R"({"track_name":"Vocal"})";
    info.status = status;
    info.summary = std::move(summary);
    info.resultJSON = std::move(result);
    return info;
}

// The status symbol sits 10 pt in from the right, centred on the header row.
QColor statusInk(const QImage& image, const ToolCallCardWidget& card) {
    const QRect area(card.width() - 22, 4, 13, card.header()->height() - 8);
    QColor best(0, 0, 0);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (testing::brightness(c) > testing::brightness(best)) best = c;
        }
    return best;
}

TEST(ToolCallCardWidget, StatusAndRecoveredLookShowInTheStatusSymbol) {
    testing::ensureApplication();
    ManualAnimationClock clock;
    FakeExpansion expansion;
    ToolCallGroup group;
    group.toolCalls = {call("a", "set_plugin_parameter", ToolCallStatus::failed),
                       call("b", "set_plugin_parameter", ToolCallStatus::completed),
                       call("c", "get_track_details", ToolCallStatus::failed),
                       call("d", "list_tracks", ToolCallStatus::running)};
    ToolCallGroupWidget widget(group, expansion.hooks(), clock);
    const QImage image = render(widget, 600);
    const auto& cards = widget.cards();
    ASSERT_EQ(cards.size(), 4u);
    struct Expect {
        bool recovered;
        ToolCardLook::Symbol symbol;
    };
    const Expect expected[] = {{true, ToolCardLook::Symbol::recovered},
                               {false, ToolCardLook::Symbol::checkmark},
                               {false, ToolCardLook::Symbol::xmark},
                               {false, ToolCardLook::Symbol::spinner}};
    for (size_t i = 0; i < cards.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cards[i]->isRecovered(), expected[i].recovered);
        EXPECT_EQ(cards[i]->look().status, expected[i].symbol);
        const QImage card = image.copy(QRect(cards[i]->mapTo(&widget, QPoint()), cards[i]->size()));
        const QColor ink = statusInk(card, *cards[i]);
        switch (expected[i].symbol) {
            case ToolCardLook::Symbol::checkmark: EXPECT_GT(ink.green(), ink.red() + 60); break;
            case ToolCardLook::Symbol::xmark: EXPECT_GT(ink.red(), ink.green() + 60); break;
            case ToolCardLook::Symbol::recovered:
            case ToolCardLook::Symbol::spinner:
                EXPECT_NEAR(ink.red(), ink.green(), 12);
                EXPECT_GT(testing::brightness(ink), 50);
                break;
        }
    }
}

TEST(ToolCallCardWidget, ChevronOpensAndClosesThroughTheStoredChoice) {
    testing::ensureApplication();
    ManualAnimationClock clock;
    FakeExpansion expansion;
    expansion.active = "a";
    ToolCallCardWidget card(call("a", "set_track_volume", ToolCallStatus::completed, "Vocal to -6 dB"), false,
                            expansion.hooks(), clock);
    render(card, 500);
    ASSERT_TRUE(card.showsChevron());
    EXPECT_TRUE(card.isOpen());
    ASSERT_NE(card.summaryText(), nullptr);
    EXPECT_EQ(card.summaryText()->plainText(), "Vocal to -6 dB");
    EXPECT_EQ(card.look().chevronRotationDegrees, 0);
    const int openHeight = card.heightForWidth(500);
    // A word wider than the card (a long track name, an address with a long query) breaks across
    // lines, as in the bubbles, instead of being cut at the card's edge.
    for (const std::string& summary :
         {std::string(300, 'x'), "https://example.com/search?q=" + std::string(126, 'q')}) {
        ToolCallCardWidget wide(call("a", "set_track_volume", ToolCallStatus::completed, summary), false,
                                expansion.hooks(), clock);
        render(wide, 500);
        EXPECT_GE(wide.heightForWidth(500), openHeight + 20) << summary.size() << " characters on one cut line";
    }

    card.click();
    EXPECT_EQ(expansion.choices.at("a"), false);
    clock.advance(0.09);  // the chevron turns over 0.18 s
    EXPECT_NEAR(card.shownChevronDegrees(), -45, 1);
    clock.advance(0.09);
    EXPECT_EQ(card.shownChevronDegrees(), -90);
    EXPECT_EQ(card.summaryText(), nullptr);
    EXPECT_EQ(card.look().chevronRotationDegrees, -90);
    EXPECT_LT(card.heightForWidth(500), openHeight);
    card.click();
    EXPECT_NE(card.summaryText(), nullptr);

    // Nothing to show: no chevron, and a click stores nothing.
    ToolCallCardWidget bare(call("b", "set_track_volume", ToolCallStatus::completed, "", ""), false, expansion.hooks(),
                            clock);
    EXPECT_FALSE(bare.showsChevron());
    bare.click();
    EXPECT_EQ(expansion.toggles, 2);
}

TEST(ToolCallCardWidget, OnlyCompletedCallsOfTheVisualToolsShowTheirResult) {
    testing::ensureApplication();
    ManualAnimationClock clock;
    FakeExpansion expansion;
    const std::string tracks =
        R"({"status":"ok","tracks":[{"number":1,"name":"Kick","isMuted":false,"isFolder":false}]})";
    struct Case {
        std::string tool;
        ToolCallStatus status;
        bool visual;
    };
    const Case cases[] = {{"list_tracks", ToolCallStatus::completed, true},
                          {"list_tracks", ToolCallStatus::failed, false},
                          {"listen_to_playback", ToolCallStatus::completed, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        expansion.choices["x"] = true;
        ToolCallCardWidget card(call("x", c.tool, c.status, {}, tracks), false, expansion.hooks(), clock);
        render(card, 500);
        EXPECT_EQ(card.visualWidget() != nullptr, c.visual);
        EXPECT_EQ(card.showsChevron(), c.visual);
    }
}

TEST(ToolCallGroupWidget, ColumnStopsAt720AndLeaves24Free) {
    testing::ensureApplication();
    ManualAnimationClock clock;
    FakeExpansion expansion;
    ToolCallGroup group;
    group.toolCalls = {call("a", "list_tracks", ToolCallStatus::running)};
    ToolCallGroupWidget widget(group, expansion.hooks(), clock);
    for (auto [row, column] : {std::pair{1000, 720}, std::pair{500, 476}}) {
        render(widget, row);
        EXPECT_EQ(widget.column()->width(), column) << row;
        EXPECT_EQ(widget.column()->x(), 0);
    }
}

}  // namespace
}  // namespace corvane
