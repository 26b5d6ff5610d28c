#include "widgets/banners.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

#include "transcript/theme.h"
#include "widgets/hover_button.h"
#include "widgets/symbols.h"

namespace corvane {

namespace {

struct BarLayout {
    QHBoxLayout* row;
    QVBoxLayout* column;  // in the row, stretched, headed by the title
};

// A red bar: the octagon sign, then the title over whatever the caller puts in the column.
BarLayout problemBar(PaintedBox& bar, const QString& title, Qt::Alignment signAlignment) {
    bar.setFill(rgb255(160, 40, 40, 0.18));
    bar.setBottomLine(rgb255(255, 80, 80, 0.3));
    auto* row = new QHBoxLayout(&bar);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(10);
    row->addWidget(
        new SymbolView("exclamationmark.octagon.fill", 12, SymbolView::Weight::semibold, rgb255(255, 80, 80), &bar), 0,
        signAlignment);
    auto* column = new QVBoxLayout;
    column->setSpacing(1);
    column->addWidget(new ElidedLabel(title, uiFont(12, QFont::DemiBold), white(1)));
    row->addLayout(column, 1);
    return {row, column};
}

QWidget* newDismissButton(std::function<void()> dismiss) {
    auto* button = new HoverButton(std::move(dismiss), [](bool) {
        return centredInSquare(new SymbolView("xmark", 10, SymbolView::Weight::medium, white(0.5)), 16);
    });
    button->setFixedSize(16, 16);
    button->setToolTip("Dismiss");
    return button;
}

}  // namespace

AccessibilityBanner::AccessibilityBanner(URLOpener openURL, QWidget* parent) : PaintedBox(parent) {
    const auto [row, column] = problemBar(*this, "Accessibility permission required", Qt::AlignVCenter);
    column->addWidget(new ElidedLabel("Corvane requires macOS Accessibility to operate.", uiFont(11), white(0.7)));
    enable_ = new TextButton("Enable Accessibility", {.font = uiFont(11, QFont::DemiBold),
                                                      .text = white(1),
                                                      .fill = rgb255(255, 80, 80, 0.9),
                                                      .horizontalPadding = 12,
                                                      .verticalPadding = 6,
                                                      .cornerRadius = 6});
    enable_->setFocusPolicy(Qt::NoFocus);  // the bar's buttons are clicked, not tabbed to
    QObject::connect(enable_, &QPushButton::clicked, this, [openURL = std::move(openURL)] {
        if (openURL) openURL(kSettingsURL);
    });
    row->addWidget(enable_, 0, Qt::AlignVCenter);
}

ProblemBanner::ProblemBanner(const QString& title, std::function<void()> dismiss, QWidget* parent)
    : PaintedBox(parent) {
    const auto [row, column] = problemBar(*this, title, Qt::AlignTop);
    // The reason is the point of the banner: it wraps rather than being cut.
    detail_ = new QLabel;
    detail_->setWordWrap(true);
    detail_->setFont(uiFont(11));
    detail_->setTextFormat(Qt::PlainText);
    detail_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setTextColor(detail_, white(0.7));
    column->addWidget(detail_);
    if (!dismiss) return;
    dismiss_ = newDismissButton(std::move(dismiss));
    row->addWidget(dismiss_, 0, Qt::AlignTop);
}

ConfirmationBanner::ConfirmationBanner(const QString& text, QWidget* parent) : PaintedBox(parent) {
    setFill(withOpacity(system_color::green, 0.12));
    setBottomLine(withOpacity(system_color::green, 0.3));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(8);
    row->addWidget(new SymbolView("checkmark", 11, SymbolView::Weight::semibold, withOpacity(system_color::green), this),
                   0, Qt::AlignVCenter);
    text_ = new ElidedLabel(text, uiFont(12), white(0.85));
    row->addWidget(text_, 1, Qt::AlignVCenter);
}

QString ConfirmationBanner::text() const { return static_cast<ElidedLabel*>(text_)->fullText(); }

void ProblemBanner::setProblem(const std::string& problem) { detail_->setText(QString::fromStdString(problem)); }

QString ProblemBanner::problem() const { return detail_->text(); }

StatusLine::StatusLine(QWidget* parent) : QWidget(parent) {
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(14, 0, 14, 6);
    column_->setSpacing(2);
    setState("", {}, false);
}

void StatusLine::setState(const std::string& message, const std::vector<std::string>& failures, bool busy) {
    QStringList lines;
    for (const auto& failure : failures) lines << QString::fromStdString(failure);
    const QString progress = QString::fromStdString(message);
    const bool showProgress = (failures.empty() || busy) && !progress.isEmpty() && !lines.contains(progress);
    if (showProgress) lines << progress;
    const int failureCount = static_cast<int>(failures.size());
    if (lines == lines_ && failureCount == failureCount_) return;
    lines_ = lines;
    failureCount_ = failureCount;
    for (auto* row : rows_) {
        column_->removeWidget(row);
        delete row;
    }
    rows_.clear();
    for (int i = 0; i < lines.size(); ++i) {
        auto* row = new QWidget(this);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        const bool failure = i < failureCount;
        if (failure)
            layout->addWidget(
                new SymbolView("exclamationmark.triangle.fill", 10, SymbolView::Weight::semibold, rgb255(255, 80, 80)),
                0, Qt::AlignTop);
        // A failure is read in full: it wraps rather than being cut.
        auto* text = new QLabel(lines[i]);
        text->setWordWrap(failure);
        text->setFont(uiFont(11));
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        setTextColor(text, failure ? rgb255(255, 150, 150) : white(0.4));
        layout->addWidget(text, 1);
        column_->addWidget(row);
        rows_.push_back(row);
    }
}

QStringList StatusLine::lines() const { return lines_; }

std::string PluginMissingBanner::downloadURL(const std::string& siteURL) {
    const QUrl url(QString::fromStdString(siteURL + "/download"), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) return {};
    return url.toString().toStdString();
}

PluginMissingBanner::PluginMissingBanner(std::string siteURL, URLOpener openURL, std::function<void()> dismiss,
                                         QWidget* parent)
    : PaintedBox(parent) {
    setFill(rgb255(160, 120, 30, 0.18));
    setBottomLine(rgb255(255, 200, 80, 0.25));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(10);
    row->addWidget(
        new SymbolView("exclamationmark.triangle.fill", 11, SymbolView::Weight::semibold, rgb255(255, 200, 80), this),
        0, Qt::AlignVCenter);
    row->addWidget(new ElidedLabel("Corvane plugin not detected.", uiFont(12, QFont::Medium), white(0.9)), 0,
                   Qt::AlignVCenter);
    install_ = new TextButton("Install instructions \u2192",
                              {.font = uiFont(12, QFont::Medium), .text = rgb255(255, 200, 80), .underlined = true});
    install_->setFocusPolicy(Qt::NoFocus);
    QObject::connect(install_, &QPushButton::clicked, this,
                     [siteURL = std::move(siteURL), openURL = std::move(openURL)] {
                         const std::string url = downloadURL(siteURL);
                         if (!url.empty() && openURL) openURL(url);
                     });
    row->addWidget(install_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    dismiss_ = newDismissButton(std::move(dismiss));
    row->addWidget(dismiss_, 0, Qt::AlignVCenter);
}

}  // namespace corvane
