#include "app/TAboutBox.h"
#include "terminal/TerminalFont.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

QLabel* Label(TAboutBox& box, const char* name) {
    return box.findChild<QLabel*>(name);
}

// Runs the box modally; once it is shown, `act` runs inside its loop (for example a click on
// OK). Returns the result exec() gives back and, in `seen`, what the box showed then.
int RunModal(TAboutBox& box, const std::function<void()>& act, QImage* seen = nullptr) {
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (box.isVisible() && QTest::qWaitForWindowExposed(&box, 0)) {
            poll.stop();
            if (seen != nullptr) {
                *seen = box.grab().toImage();
            }
            act();
        }
    });
    poll.start();
    // A fault that keeps the box open must fail the test, not hang it.
    QTimer::singleShot(20000, &box, &QDialog::reject);
    return box.exec();
}

TEST(AboutBox, HasItsCaptionFixedSizeAndLaidOutElements) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "About");
    EXPECT_EQ(box.size(), QSize(345, 241));
    EXPECT_EQ(box.minimumSize(), box.maximumSize()) << "not resizable";

    auto* panel = box.findChild<QFrame*>("Panel1");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->geometry(), QRect(0, 0, 345, 241));
    EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);

    auto* icon = Label(box, "ProgramIcon");
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->geometry(), QRect(8, 8, 329, 129));

    struct Expected {
        const char* name;
        const char* text;
        QPoint at;
        int pixels;
    };
    for (const Expected& e : {Expected{"ProductName", "Pellwick", {8, 144}, 19},
                              Expected{"Version", "Version 2.00", {8, 168}, 16},
                              Expected{"WebSite", TAboutBox::kWebSite, {190, 176}, 21},
                              Expected{"PhoneNumber", TAboutBox::kPhoneNumber, {200, 200}, 16}}) {
        QLabel* label = Label(box, e.name);
        ASSERT_NE(label, nullptr) << e.name;
        EXPECT_EQ(label->text(), e.text) << e.name;
        EXPECT_EQ(label->pos(), e.at) << e.name;
        EXPECT_EQ(label->font().pixelSize(), e.pixels) << e.name;
        EXPECT_LE(label->geometry().right(), 343) << e.name << " fits inside the edge";
    }
    // Monospaced as the terminal needs it (Qt's fixed-pitch mark is missing on some such fonts).
    EXPECT_TRUE(HasUniformAdvance(Label(box, "Version")->font()));
    EXPECT_TRUE(Label(box, "PhoneNumber")->font().bold());

    auto* ok = box.findChild<QPushButton*>("OKButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(55, 204, 75, 25));
    EXPECT_TRUE(ok->isDefault());
}

TEST(AboutBox, ShowsTheDecodedPictureStretchedOverItsArea) {
    TAboutBox box;
    ASSERT_TRUE(box.HasPicture());
    const QImage shot = Label(box, "ProgramIcon")->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(329, 129));
    QSet<QRgb> colours;
    for (int y = 0; y < 129; y += 8) {
        for (int x = 0; x < 329; x += 8) {
            colours.insert(shot.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 40) << "a picture, not a plain area";
}

TEST(AboutBox, OkAndEnterCloseItAcceptedAndItReopensWithTheSameContent) {
    TAboutBox box;
    auto* ok = box.findChild<QPushButton*>("OKButton");
    ASSERT_NE(ok, nullptr);

    QImage first;
    EXPECT_EQ(RunModal(
                  box, [&] { QTest::mouseClick(ok, Qt::LeftButton); }, &first),
              QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());
    ASSERT_FALSE(first.isNull());

    for (int round = 0; round < 2; ++round) {
        QImage again;
        EXPECT_EQ(RunModal(
                      box, [&] { QTest::keyClick(&box, Qt::Key_Return); }, &again),
                  QDialog::Accepted)
            << "round " << round;
        EXPECT_FALSE(box.isVisible());
        EXPECT_EQ(again, first) << "round " << round;
    }
}

} // namespace
} // namespace pellwick
