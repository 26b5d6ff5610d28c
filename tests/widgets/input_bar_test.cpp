#include "widgets/input_bar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "platform/manual_main_queue.h"
#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/hover_button.h"
#include "widgets/message_bubble.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

using corvane::testing::clickAt;
using corvane::testing::click;

using Drop = std::pair<std::string, std::string>;  // bytes, extension

struct Bar {
    platform::ManualMainQueue queue;  // the UI thread's queue, where read files come back
    int sends = 0;
    int stops = 0;
    std::vector<Drop> drops;
    std::vector<ModelTier> tiers;
    MessageInputView view{
        {[this] { ++sends; },
         [this](const std::string& data, const std::string& extension) { drops.emplace_back(data, extension); },
         [this](ModelTier tier) { tiers.push_back(tier); }, [this] { ++stops; }},
        nullptr,
        queue};
    Bar() {
        view.resize(560, 90);
        view.show();
    }
    // Files are read off the UI thread; their bytes arrive through the queue.
    void settle() {
        ASSERT_TRUE(queue.runUntil([&] { return !view.isReading(); }));
        queue.drain();
    }
};

void key(QWidget& widget, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, code, modifiers, code == Qt::Key_Return ? "\r" : "");
    QApplication::sendEvent(&widget, &event);
}

void dragOver(QWidget& widget, QMimeData& mime) {
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &enter);
}

bool drop(QWidget& widget, QMimeData& mime) {
    dragOver(widget, mime);
    QDropEvent event(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
    return event.isAccepted();
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const std::string& bytes) {
    const QString path = dir.filePath(name);
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
    return path;
}

QAction* tierItem(MessageInputView& view, ModelTier tier) {
    for (QAction* action : view.tierMenu()->actions())
        if (action->data().toInt() == int(tier)) return action;
    return nullptr;
}

TEST(MessageInputView, WhileBusyOnlyStopIsOfferedAndAttachAndTierStayUsable) {
    Bar bar;
    bar.view.setBusy(true);
    QMimeData image;
    image.setImageData(QImage(4, 4, QImage::Format_RGB32));
    dragOver(bar.view, image);
    ASSERT_TRUE(bar.view.isDropTargeted());
    EXPECT_EQ(bar.view.placeholder(), "Working\u2026") << "busy wins over a drag";
    EXPECT_EQ(bar.view.textArea()->placeholderText(), "Working\u2026");
    EXPECT_FALSE(bar.view.textArea()->isEnabled());
    EXPECT_EQ(bar.view.sendSymbol(), "stop.fill");
    EXPECT_TRUE(bar.view.sendButton()->isEnabled()) << "whatever the text";
    EXPECT_EQ(bar.view.sendButton()->toolTip(), "Stop");
    EXPECT_TRUE(bar.view.attachButton()->isEnabled());
    EXPECT_TRUE(bar.view.tierPicker()->isEnabled());

    click(*bar.view.sendButton());
    EXPECT_EQ(bar.stops, 1);
    EXPECT_EQ(bar.sends, 0);
    EXPECT_TRUE(bar.view.isBusy()) << "the view model ends the busy state, not the bar";

    // The tier menu still answers; only the Pro item cannot be chosen.
    tierItem(bar.view, ModelTier::pro)->trigger();
    tierItem(bar.view, ModelTier::standard)->trigger();
    EXPECT_EQ(bar.tiers, std::vector<ModelTier>{ModelTier::standard});
}

// A window with the bar and, after it in the focus chain, a reply's Report link.
struct FocusWindow {
    ManualAnimationClock clock;
    platform::ManualMainQueue queue;
    int sends = 0, stops = 0, reports = 0;
    QWidget window;
    MessageInputView* bar = new MessageInputView({[this] { ++sends; }, {}, {}, [this] { ++stops; }}, &window, queue);
    ReportButton* report = new ReportButton(clock, &window);
    FocusWindow() {
        auto* column = new QVBoxLayout(&window);
        column->addWidget(bar);
        column->addWidget(report);
        QObject::connect(report, &QAbstractButton::clicked, [this] { ++reports; });
        window.resize(560, 160);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(testing::pumpUntil([&] { return QApplication::activeWindow() == &window; }));
        bar->textArea()->setFocus(Qt::MouseFocusReason);
    }
    // Typed as a person types: to whatever has the focus.
    void type(const QString& text) {
        for (const QChar c : text) {
            QWidget* target = QApplication::focusWidget();
            ASSERT_NE(target, nullptr);
            const int code = c == ' ' ? int(Qt::Key_Space) : int(c.toUpper().unicode());
            QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &press);
            QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &release);
        }
    }
};

// Tab goes from the field through the bar's controls, the tier label among them, and a key opens
// its menu as a click does.
TEST(MessageInputView, TabReachesTheTierLabelWhichOpensItsMenuByKey) {
    FocusWindow w;
    bool reached = false;
    for (int i = 0; i < 8 && !reached; ++i) {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(target, &tab);
        reached = QApplication::focusWidget() == w.bar->tierPicker();
    }
    ASSERT_TRUE(reached);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(w.bar->tierPicker(), &space);
    EXPECT_TRUE(w.bar->tierMenu()->isVisible());
    w.bar->tierMenu()->close();
}

// Disabling the focused field would pass the focus on to the next control, a reply's Report link,
// which the space bar then presses; after the turn (or at once after Stop) typing goes to the field.
TEST(MessageInputView, TheFocusStaysWithTheBarWhileBusyAndTypingGoesToTheFieldAfterwards) {
    FocusWindow w;
    ASSERT_TRUE(w.bar->textArea()->hasFocus());
    w.bar->setBusy(true);
    EXPECT_FALSE(w.bar->textArea()->isEnabled());
    EXPECT_FALSE(w.report->hasFocus());
    w.type("make ");
    EXPECT_EQ(w.reports, 0) << "a key typed while busy pressed the Report link";
    w.bar->setBusy(false);
    EXPECT_TRUE(w.bar->textArea()->hasFocus());
    w.type("the kick punchier");
    EXPECT_EQ(w.bar->messageText(), "the kick punchier");

    // Stop: the turn only winds down, and the next message can be typed at once.
    w.bar->setMessageText("");
    w.bar->setBusy(true);
    click(*w.bar->sendButton());
    EXPECT_EQ(w.stops, 1);
    EXPECT_TRUE(w.bar->isBusy());
    EXPECT_TRUE(w.bar->textArea()->isEnabled());
    EXPECT_TRUE(w.bar->textArea()->hasFocus());
    w.type("make the kick punchier");
    EXPECT_EQ(w.bar->messageText(), "make the kick punchier");
    EXPECT_EQ(w.reports, 0);
    w.bar->setBusy(false);
    EXPECT_TRUE(w.bar->textArea()->hasFocus());
    EXPECT_EQ(w.bar->messageText(), "make the kick punchier");
    // The next turn disables the field again until its Stop or end.
    w.bar->setBusy(true);
    EXPECT_FALSE(w.bar->textArea()->isEnabled());

    // Focus the user moved elsewhere meanwhile is not taken back.
    QLineEdit elsewhere(&w.window);
    elsewhere.show();
    elsewhere.setFocus();
    w.bar->setBusy(false);
    EXPECT_TRUE(elsewhere.hasFocus());
}

TEST(MessageInputView, PlaceholderAndSendFollowTheStateAndTheTrimmedText) {
    Bar bar;
    EXPECT_EQ(bar.view.placeholder(), "Ask about your mix\u2026");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.png")});
    dragOver(bar.view, files);
    EXPECT_EQ(bar.view.placeholder(), "Drop image to attach\u2026");
    QDragLeaveEvent leave;
    QApplication::sendEvent(&bar.view, &leave);
    EXPECT_EQ(bar.view.placeholder(), "Ask about your mix\u2026");

    const std::vector<std::pair<std::string, bool>> cases = {
        {"", false}, {"  \n\t \n", false}, {" hi ", true}, {"\nmix", true}};
    for (const auto& [text, enabled] : cases) {
        bar.view.setMessageText(text);
        EXPECT_EQ(bar.view.sendButton()->isEnabled(), enabled) << '"' << text << '"';
        EXPECT_EQ(bar.view.sendButton()->toolTip(), "Send");
        EXPECT_EQ(bar.view.sendSymbol(), "arrow.up");
    }
    bar.view.setMessageText("  louder vocal ");
    clickAt(*bar.view.sendButton(), QPointF(1, 1));
    EXPECT_EQ(bar.sends, 0) << "the corner of the square is outside the round button";
    click(*bar.view.sendButton());
    EXPECT_EQ(bar.sends, 1);
    EXPECT_EQ(bar.view.messageText(), "  louder vocal ") << "the presenter takes the text as typed";
}

TEST(MessageInputView, ReturnSubmitsEvenABlankFieldAndShiftReturnBreaksTheLine) {
    Bar bar;
    bar.view.setMessageText("   ");
    key(*bar.view.textArea(), Qt::Key_Return);
    EXPECT_EQ(bar.sends, 1) << "the view model ignores the blank text, the bar does not check";
    key(*bar.view.textArea(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(bar.sends, 2);

    bar.view.setMessageText("first");
    key(*bar.view.textArea(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(bar.sends, 2);
    EXPECT_EQ(bar.view.messageText(), "first\n");
}

TEST(MessageInputView, TheFieldGrowsFromOneToSixLines) {
    Bar bar;
    auto heightWith = [&](const std::string& text) {
        bar.view.setMessageText(text);
        QCoreApplication::sendPostedEvents();
        return bar.view.textArea()->height();
    };
    const int one = heightWith("one");
    EXPECT_GE(one, QFontMetrics(bar.view.textArea()->font()).height());
    EXPECT_EQ(heightWith(""), one);
    EXPECT_NEAR(heightWith("one\ntwo\nthree"), 3 * one, 1);
    EXPECT_NEAR(heightWith("1\n2\n3\n4\n5\n6"), 6 * one, 1) << "six lines show whole";
    EXPECT_NEAR(heightWith("1\n2\n3\n4\n5\n6\n7\n8\n9"), 6 * one, 1);
    EXPECT_EQ(heightWith("back"), one);
}

TEST(MessageInputView, TheChipShowsFromACountOfOneAndTheTierLabelFollowsTheBinding) {
    Bar bar;
    const std::vector<std::pair<std::int64_t, bool>> chips = {{0, false}, {1, true}, {3, true}};
    for (const auto& [count, shown] : chips) {
        bar.view.setPendingCaptureCount(count);
        EXPECT_EQ(bar.view.captureChip()->isVisible(), shown) << count;
        if (shown) {
            EXPECT_EQ(bar.view.captureChipText(), QString::number(count));
        }
    }
    EXPECT_EQ(bar.view.tierLabelText(), "Standard");
    bar.view.setSelectedModelTier(ModelTier::pro);
    EXPECT_EQ(bar.view.tierLabelText(), "Pro") << "a stored Pro still reads Pro";
    EXPECT_FALSE(tierItem(bar.view, ModelTier::pro)->isEnabled());
    EXPECT_TRUE(tierItem(bar.view, ModelTier::standard)->isEnabled());
    EXPECT_TRUE(tierItem(bar.view, ModelTier::standard)->text().startsWith("Standard\t"));
}

TEST(MessageInputView, DropsHandOnEachFileWithItsLowerCasedExtension) {
    QTemporaryDir dir;
    Bar bar;
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(writeFile(dir, "kick.PNG", "png-bytes")),
                 QUrl::fromLocalFile(writeFile(dir, "Vocal Take.JPG", "jpg-bytes"))});
    EXPECT_TRUE(drop(bar.view, two));
    EXPECT_TRUE(bar.drops.empty()) << "nothing is read on the UI thread";
    bar.settle();
    EXPECT_EQ(bar.drops, (std::vector<Drop>{{"png-bytes", "png"}, {"jpg-bytes", "jpg"}}));
    EXPECT_FALSE(bar.view.isDropTargeted());

    struct Case {
        const char* name;
        std::function<void(QMimeData&)> fill;
        bool accepted;
        std::vector<Drop> handedOn;
    };
    const std::vector<Case> cases = {
        {"no extension",
         [&](QMimeData& m) { m.setUrls({QUrl::fromLocalFile(writeFile(dir, "shot", "raw"))}); },
         true,
         {{"raw", "png"}}},
        {"a folder is taken but yields nothing",
         [&](QMimeData& m) { m.setUrls({QUrl::fromLocalFile(dir.path())}); },
         true,
         {}},
        {"a missing file yields nothing",
         [&](QMimeData& m) { m.setUrls({QUrl::fromLocalFile(dir.filePath("gone.png"))}); },
         true,
         {}},
        {"text only is refused", [](QMimeData& m) { m.setText("hello"); }, false, {}},
    };
    for (const auto& c : cases) {
        bar.drops.clear();
        QMimeData mime;
        c.fill(mime);
        EXPECT_EQ(drop(bar.view, mime), c.accepted) << c.name;
        bar.settle();
        EXPECT_EQ(bar.drops, c.handedOn) << c.name;
    }

    // Image data without a file: PNG bytes, "png".
    bar.drops.clear();
    QMimeData image;
    QImage pixels(3, 2, QImage::Format_RGB32);
    pixels.fill(Qt::red);
    image.setImageData(pixels);
    EXPECT_TRUE(drop(bar.view, image));
    ASSERT_EQ(bar.drops.size(), 1u);
    EXPECT_EQ(bar.drops[0].second, "png");
    EXPECT_EQ(bar.drops[0].first.substr(1, 3), "PNG");
}

TEST(MessageInputView, AHugeFileIsReadOnlyFarEnoughForTheViewModelToRefuseIt) {
    QTemporaryDir dir;
    Bar bar;
    const QString path = writeFile(dir, "huge.png", "");
    std::filesystem::resize_file(path.toStdString(), 64 * 1024 * 1024);  // sparse
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    EXPECT_TRUE(drop(bar.view, mime));
    bar.settle();
    ASSERT_EQ(bar.drops.size(), 1u);
    EXPECT_EQ(std::int64_t(bar.drops[0].first.size()), MessageInputView::kMaxReadBytes);
    EXPECT_GT(std::size_t(MessageInputView::kMaxReadBytes), DroppedImage::kMaxBytes);
}

TEST(MessageInputView, PickingReadsTheChosenFileAndACancelDoesNothing) {
    QTemporaryDir dir;
    Bar bar;
    std::optional<std::string> chosen = writeFile(dir, "mix.Jpeg", "jpeg-bytes").toStdString();
    bar.view.setImagePicker([&](QWidget*) { return chosen; });
    click(*bar.view.attachButton());
    bar.settle();
    EXPECT_EQ(bar.drops, (std::vector<Drop>{{"jpeg-bytes", "jpeg"}}));
    chosen.reset();
    bar.view.pickImage();
    bar.settle();
    EXPECT_EQ(bar.drops.size(), 1u);
}

TEST(MessageInputView, TheOutlineTurnsBlueAndThickerWhileADragHovers) {
    Bar bar;
    auto edge = [&] {
        const QImage image = testing::render(bar.view, 400);
        return std::pair(image.pixelColor(image.width() / 2, 0), image.pixelColor(image.width() / 2, 1));
    };
    const auto [idleOuter, idleInner] = edge();
    EXPECT_LT(testing::brightness(idleOuter), 60) << "a faint white line";
    QMimeData image;
    image.setImageData(QImage(4, 4, QImage::Format_RGB32));
    dragOver(bar.view, image);
    const QColor blue = toQColor(CorvaneTheme::primaryButton);
    for (const QColor& c : {edge().first, edge().second}) {
        EXPECT_NEAR(c.blue(), blue.blue(), 40);
        EXPECT_GT(c.blue(), c.red() + 80);
    }
}

}  // namespace
}  // namespace corvane
