#include "portselect/TComSelectForm.h"

#include "PortSelectTestSupport.h"

#include "serial/TVaxoCustomComPort.h"
#include "serial/errors/EVaxoException.h"
#include "serial/errors/ErrorNumbers.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

using test::DeviceRecorder;
using test::FakePorts;

QStringList Items(const TComSelectForm& form) {
    QStringList items;
    const auto* combo = form.findChild<QComboBox*>("PortsComboBox");
    for (int i = 0; combo != nullptr && i < combo->count(); ++i) {
        items << combo->itemText(i);
    }
    return items;
}

TComSelectForm* ShownForm() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* form = qobject_cast<TComSelectForm*>(widget);
        if (form != nullptr && form->isVisible() && QTest::qWaitForWindowExposed(form, 0)) {
            return form;
        }
    }
    return nullptr;
}

// Once a selection dialog is shown modally, runs act on it inside its loop. A dialog that is
// never closed is rejected after a generous deadline, so a fault fails the test instead of
// hanging it.
class WhenShown {
public:
    explicit WhenShown(std::function<void(TComSelectForm&)> act) : act_(std::move(act)) {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            if (TComSelectForm* form = ShownForm()) {
                poll_.stop();
                acted_ = true;
                act_(*form);
                QTimer::singleShot(20000, form, &QDialog::reject);
            }
        });
        poll_.start(10);
    }
    bool Acted() const { return acted_; }

private:
    std::function<void(TComSelectForm&)> act_;
    QTimer poll_;
    bool acted_ = false;
};

void Click(TComSelectForm& form, const char* button) {
    auto* b = form.findChild<QPushButton*>(button);
    ASSERT_NE(b, nullptr) << button;
    QTest::mouseClick(b, Qt::LeftButton);
}

TEST(ComSelectForm, HasItsCaptionTextsAndLayout) {
    FakePorts ports({1});
    TComSelectForm form;
    EXPECT_EQ(form.windowTitle(), "Select Port");
    EXPECT_EQ(form.size(), QSize(220, 131));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "not resizable";
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinMaxButtonsHint);

    auto* label1 = form.findChild<QLabel*>("Label1");
    auto* label2 = form.findChild<QLabel*>("Label2");
    auto* bevel = form.findChild<QFrame*>("Bevel1");
    auto* combo = form.findChild<QComboBox*>("PortsComboBox");
    auto* ok = form.findChild<QPushButton*>("OkBtn");
    auto* abort = form.findChild<QPushButton*>("AbortBtn");
    ASSERT_TRUE(label1 && label2 && bevel && combo && ok && abort);

    EXPECT_EQ(label1->text(), "The configured serial port is not valid.");
    EXPECT_EQ(label1->pos(), QPoint(18, 14));
    EXPECT_EQ(label2->text(), "Please choose another port.");
    EXPECT_EQ(label2->pos(), QPoint(18, 30));
    EXPECT_EQ(bevel->geometry(), QRect(8, 8, 201, 42));
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(combo->pos(), QPoint(8, 64));
    EXPECT_EQ(combo->width(), 201);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(6, 96, 85, 27));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(abort->text(), "Cancel");
    EXPECT_EQ(abort->geometry(), QRect(126, 95, 85, 27));
    EXPECT_FALSE(abort->isDefault());
}

TEST(ComSelectForm, ListsPresentPortsInOrderWithTheFirstSelected) {
    FakePorts ports({12, 3, 1}, {{2, "/nonexistent/pellwick-no-such-device"}});
    TComSelectForm form;
    EXPECT_EQ(Items(form), (QStringList{"COM1", "COM3", "COM12"}));
    auto* combo = form.findChild<QComboBox*>("PortsComboBox");
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(form.ChosenPortNumber(), 1);
    combo->setCurrentIndex(1);
    EXPECT_EQ(form.ChosenPortNumber(), 3);
    combo->setCurrentIndex(2);
    EXPECT_EQ(form.ChosenPortNumber(), 12);
}

TEST(PortLists, PortsAbove50AreNeitherListedNorOpened) {
    FakePorts ports({50, 51, 200});
    DeviceRecorder recorder;
    TComSelectForm form;
    EXPECT_EQ(Items(form), (QStringList{"COM50"}));
    EXPECT_EQ(recorder.OpenedPaths(), (std::vector<std::string>{ports.PathOf(50)}));
}

TEST(ComSelectForm, SelectorReturnsThePortConfirmedWithOk) {
    FakePorts ports({1, 3});
    WhenShown driver([](TComSelectForm& form) {
        form.findChild<QComboBox*>("PortsComboBox")->setCurrentIndex(1);
        Click(form, "OkBtn");
    });
    int comNumber = 0;
    EXPECT_TRUE(SelectPortWithDialog(comNumber));
    EXPECT_TRUE(driver.Acted());
    EXPECT_EQ(comNumber, 3);
}

TEST(ComSelectForm, EnterConfirmsThePreselectedPort) {
    FakePorts ports({4});
    WhenShown driver([](TComSelectForm& form) { QTest::keyClick(&form, Qt::Key_Return); });
    int comNumber = 0;
    EXPECT_TRUE(SelectPortWithDialog(comNumber));
    EXPECT_EQ(comNumber, 4);
}

TEST(ComSelectForm, CancelEscapeAndCloseChooseNothing) {
    FakePorts ports({1});
    const std::vector<std::function<void(TComSelectForm&)>> dismissals = {
        [](TComSelectForm& form) { Click(form, "AbortBtn"); },
        [](TComSelectForm& form) { QTest::keyClick(&form, Qt::Key_Escape); },
        [](TComSelectForm& form) { form.close(); },
    };
    for (std::size_t i = 0; i < dismissals.size(); ++i) {
        WhenShown driver(dismissals[i]);
        int comNumber = 7;
        EXPECT_FALSE(SelectPortWithDialog(comNumber)) << "dismissal " << i;
        EXPECT_TRUE(driver.Acted()) << "dismissal " << i;
        EXPECT_EQ(comNumber, 7) << "dismissal " << i;
    }
}

TEST(ComSelectForm, OkWithNoPortListedChoosesNothing) {
    FakePorts ports({});
    {
        TComSelectForm form;
        EXPECT_TRUE(Items(form).isEmpty());
        EXPECT_EQ(form.ChosenPortNumber(), 0);
    }
    WhenShown driver([](TComSelectForm& form) { Click(form, "OkBtn"); });
    int comNumber = 0;
    EXPECT_FALSE(SelectPortWithDialog(comNumber));
    EXPECT_TRUE(driver.Acted());
    EXPECT_EQ(comNumber, 0);
}

TEST(ComSelectForm, PortComponentOpensThePortChosenInTheDialogAndCancelIsNoPortSelected) {
    FakePorts ports({1, 3});
    const ScopedHook selector{TVaxoCustomComPort::PortSelectorHook(), SelectPortWithDialog};
    TVaxoComPort port;
    port.SetAutoOpen(false);
    port.SetComNumber(0);
    port.SetPromptForPort(true);
    {
        WhenShown driver([](TComSelectForm& form) {
            form.findChild<QComboBox*>("PortsComboBox")->setCurrentIndex(1);
            Click(form, "OkBtn");
        });
        port.SetOpen(true);
        EXPECT_TRUE(port.Open());
        EXPECT_EQ(port.ComNumber(), 3);
        port.SetOpen(false);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return port.PortState() == TVaxoCustomComPort::State::Closed; }, 10000));
    }
    port.SetComNumber(0);
    {
        WhenShown driver([](TComSelectForm& form) { Click(form, "AbortBtn"); });
        int error = 0;
        try {
            port.SetOpen(true);
        } catch (const EVaxoException& e) {
            error = e.ErrorNumber();
        }
        EXPECT_EQ(error, ecNoPortSelected);
        EXPECT_FALSE(port.Open());
    }
}

} // namespace
} // namespace pellwick
