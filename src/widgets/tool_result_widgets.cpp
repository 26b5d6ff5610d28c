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
}  // namespace

KnobRowWidget::KnobRowWidget(std::vector<KnobParam> params, QWidget* parent)
    : DiagramView(parent), params_(std::move(params)) {}

double KnobRowWidget::rowHeight(const std::vector<KnobParam>& params, double width, const QPaintDevice* device) {
    double height = 0;
    for (const auto& tile : layoutKnobRow(params, width)) {
        const double w = tile.rect.width;
        height = std::max(height, 6 + DiagramPainter::wrappedHeight(tile.value, w, device) + 2 +
                                      DiagramPainter::wrappedHeight(tile.name, w, device) + 6);
    }
    return height;
}

void KnobRowWidget::paintRow(DiagramPainter& painter, const std::vector<KnobParam>& params, double width, double top) {
    const double row = rowHeight(params, width, painter.device());
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

double KnobRowWidget::heightFor(double width) const { return rowHeight(params_, width, this); }

void KnobRowWidget::paint(DiagramPainter& painter, double width, double) const { paintRow(painter, params_, width, 0); }

AudioAnalysisVisualWidget::AudioAnalysisVisualWidget(AudioAnalysisVisual visual, QWidget* parent)
    : DiagramView(parent), visual_(std::move(visual)) {}

double AudioAnalysisVisualWidget::heightFor(double) const {
    const double meter = visual_.meter.empty() ? 0 : levelsMeterHeight(visual_.meter.size());
    const double spectrum = spectrumSectionHeight(visual_.spectrumRows.size());
    const double gap = meter > 0 && spectrum > 0 ? kSectionSpacing : 0;
    return kTopInset + meter + gap + std::max(0.0, spectrum - kRowSpacing) + kTopInset;
}

void AudioAnalysisVisualWidget::paint(DiagramPainter& painter, double width, double) const {
    QPainter& qt = painter.qt();
    double y = kTopInset;
    if (!visual_.meter.empty()) {
        qt.save();
        qt.translate(kSideInset, y);
        const auto meter = layoutLevelsMeter(visual_.meter, -14, std::max(0.0, width - 2 * kSideInset));
        paintLevelsMeter(painter, meter);
        qt.restore();
        y += meter.height + kSectionSpacing;
    }
    if (visual_.spectrumRows.empty()) return;
    painter.text(Label{"FREQUENCY BALANCE", kBalanceHeadingFont, white(0.35), {kSideInset, y}, Anchor::topLeading});
    y += lineHeight(kBalanceHeadingFont) + 2 + kRowSpacing;
    // Rows by position, so that two tracks of one name are two rows.
    const double barsLeft = kSideInset + kNameWidth + 10;
    const double barsWidth = (CompactSpectrumRow::barSpacing + CompactSpectrumRow::barWidth) * 5;
    for (const auto& row : visual_.spectrumRows) {
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

PluginChainWidget::PluginChainWidget(PluginChainVisual visual, QWidget* parent)
    : DiagramView(parent), visual_(std::move(visual)) {}

double PluginChainWidget::heightFor(double) const {
    return kCardPadding + lineHeight(kCardHeadingFont) + kCardSpacing + lineHeight(kChipFont) + 2 * kChipPaddingY +
           kCardPadding;
}

namespace {
Label chipName(const PluginChainVisual::Chip& chip) {
    return {chip.name, kChipFont, white(chip.isBypassed ? 0.35 : 0.8), {}, Anchor::leadingCentre, 0, chip.isBypassed};
}
}  // namespace

double PluginChainWidget::contentWidth() const {
    double width = 2 * kCardPadding;
    for (const auto& chip : visual_.chips) {
        width += DiagramPainter::measure(chipName(chip), this).width() + 2 * kChipPaddingX;
        if (chip.followedByChevron) width += kCardSpacing + kChevronWidth + kCardSpacing;
    }
    return width;
}

void PluginChainWidget::paint(DiagramPainter& painter, double width, double height) const {
    paintCard(painter, width, height);
    painter.text(cardHeading(visual_.trackName));
    const double top = kCardPadding + lineHeight(kCardHeadingFont) + kCardSpacing;
    const double chipHeight = lineHeight(kChipFont) + 2 * kChipPaddingY;
    const double centre = top + chipHeight / 2;
    double x = kCardPadding;
    for (const auto& chip : visual_.chips) {
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

KnobGridWidget::KnobGridWidget(KnobGridVisual visual, QWidget* parent)
    : DiagramView(parent), visual_(std::move(visual)) {}

double KnobGridWidget::heightFor(double width) const {
    double height = kCardPadding + lineHeight(kCardHeadingFont);
    for (const auto& row : visual_.rows)
        height += kCardSpacing + KnobRowWidget::rowHeight(row, std::max(0.0, width - 2 * kCardPadding), this);
    return height + kCardPadding;
}

void KnobGridWidget::paint(DiagramPainter& painter, double width, double height) const {
    paintCard(painter, width, height);
    painter.text(cardHeading(visual_.heading));
    const double inner = std::max(0.0, width - 2 * kCardPadding);
    double y = kCardPadding + lineHeight(kCardHeadingFont);
    for (const auto& row : visual_.rows) {
        y += kCardSpacing;
        painter.qt().save();
        painter.qt().translate(kCardPadding, 0);
        KnobRowWidget::paintRow(painter, row, inner, y);
        painter.qt().restore();
        y += KnobRowWidget::rowHeight(row, inner, painter.device());
    }
}

TrackListWidget::TrackListWidget(TrackListVisual visual, QWidget* parent)
    : DiagramView(parent), visual_(std::move(visual)) {}

double TrackListWidget::heightFor(double) const {
    const double rows = double(visual_.rows.size());
    return 2 * kCardPadding + rows * lineHeight(kNameFont) + std::max(0.0, rows - 1) * 2;
}

void TrackListWidget::paint(DiagramPainter& painter, double width, double height) const {
    paintCard(painter, width, height);
    double y = kCardPadding;
    for (const auto& row : visual_.rows) {
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
                auto* content = new AudioAnalysisVisualWidget(std::move(v));
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
                auto* chain = new PluginChainWidget(std::move(v));
                chain->setMinimumWidth(int(std::ceil(chain->contentWidth())));
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
                content_ = new KnobGridWidget(std::move(v));
            } else if constexpr (std::is_same_v<V, TrackListVisual>) {
                content_ = new TrackListWidget(std::move(v));
            } else {
                content_ = new DiagramChoiceWidget(std::move(v), false);
            }
        },
        *visual);
    layout->addWidget(content_);
}

}  // namespace corvane
