#include "app/TSplashScreen.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

using std::chrono::milliseconds;

TEST(SplashScreen, IsAFramelessCentredWindowFilledByItsPicture) {
    TSplashScreen splash;
    EXPECT_TRUE(splash.isWindow());
    EXPECT_TRUE(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(splash.windowTitle().isEmpty());
    EXPECT_EQ(splash.size(), QSize(600, 400));
    ASSERT_TRUE(splash.HasPicture());
    auto* image1 = splash.findChild<QLabel*>("Image1");
    ASSERT_NE(image1, nullptr);
    EXPECT_EQ(image1->geometry(), QRect(0, 0, 600, 400));

    splash.show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((splash.geometry().center() - screen.center()).manhattanLength(), 2);

    // The picture, not a plain fill, covers the window.
    const QImage shot = splash.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(600, 400));
    QSet<QRgb> colours;
    for (int y = 0; y < 400; y += 20) {
        for (int x = 0; x < 600; x += 20) {
            colours.insert(shot.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 50);
}

TEST(SplashScreen, WaitLastsItsFullTimeWhileEventsAreHandled) {
    TSplashScreen splash;
    bool timerRan = false;
    bool shownDuringWait = false;
    QTimer::singleShot(50, [&] {
        timerRan = true;
        shownDuringWait = splash.isVisible() && splash.isActiveWindow();
    });
    QElapsedTimer clock;
    clock.start();
    splash.ShowAndWait(milliseconds(400));
    EXPECT_GE(clock.elapsed(), 400);
    EXPECT_TRUE(timerRan) << "events queued during the wait are handled";
    EXPECT_TRUE(shownDuringWait);
    // Nothing else became active (as without a window manager): the wait's end hides it.
    EXPECT_FALSE(splash.isVisible());
}

TEST(SplashScreen, HidesAsSoonAsAnotherWindowIsActivatedYetTheWaitGoesOn) {
    TSplashScreen splash;
    QWidget other;
    other.resize(200, 100);
    bool activeBefore = false;
    bool visibleAfterSwitch = true;
    QTimer::singleShot(100, [&] {
        activeBefore = splash.isActiveWindow();
        other.show();
        other.activateWindow();
    });
    // Sampled well before the wait ends: the splash must already be gone by then.
    QTimer::singleShot(500, [&] { visibleAfterSwitch = splash.isVisible(); });
    QElapsedTimer clock;
    clock.start();
    splash.ShowAndWait(milliseconds(900));
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_TRUE(activeBefore);
    EXPECT_FALSE(visibleAfterSwitch);
    EXPECT_FALSE(splash.isVisible());
    EXPECT_TRUE(other.isActiveWindow());

    // Hidden, not destroyed: it can be shown again.
    splash.show();
    EXPECT_TRUE(splash.isVisible());
}

TEST(SplashScreen, AClickOnThePictureHidesItYetTheWaitGoesOn) {
    TSplashScreen splash;
    bool visibleAfterClick = true;
    QTimer::singleShot(100, [&] {
        QTest::mouseClick(splash.findChild<QLabel*>("Image1"), Qt::LeftButton);
        visibleAfterClick = splash.isVisible();
    });
    QElapsedTimer clock;
    clock.start();
    splash.ShowAndWait(milliseconds(600));
    EXPECT_GE(clock.elapsed(), 600);
    EXPECT_FALSE(visibleAfterClick);
}

} // namespace
} // namespace pellwick
