#include "widgets/tool_result_widgets.h"

#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <type_traits>
#include <variant>

#include "widgets/analysis_diagrams.h"

namespace corvane {

using namespace diagram;

namespace {
// The card look the plug-in chain, the knob grid and the track list share.
constexpr double kCardPadding = 10;
constexpr double kCardSpacing = 4;
constexpr Font kCardHeadingFont{10, FontWeight::medium};

void paintCard(DiagramPainter& painter, double width, double height) {
    painter.fill(Box{{0, 0, width, height}, 8, white(0.03)});
    painter.clipTo({0, 0, width, height}, 8);
}

Label cardHeading(const std::string& text) {
    return {text, kCardHeadingFont, white(0.4), {kCardPadding, kCardPadding}, Anchor::topLeading};
}

// Audio-analysis visual geometry.
constexpr double kSideInset = 12;
constexpr double kTopInset = 8;
constexpr double kSectionSpacing = 10;
constexpr double kNameWidth = 110;
constexpr double kRowSpacing = 3;
constexpr Font kBalanceHeadingFont{9, FontWeight::medium};

double spectrumSectionHeight(size_t rows) {
    if (rows == 0) return 0;
    return lineHeight(kBalanceHeadingFont) + 2 + double(rows) * (CompactSpectrumRow::rowHeight + kRowSpacing);
}

// Chip geometry of the plug-in chain.
constexpr Font kChipFont{10.5, FontWeight::medium};
constexpr double kChipPaddingX = 8;
constexpr double kChipPaddingY = 4;
constexpr double kChevronWidth = 4;

// Track list geometry.
constexpr Font kNumberFont{10, FontWeight::medium, true};
constexpr Font kNameFont{11};
constexpr Font kBadgeFont{9};

double knobRowHeight(const std::vector<KnobParam>& params, double width, const QPaintDevice* device) {
    double height = 0;
    for (const auto& tile : layoutKnobRow(params, width)) {
        const double w = tile.rect.width;
        height = std::max(height, 6 + DiagramPainter::wrappedHeight(tile.value, w, device) + 2 +
                                      DiagramPainter::wrappedHeight(tile.name, w, device) + 6);
    }
    return height;
}

void paintKnobRow(DiagramPainter& painter, const std::vector<KnobParam>& params, double width, double top) {
    const double row = knobRowHeight(params, width, painter.device());
    for (const auto& tile : layoutKnobRow(params, width)) {
        const double w = tile.rect.width;
        const double valueHeight = DiagramPainter::wrappedHeight(tile.value, w, painter.device());
        const double nameHeight = DiagramPainter::wrappedHeight(tile.name, w, painter.device());
        const double height = 6 + valueHeight + 2 + nameHeight + 6;
        const double y = top + (row - height) / 2;
        painter.fill(Box{{tile.rect.x, y, w, height}, 6, white(0.04)});
        painter.wrappedText(tile.value, tile.rect.x, y + 6, w);
        painter.wrappedText(tile.name, tile.rect.x, y + 6 + valueHeight + 2, w);
    }
}

}  // namespace

double KnobRowDiagram::heightFor(double width, const QPaintDevice* device) const {
    return knobRowHeight(params, width, device);
}

void KnobRowDiagram::paint(DiagramPainter& painter, double width, double) const {
    paintKnobRow(painter, params, width, 0);
}

namespace {
// A tool result's visual drawn as a diagram; each visual's height and drawing follow.
template <class Visual>
struct VisualDiagram {
    Visual visual;

    double heightFor(double width, const QPaintDevice* device) const;
    void paint(DiagramPainter& painter, double width, double height) const;
};

// The loudness meter and band bars of a listening result, as high as they are (the caller
// scrolls it beyond AudioAnalysisVisual::maxHeight).
template <>
double VisualDiagram<AudioAnalysisVisual>::heightFor(double, const QPaintDevice*) const {
    const double meter = visual.meter.empty() ? 0 : levelsMeterHeight(visual.meter.size());
    const double spectrum = spectrumSectionHeight(visual.spectrumRows.size());
    const double gap = meter > 0 && spectrum > 0 ? kSectionSpacing : 0;
    return kTopInset + meter + gap + std::max(0.0, spectrum - kRowSpacing) + kTopInset;
}

template <>
void VisualDiagram<AudioAnalysisVisual>::paint(DiagramPainter& painter, double width, double) const {
    QPainter& qt = painter.qt();
    double y = kTopInset;
    if (!visual.meter.empty()) {
        qt.save();
        qt.translate(kSideInset, y);
        const auto meter = layoutLevelsMeter(visual.meter, -14, std::max(0.0, width - 2 * kSideInset));
        paintLevelsMeter(painter, meter);
        qt.restore();
        y += meter.height + kSectionSpacing;
    }
    if (visual.spectrumRows.empty()) return;
    painter.text(Label{"FREQUENCY BALANCE", kBalanceHeadingFont, white(0.35), {kSideInset, y}, Anchor::topLeading});
    y += lineHeight(kBalanceHeadingFont) + 2 + kRowSpacing;
    // Rows by position, so that two tracks of one name are two rows.
    const double barsLeft = kSideInset + kNameWidth + 10;
    const double barsWidth = (CompactSpectrumRow::barSpacing + CompactSpectrumRow::barWidth) * 5;
    for (const auto& row : visual.spectrumRows) {
        const double centre = y + CompactSpectrumRow::rowHeight / 2;
        painter.text(Label{
            row.trackName, {10.5}, white(0.6), {kSideInset + kNameWidth, centre}, Anchor::trailingCentre, kNameWidth});
        const double barsTop = centre - CompactSpectrumRow::barAreaHeight / 2;
        for (Box bar : row.bars()) {
            bar.rect.x += barsLeft;
            bar.rect.y += barsTop;
            painter.fill(bar);
        }
        if (auto tilt = row.tiltLabel()) {
            tilt->at = {barsLeft + barsWidth + 10 + tilt->at.x, y + tilt->at.y};
            painter.text(*tilt);
        }
        y += CompactSpectrumRow::rowHeight + kRowSpacing;
    }
}

// A track's plug-in chips in slot order, chevrons between them; the card around it scrolls
// them sideways rather than wrapping.
template <>
double VisualDiagram<PluginChainVisual>::heightFor(double, const QPaintDevice*) const {
    return kCardPadding + lineHeight(kCardHeadingFont) + kCardSpacing + lineHeight(kChipFont) + 2 * kChipPaddingY +
           kCardPadding;
}

Label chipName(const PluginChainVisual::Chip& chip) {
    return {chip.name, kChipFont, white(chip.isBypassed ? 0.35 : 0.8), {}, Anchor::leadingCentre, 0, chip.isBypassed};
}

// The width the chips take with the card's padding.
double pluginChainWidth(const PluginChainVisual& visual, const QPaintDevice* device) {
    double width = 2 * kCardPadding;
    for (const auto& chip : visual.chips) {
        width += DiagramPainter::measure(chipName(chip), device).width() + 2 * kChipPaddingX;
        if (chip.followedByChevron) width += kCardSpacing + kChevronWidth + kCardSpacing;
    }
    return width;
}

template <>
void VisualDiagram<PluginChainVisual>::paint(DiagramPainter& painter, double width, double height) const {
    paintCard(painter, width, height);
    painter.text(cardHeading(visual.trackName));
    const double top = kCardPadding + lineHeight(kCardHeadingFont) + kCardSpacing;
    const double chipHeight = lineHeight(kChipFont) + 2 * kChipPaddingY;
    const double centre = top + chipHeight / 2;
    double x = kCardPadding;
    for (const auto& chip : visual.chips) {
        Label name = chipName(chip);
        const double chipWidth = painter.measure(name).width() + 2 * kChipPaddingX;
        painter.fill(Box{{x, top, chipWidth, chipHeight}, 6, white(0.06)});
        name.at = {x + kChipPaddingX, centre};
        painter.text(name);
        x += chipWidth + kCardSpacing;
        if (chip.followedByChevron) {
            // The "chevron.right" symbol at 7 pt, drawn.
            painter.stroke(Polyline{{{x + 0.5, centre - 3}, {x + kChevronWidth - 0.5, centre}, {x + 0.5, centre + 3}},
                                    {white(0.2), 1.2, {}, true}});
            x += kChevronWidth + kCardSpacing;
        }
    }
}

template <>
double VisualDiagram<KnobGridVisual>::heightFor(double width, const QPaintDevice* device) const {
    double height = kCardPadding + lineHeight(kCardHeadingFont);
    for (const auto& row : visual.rows)
        height += kCardSpacing + knobRowHeight(row, std::max(0.0, width - 2 * kCardPadding), device);
    return height + kCardPadding;
}

template <>
void VisualDiagram<KnobGridVisual>::paint(DiagramPainter& painter, double width, double height) const {
    paintCard(painter, width, height);
    painter.text(cardHeading(visual.heading));
    const double inner = std::max(0.0, width - 2 * kCardPadding);
    double y = kCardPadding + lineHeight(kCardHeadingFont);
    for (const auto& row : visual.rows) {
        y += kCardSpacing;
        painter.qt().save();
        painter.qt().translate(kCardPadding, 0);
        paintKnobRow(painter, row, inner, y);
        painter.qt().restore();
        y += knobRowHeight(row, inner, painter.device());
    }
}

template <>
double VisualDiagram<TrackListVisual>::heightFor(double, const QPaintDevice*) const {
    const double rows = double(visual.rows.size());
    return 2 * kCardPadding + rows * lineHeight(kNameFont) + std::max(0.0, rows - 1) * 2;
}

template <>
void VisualDiagram<TrackListVisual>::paint(DiagramPainter& painter, double width, double height) const {
    paintCard(painter, width, height);
    double y = kCardPadding;
    for (const auto& row : visual.rows) {
        const double centre = y + lineHeight(kNameFont) / 2;
        Label number{row.number, kNumberFont, white(0.3), {kCardPadding, centre}};
        painter.text(number);
        double x = kCardPadding + painter.measure(number).width() + 6;
        Label name{row.name, kNameFont,  white(row.isMuted ? 0.35 : 0.75), {x, centre}, Anchor::leadingCentre,
                   0,        row.isMuted};
        painter.text(name);
        x += painter.measure(name).width() + 6;
        if (row.isFolder) {
            Label badge{"folder", kBadgeFont, white(0.35), {x + 4, centre}};
            const QSizeF size = painter.measure(badge);
            painter.fill(Box{{x, centre - size.height() / 2 - 1, size.width() + 8, size.height() + 2}, 3, white(0.06)});
            painter.text(badge);
        }
        y += lineHeight(kNameFont) + 2;
    }
}

template <class Visual>
using VisualWidget = DiagramWidget<VisualDiagram<Visual>>;
}  // namespace

ToolResultVisualWidget::ToolResultVisualWidget(const std::string& toolName, const std::string& resultJSON,
                                               QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto visual = toolResultVisual(toolName, resultJSON);
    if (!visual) return;
    std::visit(
        [&](auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, AudioAnalysisVisual>) {
                auto* content = new VisualWidget<AudioAnalysisVisual>(std::move(v));
                const double height = content->heightFor(0);
                if (height <= AudioAnalysisVisual::maxHeight) {
                    content_ = content;
                    return;
                }
                auto* scroll = new QScrollArea;
                scroll->setFrameShape(QFrame::NoFrame);
                scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                scroll->setWidgetResizable(true);
                scroll->viewport()->setAutoFillBackground(false);
                content->setMinimumHeight(int(std::ceil(height)));
                scroll->setWidget(content);
                content->setAutoFillBackground(false);  // setWidget turns it on
                scroll->setFixedHeight(int(AudioAnalysisVisual::maxHeight));
                content_ = scroll;
            } else if constexpr (std::is_same_v<V, PluginChainVisual>) {
                auto* chain = new VisualWidget<PluginChainVisual>(std::move(v));
                chain->setMinimumWidth(int(std::ceil(pluginChainWidth(chain->diagram().visual, chain))));
                auto* scroll = new QScrollArea;
                scroll->setFrameShape(QFrame::NoFrame);
                scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                scroll->setWidgetResizable(true);
                scroll->viewport()->setAutoFillBackground(false);
                scroll->setWidget(chain);
                chain->setAutoFillBackground(false);
                scroll->setFixedHeight(int(std::ceil(chain->heightFor(0))));
                content_ = scroll;
            } else if constexpr (std::is_same_v<V, KnobGridVisual>) {
                content_ = new VisualWidget<KnobGridVisual>(std::move(v));
            } else if constexpr (std::is_same_v<V, TrackListVisual>) {
                content_ = new VisualWidget<TrackListVisual>(std::move(v));
            } else {
                content_ = new DiagramChoiceWidget(std::move(v), false);
            }
        },
        *visual);
    layout->addWidget(content_);
}

}  // namespace corvane
