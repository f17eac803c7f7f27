// The terminal form on the real port component (COM1 on a pseudo-terminal): showing and closing
// hand the received bytes between the host and the terminal, the status line, menus and keys.
#include "RecordingTerminalHost.h"
#include "TerminalPtyFixture.h"
#include "lights/TVaxoSLController.h"
#include "lights/TVaxoStatusLight.h"
#include "support/TempFolder.h"
#include "terminal/ITerminalHost.h"
#include "terminal/TFrmTerminal.h"
#include "terminal/TTerminal.h"
#include "terminal/TVaxoTerminal.h"
#include "terminal/TerminalSettings.h"

#include <QAccessible>
#include <QAction>
#include <QHeaderView>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

using namespace pellwick;
using namespace pellwick::test;

namespace {

class TerminalFormTest : public TerminalPtyFixture {
protected:
    void SetUp() override {
        TerminalPtyFixture::SetUp();
        OpenPort();
        host.port = port.get();
        form = std::make_unique<TFrmTerminal>(port.get(), &host);
    }
    void TearDown() override {
        form.reset();
        TerminalPtyFixture::TearDown();
    }
    void Show() {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->Terminal().Window().setFocus();
    }
    const TBuffer& Buf() { return form->Terminal().Buffer(); }
    QAction* Action(const char* name) { return form->findChild<QAction*>(name); }

    RecordingTerminalHost host;
    std::unique_ptr<TFrmTerminal> form;
};

TEST_F(TerminalFormTest, CreationReopensThePortAndLeavesTheTerminalInactive) {
    EXPECT_EQ(TVaxoCustomComPort::State::Open, port->PortState());
    EXPECT_FALSE(form->Terminal().Active());
    EXPECT_FALSE(form->LightController().Watching());
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(1, host.reopens);
    pty.Write("early");
    PumpFor(200);
    EXPECT_EQ("", RowText(Buf(), 0));
}

TEST_F(TerminalFormTest, ShowingAgainAfterClosingReactivatesTheTerminalAndSwitchesTheTriggerOff) {
    Show();
    EXPECT_EQ(std::vector<bool>{false}, host.calls);
    EXPECT_TRUE(form->Terminal().Active());
    EXPECT_TRUE(form->LightController().Watching());
    pty.Write("one");
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "one"; }));
    auto* rx = form->findChild<TVaxoStatusLight*>("SLRx");
    EXPECT_TRUE(PumpUntil([&] { return rx->Lit(); })); // the lights watch the same port

    form->close();
    EXPECT_EQ((std::vector<bool>{false, true}), host.calls);
    EXPECT_FALSE(form->Terminal().Active());
    EXPECT_FALSE(form->LightController().Watching());
    pty.Write("two");
    PumpFor(200);
    EXPECT_EQ("one", RowText(Buf(), 0));
    // The bytes stay in the port for whoever reads next.
    EXPECT_TRUE(PumpUntil([&] { return port->InputCount() == 3; }));

    Show();
    EXPECT_EQ((std::vector<bool>{false, true, false}), host.calls);
    EXPECT_TRUE(form->Terminal().Active());
    pty.Write("!");
    EXPECT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "onetwo!"; }));
}

TEST_F(TerminalFormTest, StatusLineShowsPortSettingsAndCursorPosition) {
    EXPECT_EQ("COM? N81 19200", form->StatusText(0));
    EXPECT_EQ("01 01", form->StatusText(1));
    EXPECT_EQ(209, form->StatusSectionWidth(0));

    form->FormActivate();
    EXPECT_EQ(" COM1 8N1 19200", form->StatusText(0));

    TVaxoComPort other;
    other.SetComNumber(2);
    other.SetDataBits(7);
    other.SetParity(pEven);
    other.SetStopBits(2);
    other.SetBaud(9600);
    EXPECT_EQ(" COM2 7E2 9600", TFrmTerminal::PortSettingsText(&other));
    EXPECT_EQ("", TFrmTerminal::PortSettingsText(nullptr));

    Show();
    form->Terminal().Clear();
    ASSERT_TRUE(PumpUntil([&] { return form->StatusText(1) == " 1  1"; }));
    EXPECT_EQ(155, form->StatusSectionWidth(0));
    EXPECT_EQ(45, form->StatusSectionWidth(1));
    pty.Write("abc\r\nde");
    EXPECT_TRUE(PumpUntil([&] { return form->StatusText(1) == " 2  3"; }));
}

TEST_F(TerminalFormTest, InsertTogglesScrollbackWithoutTheMenuCheckAndShowsWhatArrivedMeanwhile) {
    Show();
    QAction* scrollBack = Action("MnuItmScrollBack");
    ASSERT_NE(nullptr, scrollBack);
    QTest::keyClick(&form->Terminal().Window(), Qt::Key_Insert);
    EXPECT_TRUE(form->Terminal().Scrollback());
    EXPECT_FALSE(scrollBack->isChecked());
    EXPECT_TRUE(PumpUntil([&] { return form->StatusText(1) == " 0  0"; }));

    pty.Write("waiting\r\n");
    EXPECT_TRUE(PumpUntil([&] { return port->InputCount() == 9; }));
    PumpFor(100);
    EXPECT_EQ("", RowText(Buf(), 0));

    QTest::keyClick(&form->Terminal().Window(), Qt::Key_Insert);
    EXPECT_FALSE(form->Terminal().Scrollback());
    EXPECT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "waiting"; }));

    scrollBack->trigger();
    EXPECT_TRUE(form->Terminal().Scrollback());
    EXPECT_TRUE(scrollBack->isChecked());
    scrollBack->trigger();
    EXPECT_FALSE(form->Terminal().Scrollback());
    EXPECT_FALSE(scrollBack->isChecked());
}

TEST_F(TerminalFormTest, ClearMenuBlanksTheBufferAndExitClosesTheForm) {
    Show();
    pty.Write("text\r\nmore");
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 1) == "more"; }));
    Action("MnuItmClear")->trigger();
    EXPECT_EQ("", RowText(Buf(), 0));
    EXPECT_EQ("", RowText(Buf(), 1));
    EXPECT_EQ(0, Buf().CursorRow());

    Action("MnuItmExit")->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ((std::vector<bool>{false, true}), host.calls);
}

TEST_F(TerminalFormTest, FormCarriesItsCaptionControlsAndLamps) {
    EXPECT_EQ("RS232 Terminal", form->windowTitle());
    // The form holds the terminal's 80 x 25 cells exactly, whatever the font, and grows no
    // further; the text area fills the terminal control.
    Show();
    const TBuffer& b = Buf();
    EXPECT_EQ(QSize(80 * b.CellWidth(), 25 * b.CellHeight()),
              form->Terminal().Window().viewport()->size());
    EXPECT_EQ(form->Terminal().rect(), form->Terminal().Window().geometry());
    EXPECT_EQ(form->size(), form->maximumSize());
    EXPECT_EQ(QSize(b.CellWidth(), b.CellHeight()), form->sizeIncrement());
    EXPECT_EQ(110, form->property("HelpContext").toInt());
    for (const char* name :
         {"VaxoTerminal1", "PnlLights", "StatusLine", "TermMenu", "FontDialog1"}) {
        EXPECT_NE(nullptr, form->findChild<QObject*>(name)) << name;
    }
    const struct {
        const char* name;
        int left;
        const char* spoken; // what a screen reader says of it
    } lamps[] = {{"SLRx", 32, "Rx off"},    {"SLTx", 80, "Tx off"},    {"SLCts", 136, "CTS off"},
                 {"SLDsr", 192, "DSR off"}, {"SLDcd", 248, "DCD off"}, {"SLBrk", 304, "BRK off"},
                 {"SLErr", 360, "ERR off"}};
    for (const auto& l : lamps) {
        auto* lamp = form->findChild<TVaxoStatusLight*>(l.name);
        ASSERT_NE(nullptr, lamp) << l.name;
        EXPECT_EQ(QRect(l.left, 8, 13, 13), lamp->geometry()) << l.name;
        EXPECT_FALSE(lamp->Lit());
        EXPECT_EQ(l.spoken,
                  QAccessible::queryAccessibleInterface(lamp)->text(QAccessible::Description));
    }
    EXPECT_EQ(
        "RS232 Terminal",
        QAccessible::queryAccessibleInterface(&form->Terminal().Window())->text(QAccessible::Name));
    EXPECT_TRUE(form->LightController().Lights().Assigned(TLightSet::RXD));
    EXPECT_TRUE(form->LightController().Lights().Assigned(TLightSet::ERROR));
    EXPECT_FALSE(form->LightController().Lights().Assigned(TLightSet::RING));
    const QStringList menus = [&] {
        QStringList titles;
        for (QAction* a : form->menuBar()->actions()) {
            titles << a->text();
        }
        return titles;
    }();
    EXPECT_EQ((QStringList{"&File", "&Edit", "&Font", "&View", "&Line"}), menus);
}

// The design place (3, 339) leaves the lamps and the status line below the edge of a small
// screen; a font too large for the screen's height costs rows, not the lamps.
TEST_F(TerminalFormTest, TheFormFitsItsScreen) {
    for (const int pixels : {12, 40}) {
        SCOPED_TRACE("font " + std::to_string(pixels) + " px");
        // The font comes as a saved one does, and the form is laid out anew for it.
        QFont font = form->Terminal().Font();
        font.setPixelSize(pixels);
        TempFolder folder;
        const std::string ini = folder.File("loader.ini");
        std::ofstream(ini) << "[" << TerminalSettings::Section
                           << "]\nFont=" << font.toString().toStdString() << "\n";
        form->move(3, 339);
        form->SetSettingsFile(ini);
        Show();
        const QRect room = form->screen()->availableGeometry();
        EXPECT_TRUE(room.contains(form->frameGeometry()))
            << "screen " << room.width() << "x" << room.height() << ", form at "
            << form->frameGeometry().y() << ", " << form->frameGeometry().height() << " high";
        EXPECT_TRUE(form->findChild<QWidget*>("PnlLights")->isVisible());
        form->close();
    }
}

TEST_F(TerminalFormTest, ReopenFailureInCreationIsSwallowedAndShowingLeavesActivationPending) {
    form.reset();
    ClosePort();
    port->SetComNumber(3); // not in the port map
    form = std::make_unique<TFrmTerminal>(port.get(), &host);
    EXPECT_EQ(TVaxoCustomComPort::State::Closed, port->PortState());
    Show();
    EXPECT_FALSE(form->Terminal().Active());
    EXPECT_TRUE(form->Terminal().ActivationPending());

    port->SetComNumber(1);
    port->SetOpen(true);
    EXPECT_TRUE(form->Terminal().Active());
    pty.Write("late");
    EXPECT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "late"; }));
}

TEST_F(TerminalFormTest, ALostPortSaysDisconnectedAndRefusesTypingWithOneBeep) {
    Show();
    pty.Write("last");
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "last"; }));
    form->Terminal().SetScrollback(true); // the screen's own lines wait for the live view
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil(
        [&] { return port->Lost() && port->PortState() == TVaxoCustomComPort::State::Closed; }));
    EXPECT_EQ("", RowText(Buf(), 1));
    form->Terminal().SetScrollback(false);
    EXPECT_EQ(" disconnected", form->StatusText(0));
    QTest::keyClicks(&form->Terminal().Window(), "typed\r");
    EXPECT_EQ(1, form->RefusedKeyBeeps());
    EXPECT_EQ("last", RowText(Buf(), 0));
    // The gap stays in the scrollback: a line when the port went, one when it came back.
    EXPECT_TRUE(QRegularExpression("^-- disconnected \\d\\d:\\d\\d:\\d\\d --$")
                    .match(QString::fromStdString(RowText(Buf(), 1)))
                    .hasMatch())
        << RowText(Buf(), 1);

    // Back on a device: the settings return to the status line and typing goes out again.
    port->SetComNumber(2);
    port->SetOpen(true);
    EXPECT_EQ(" COM2 8N1 19200", form->StatusText(0));
    EXPECT_EQ("-- connected --", RowText(Buf(), 2));
    EXPECT_TRUE(form->Terminal().Active());
    QTest::keyClicks(&form->Terminal().Window(), "ok");
    EXPECT_EQ("ok", Str(pty2.Read(2)));
    EXPECT_EQ(1, form->RefusedKeyBeeps());
}

// While an upload has the line the main window makes the terminal inactive: a typed byte would
// land inside the file being sent, so none is sent or kept, and one beep says so.
TEST_F(TerminalFormTest, TypingWhileAnUploadHasTheLineIsRefusedWithOneBeep) {
    Show();
    form->Terminal().SetActive(false);
    QTest::keyClicks(&form->Terminal().Window(), "typed\r");
    EXPECT_EQ(1, form->RefusedKeyBeeps());
    form->Terminal().SetActive(true);
    QTest::keyClicks(&form->Terminal().Window(), "ok");
    EXPECT_EQ("ok", Str(pty.Read(2)));
    form->Terminal().SetActive(false);
    QTest::keyClick(&form->Terminal().Window(), 'x');
    EXPECT_EQ(2, form->RefusedKeyBeeps());
}

} // namespace
