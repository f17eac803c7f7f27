#include "app/TSplashScreen.h"

#include "resources/Resources.h"

#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

namespace pellwick {

namespace {

std::chrono::milliseconds TickCount() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

TSplashScreen::TSplashScreen(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), image1_(new QLabel(this)) {
    InitResources();
    setFixedSize(kWidth, kHeight);
    image1_->setObjectName("Image1");
    image1_->setGeometry(0, 0, kWidth, kHeight);
    image1_->setScaledContents(true);
    image1_->setPixmap(QPixmap(kSplashPicturePath));
}

bool TSplashScreen::HasPicture() const {
    return !image1_->pixmap().isNull();
}

void TSplashScreen::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
    QWidget::showEvent(event);
}

void TSplashScreen::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow()) {
        hide();
    }
    QWidget::changeEvent(event);
}

void TSplashScreen::mousePressEvent(QMouseEvent* event) {
    hide();
    event->accept();
}

void TSplashScreen::ShowAndWait(std::chrono::milliseconds wait) {
    show();
    raise();
    activateWindow();
    repaint();

    // A nested loop woken by a timer handles events without spinning a core.
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    const std::chrono::milliseconds end = TickCount() + wait;
    for (std::chrono::milliseconds now = TickCount(); now < end; now = TickCount()) {
        wake.start(end - now);
        loop.exec();
    }
    // Without a window manager no other window ever becomes active, and the splash would stay
    // over the main window for good.
    if (isVisible()) {
        hide();
    }
}

} // namespace pellwick
