#include "widgets/screenshots_overlay.h"

#include <QPainter>
#include <QVBoxLayout>

#include "widgets/about_panel.h"
#include "widgets/agent_overlay.h"
#include "widgets/login_form.h"

namespace corvane::screenshots {

namespace {

// A view at the size of the window that holds it.
class Framed : public QWidget {
public:
    Framed(QWidget* inner, QSize size) : size_(size) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(inner);
        resize(size);
    }
    QSize sizeHint() const override { return size_; }
    bool hasHeightForWidth() const override { return false; }

private:
    QSize size_;
};

// Something like Logic Pro's arrangement, for the notice to sit on.
class Arrangement : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(58, 58, 62));
        painter.fillRect(QRect(0, 0, width(), 36), QColor(40, 40, 44));
        const QColor regions[] = {QColor(70, 140, 210), QColor(90, 190, 120), QColor(210, 160, 60),
                                  QColor(190, 90, 160)};
        for (int row = 0; row < 8; ++row) {
            const int y = 44 + row * 52;
            painter.fillRect(QRect(0, y, 180, 48), QColor(48, 48, 52));
            painter.setPen(QColor(220, 220, 220));
            painter.drawText(QRect(12, y, 160, 48), Qt::AlignVCenter, QString("Track %1").arg(row + 1));
            painter.fillRect(QRect(200 + (row % 3) * 60, y + 4, 260 + (row % 2) * 140, 40), regions[row % 4]);
        }
    }
};

std::unique_ptr<LoginForm> form() {
    return std::make_unique<LoginForm>(LoginForm::Actions{}, "https://corvane.app/signup",
                                       "https://corvane.app/forgot-password");
}

}  // namespace

std::unique_ptr<QWidget> signInForm() { return std::make_unique<Framed>(form().release(), QSize(800, 600)); }

std::unique_ptr<QWidget> signInFormBusy() {
    auto login = form();
    login->emailField()->edit()->setText("mia@example.com");
    login->passwordField()->edit()->setText("correct horse");
    login->setErrorMessage("Invalid login credentials. Check the address and the password, then try again.");
    login->setLoading(true);
    return std::make_unique<Framed>(login.release(), QSize(800, 600));
}

std::unique_ptr<QWidget> aboutPanel() {
    return std::make_unique<Framed>(new AboutView([] {}, "0.1.2", "3"), QSize(AboutView::kWidth, AboutView::kHeight));
}

std::unique_ptr<QWidget> agentOverlay() {
    auto* backdrop = new Arrangement;
    auto* notice = new ShieldWindow(InputShield::Scope::logicWindow);
    notice->setParent(backdrop, Qt::Widget);
    notice->setGeometry(0, 0, 900, 460);
    notice->content()->setGeometry(0, 0, 900, 460);
    notice->content()->labelField()->setText(
        QString::fromStdString(InputShield::labelText(InputShield::Scope::logicWindow, "Set Volume")));
    return std::make_unique<Framed>(backdrop, QSize(900, 460));
}

}  // namespace corvane::screenshots
