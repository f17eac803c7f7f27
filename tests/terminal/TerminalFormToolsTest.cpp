// The terminal form's daily-work items on a real port: paste, capture, hex view, line ends and
// echo, break, DTR and RTS, and the [Terminal] settings. The peer is a pseudo-terminal, the
// device simulator (for line-rate and flood runs), or a device double where a pseudo-terminal
// has no modem lines or breaks.
#include "RecordingTerminalHost.h"
#include "SerialTestSupport.h"
#include "TerminalPtyFixture.h"
#include "devsim/DevsimOptions.h"
#include "lights/TVaxoStatusLight.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "support/DevsimHarness.h"
#include "support/ScriptedBoxes.h"
#include "support/TempFolder.h"
#include "terminal/HexFormatter.h"
#include "terminal/LineEnds.h"
#include "terminal/TFrmTerminal.h"
#include "terminal/TTerminal.h"
#include "terminal/TVaxoTerminal.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QWheelEvent>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <numeric>
#include <sstream>

using namespace pellwick;
using namespace pellwick::test;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes the simulator's transcript logged in one direction ('<' received, '>' sent).
std::string TranscriptBytes(const std::string& path, char direction) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::string out;
    while (std::getline(in, line)) {
        // "  0.000337 < VER\r": stamp, direction, escaped bytes
        const std::size_t mark = line.find(' ', line.find_first_not_of(' '));
        std::string bytes;
        if (mark != std::string::npos && mark + 2 < line.size() && line[mark + 1] == direction &&
            DevsimOptions::Unescape(line.substr(mark + 3), bytes)) {
            out += bytes;
        }
    }
    return out;
}

// Reads from the peer while the event loop runs, as a paced send needs it to.
std::string ReadPumping(PtyPair& pty, std::size_t count) {
    std::string got;
    PumpUntil(
        [&] {
            const std::vector<std::uint8_t> some = pty.ReadFor(1);
            got.append(some.begin(), some.end());
            return got.size() >= count;
        },
        10000);
    return got;
}

// The form on COM1 as the program builds it, with a recording host and message boxes.
class FormFixture {
protected:
    void MakeForm(const std::string& com1) {
        PortMap::SetGlobal(std::make_shared<PortMap>(std::map<int, std::string>{{1, com1}}));
        port = std::make_unique<TVaxoComPort>();
        port->SetComNumber(1);
        port->SetAutoOpen(false);
        port->SetPromptForPort(false);
        port->SetOpen(true);
        ASSERT_EQ(TVaxoCustomComPort::State::Open, port->PortState());
        host.port = port.get();
        form = std::make_unique<TFrmTerminal>(port.get(), &host);
        form->SetMessageBoxes(&boxes);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        Window().setFocus();
    }
    void DropForm() {
        form.reset();
        if (port) {
            port->SetOpen(false);
            PumpUntil([&] { return port->PortState() == TVaxoCustomComPort::State::Closed; });
            port.reset();
        }
    }
    TTerminal& Window() { return form->Terminal().Window(); }
    const TBuffer& Buf() { return form->Terminal().Buffer(); }
    QAction* Action(const char* name) { return form->findChild<QAction*>(name); }
    void Paste(const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(&Window(), Qt::Key_Insert, Qt::ShiftModifier);
    }
    // Runs act on the modal dialog of this name once exec() shows it.
    void OnModal(const char* name, std::function<void(QDialog*)> act) {
        auto* poll = new QTimer(form.get());
        QObject::connect(poll, &QTimer::timeout, [poll, name, act] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog->objectName() == name) {
                poll->stop();
                poll->deleteLater();
                act(dialog);
            }
        });
        poll->start(10);
    }
    static QStringList Captions(const QMenu* menu) {
        QStringList captions;
        for (const QAction* a : menu->actions()) {
            captions << a->text();
        }
        return captions;
    }

    ScopedHook<std::shared_ptr<const PortMap>> portMap_{PortMap::GlobalHook(), nullptr};
    std::unique_ptr<TVaxoComPort> port;
    RecordingTerminalHost host;
    ScriptedBoxes boxes{Unscripted::PressFirstButton};
    std::unique_ptr<TFrmTerminal> form;
};

// COM1 is a pseudo-terminal whose master the test plays.
class FormOnPty : public ::testing::Test, public FormFixture {
protected:
    void SetUp() override { MakeForm(pty.SlavePath()); }
    void TearDown() override { DropForm(); }
    PtyPair pty;
};

TEST_F(FormOnPty, NewItemsFollowTheOldOnesWhichKeepTheirPlaces) {
    const QList<QAction*> menus = form->menuBar()->actions();
    ASSERT_EQ(5, menus.size());
    EXPECT_EQ((QStringList{"&Clear terminal", "Scroll Back", "", "&Exit", "", "Capture to File...",
                           "Stop Capture", "Capture What Is Sent", "Append to Capture File", "",
                           "Send File..."}),
              Captions(menus[0]->menu()));
    EXPECT_EQ((QStringList{"Copy", "Paste", "Paste Pacing..."}), Captions(menus[1]->menu()));
    EXPECT_EQ(nullptr, menus[2]->menu()); // "&Font" opens the dialog itself
    EXPECT_EQ((QStringList{"Hex", "Local Echo", "", "Send Line End", "Receive CR as CR LF",
                           "Receive LF as CR LF"}),
              Captions(menus[3]->menu()));
    EXPECT_EQ((QStringList{"Send Break", "", "DTR", "RTS"}), Captions(menus[4]->menu()));
}

TEST_F(FormOnPty, EveryItemHasAKeyOfItsOwnAndCtrlWithALetterStillGoesToTheDevice) {
    QList<QKeySequence> taken;
    std::function<void(const QList<QAction*>&)> visit = [&](const QList<QAction*>& items) {
        for (QAction* item : items) {
            if (item->menu()) {
                visit(item->menu()->actions());
                continue;
            }
            if (item->isSeparator()) {
                continue;
            }
            ASSERT_FALSE(item->shortcuts().isEmpty()) << item->text().toStdString();
            for (const QKeySequence& key : item->shortcuts()) {
                EXPECT_FALSE(taken.contains(key)) << key.toString().toStdString();
                taken << key;
                const QKeyCombination combo = key[0];
                EXPECT_FALSE(combo.keyboardModifiers() == Qt::ControlModifier &&
                             combo.key() >= Qt::Key_A && combo.key() <= Qt::Key_Z)
                    << key.toString().toStdString();
            }
        }
    };
    visit(form->menuBar()->actions());

    const struct {
        QKeyCombination key;
        const char* item; // checked afterwards
    } rows[] = {{Qt::CTRL | Qt::SHIFT | Qt::Key_H, "MnuItmHex"},
                {Qt::CTRL | Qt::SHIFT | Qt::Key_E, "MnuItmLocalEcho"},
                {Qt::CTRL | Qt::SHIFT | Qt::Key_J, "MnuItmSendLf"},
                {Qt::CTRL | Qt::ALT | Qt::Key_M, "MnuItmReceiveCr"}};
    for (const auto& r : rows) {
        QTest::keyClick(&Window(), r.key.key(), r.key.keyboardModifiers());
        EXPECT_TRUE(Action(r.item)->isChecked()) << r.item;
    }
    QTest::keyClick(&Window(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(std::vector<std::uint8_t>{0x03}, pty.Read(1));
    EXPECT_TRUE(pty.ReadFor(100).empty());
}

TEST_F(FormOnPty, TheTextAreaHasAContextMenuAndAMiddleClickPastesTheMarkedText) {
    QStringList shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            shown = Captions(menu);
            menu->close();
        }
    });
    poll.start(10);
    emit Window().customContextMenuRequested(QPoint(5, 5));
    poll.stop();
    EXPECT_EQ((QStringList{"Copy", "Paste", "&Clear terminal", "Hex"}), shown);

    pty.Write("hello world");
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "hello world"; }));
    QWidget* viewport = Window().viewport();
    const int y = Buf().CellHeight() / 2;
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(1, y));
    QTest::mouseMove(viewport, QPoint(Buf().CellWidth() * 11 + 1, y));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(Buf().CellWidth() * 11 + 1, y));
    QTest::mouseClick(viewport, Qt::MiddleButton, {}, QPoint(1, 5 * Buf().CellHeight()));
    EXPECT_EQ("hello world\r", Str(pty.Read(12)));
}

TEST_F(FormOnPty, TheWheelBrowsesTheHistoryAndTheBottomOrATypedKeyReturnsToTheLiveView) {
    auto wheel = [&](int notches) {
        QWheelEvent e(QPointF(5, 5), Window().viewport()->mapToGlobal(QPointF(5, 5)), QPoint(),
                      QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(Window().viewport(), &e);
    };
    std::string lines;
    for (int i = 0; i < 60; ++i) {
        lines += "line " + std::to_string(i) + "\r\n";
    }
    pty.Write(lines);
    ASSERT_TRUE(PumpUntil([&] { return Buf().CursorRow() - Buf().ViewTop() == 24; }));
    const int liveTop = Buf().ViewTop();
    wheel(2);
    EXPECT_TRUE(form->Terminal().Scrollback());
    EXPECT_EQ(liveTop - 2 * TTerminal::WheelRows, Buf().ViewTop());
    pty.Write("meanwhile");
    PumpFor(200);
    wheel(-1);
    EXPECT_TRUE(form->Terminal().Scrollback());
    EXPECT_EQ(liveTop - TTerminal::WheelRows, Buf().ViewTop());
    wheel(-1);
    EXPECT_FALSE(form->Terminal().Scrollback());
    EXPECT_EQ(liveTop, Buf().ViewTop());
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), Buf().CursorRow()) == "meanwhile"; }));

    wheel(3);
    ASSERT_TRUE(form->Terminal().Scrollback());
    QTest::keyClick(&Window(), 'x');
    EXPECT_FALSE(form->Terminal().Scrollback());
    EXPECT_EQ("x", Str(pty.Read(1)));

    // Scrollback opened by Insert is left by Insert alone.
    QTest::keyClick(&Window(), Qt::Key_Insert);
    wheel(-1);
    QTest::keyClick(&Window(), 'y');
    EXPECT_TRUE(form->Terminal().Scrollback());
    EXPECT_TRUE(pty.ReadFor(100).empty());
    QTest::keyClick(&Window(), Qt::Key_Insert);
    EXPECT_FALSE(form->Terminal().Scrollback());
    EXPECT_FALSE(Action("MnuItmScrollBack")->isChecked());
}

TEST_F(FormOnPty, WithLocalEchoEnterStartsANewLineWhateverTheLineEndSent) {
    Action("MnuItmLocalEcho")->trigger();
    const struct {
        const char* item;
        const char* sent;
    } rows[] = {
        {"MnuItmSendCr", "VER\r"}, {"MnuItmSendLf", "VER\n"}, {"MnuItmSendCrLf", "VER\r\n"}};
    for (const auto& r : rows) {
        form->Terminal().Clear();
        Action(r.item)->trigger();
        QTest::keyClicks(&Window(), "VER");
        QTest::keyClick(&Window(), Qt::Key_Return);
        EXPECT_EQ(r.sent, Str(pty.Read(std::strlen(r.sent)))) << r.item;
        pty.Write("VER=2.10");
        EXPECT_TRUE(PumpUntil([&] { return RowText(Buf(), 1) == "VER=2.10"; })) << r.item;
        EXPECT_EQ("VER", RowText(Buf(), 0)) << r.item;
    }
}

TEST_F(FormOnPty, ACaptureKeepsWhatWasSentMarkedApartAndAppendsWhenAsked) {
    TempFolder folder;
    const std::string path = folder.File("session.log");
    {
        std::ofstream out(path, std::ios::binary);
        out << "earlier\n";
    }
    Action("MnuItmCaptureSent")->trigger();
    Action("MnuItmCaptureAppend")->trigger();
    ASSERT_TRUE(form->StartCapture(QString::fromStdString(path), CaptureWriter::Mode::TimeStamped));
    QTest::keyClicks(&Window(), "VER\r");
    EXPECT_EQ("VER\r", Str(pty.Read(4)));
    pty.Write("VER=2.10\r\n#");
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 1) == "#"; }));
    Action("MnuItmStopCapture")->trigger();
    // Each line: a 29-character stamp, a blank, the direction, a blank, the bytes.
    std::istringstream file(ReadFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line.size() > 30 ? line.substr(30) : line);
    }
    EXPECT_EQ((std::vector<std::string>{"earlier", "TX VER\r", "RX VER=2.10\r", "RX #"}), lines);
}

TEST_F(FormOnPty, APasteWaitsForThePromptBeforeEachLineAndStopsWhenItDoesNotCome) {
    bool dialogSeen = false;
    OnModal("DlgPastePacing", [&](QDialog* dialog) {
        dialog->findChild<QLineEdit*>("EdtPrompt")->setText("> ");
        dialog->findChild<QSpinBox*>("SpnPromptTimeout")->setValue(1000);
        dialogSeen = true;
        dialog->accept();
    });
    QTest::keyClick(&Window(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(dialogSeen);
    EXPECT_EQ("> ", form->Settings().Pacing.prompt);

    form->PasteText("one\ntwo\nthree");
    EXPECT_EQ("one\r", ReadPumping(pty, 4));
    PumpFor(300);
    EXPECT_TRUE(pty.ReadFor(1).empty());
    pty.Write("ok\r\n> ");
    EXPECT_EQ("two\r", ReadPumping(pty, 4));
    ASSERT_TRUE(PumpUntil([&] { return !form->Terminal().Pasting(); }));
    EXPECT_TRUE(form->StatusText(2).startsWith("Paste stopped after line 2: no prompt \"> \""))
        << form->StatusText(2).toStdString();
    EXPECT_TRUE(pty.ReadFor(100).empty());
}

TEST_F(FormOnPty, SendFileSendsEveryByteAsItIsAndReportsAFileItCannotRead) {
    TempFolder folder;
    std::string bytes;
    for (int i = 0; i < 1024; ++i) {
        bytes += static_cast<char>(i & 0xFF);
    }
    const std::string path = folder.File("image.bin");
    {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }
    ASSERT_TRUE(form->SendFile(QString::fromStdString(path)));
    const std::string got = ReadPumping(pty, bytes.size());
    EXPECT_TRUE(got == bytes) << got.size();
    ASSERT_TRUE(PumpUntil([&] { return !form->Terminal().Pasting(); }));
    EXPECT_EQ("", form->StatusText(2));

    EXPECT_FALSE(form->SendFile(QString::fromStdString(folder.File("missing.bin"))));
    ASSERT_EQ(1u, boxes.Shown.size());
    EXPECT_EQ(0u, boxes.Shown[0].Text.find("Cannot read " + folder.File("missing.bin")));
}

// What the screen shows (the window system's copy, not a fresh paint): the caret drawn after a
// plain write is cleared when the cursor moves on.
TEST_F(FormOnPty, TheCaretLeavesNoTraceOnScreenWhereTheCursorWas) {
    ASSERT_TRUE(Window().hasFocus());
    const auto cellColour = [&](int column, int row) {
        const QPoint at = Window().viewport()->mapTo(
            form.get(), QPoint(column * Buf().CellWidth() + Buf().CellWidth() / 2,
                               row * Buf().CellHeight() + Buf().CellHeight() / 2));
        const QImage screen = form->screen()->grabWindow(form->winId()).toImage();
        return screen.pixelColor(at).lightness();
    };
    pty.Write("#");
    ASSERT_TRUE(PumpUntil([&] { return cellColour(1, 0) > 128; })); // the caret after '#'
    form->Terminal().ShowNote("-- note --");
    ASSERT_TRUE(PumpUntil([&] { return cellColour(0, 2) > 128; }));
    EXPECT_LT(cellColour(1, 0), 64);
}

TEST_F(FormOnPty, ShiftInsertPastesWithTheSendLineEndWhileCtrlVAndInsertKeepTheirMeaning) {
    Paste("ab\r\ncd\nef");
    EXPECT_EQ("ab\rcd\ref", Str(pty.Read(8)));
    EXPECT_FALSE(form->Terminal().Scrollback());

    QTest::keyClick(&Window(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(std::vector<std::uint8_t>{0x16}, pty.Read(1));

    Action("MnuItmSendCrLf")->trigger();
    Paste("x\ny");
    QTest::keyClick(&Window(), Qt::Key_Return);
    EXPECT_EQ("x\r\ny\r\n", Str(pty.Read(6)));
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(FormOnPty, EscStopsAPasteAndOnlyWhatWasSentBeforeReachesTheLine) {
    port->SetBaud(1200); // 120 bytes a second: the paste takes over a minute
    const std::string text(10000, 'p');
    Paste(QString::fromStdString(text));
    ASSERT_TRUE(form->Terminal().Pasting());
    ASSERT_TRUE(PumpUntil([&] { return form->StatusText(2).startsWith("Pasting "); }));
    PumpFor(300);
    QTest::keyClick(&Window(), Qt::Key_Escape);
    EXPECT_FALSE(form->Terminal().Pasting());
    const QString status = form->StatusText(2);
    ASSERT_TRUE(status.startsWith("Paste stopped after ")) << status.toStdString();
    const int sent = status.section(' ', 3, 3).toInt();
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 200);
    // Every byte handed out reaches the line, no more, and Esc itself is not sent.
    EXPECT_EQ(std::string(static_cast<std::size_t>(sent), 'p'),
              Str(pty.Read(static_cast<std::size_t>(sent))));
    EXPECT_TRUE(pty.ReadFor(300).empty());
}

TEST_F(FormOnPty, HexViewShowsAllByteValuesAsPairsWithTheirCharactersAndCopiesWhatIsShown) {
    pty.Write("text");
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "text"; }));
    Action("MnuItmHex")->trigger();
    ASSERT_TRUE(Action("MnuItmHex")->isChecked());
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), std::uint8_t{0});
    pty.Write(std::vector<std::uint8_t>(all.begin(), all.begin() + 100));
    pty.Write(std::vector<std::uint8_t>(all.begin() + 100, all.end()));
    ASSERT_TRUE(PumpUntil([&] { return !RowText(Buf(), 16).empty(); }));
    for (int line = 0; line < 16; ++line) {
        std::string expected;
        static const char digits[] = "0123456789ABCDEF";
        std::string chars;
        for (int i = 0; i < 16; ++i) {
            const int b = line * 16 + i;
            expected += {digits[b >> 4], digits[b & 15], ' '};
            chars += HexFormatter::Shown(static_cast<std::uint8_t>(b));
        }
        expected += ' ' + chars;
        expected.erase(expected.find_last_not_of(' ') + 1);
        EXPECT_EQ(expected, RowText(Buf(), line + 1)) << line;
    }

    // Row 2 (bytes 0x10 to 0x1F) marked with the mouse and copied.
    QWidget* viewport = Window().viewport();
    const int cw = Buf().CellWidth();
    const int ch = Buf().CellHeight();
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(1, 2 * ch + 1));
    QTest::mouseMove(viewport, QPoint(cw * 79 + 1, 2 * ch + 1));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(cw * 79 + 1, 2 * ch + 1));
    Action("MnuItmCopy")->trigger();
    EXPECT_EQ(QString::fromLatin1(RowText(Buf(), 2)) + "\r\n",
              QGuiApplication::clipboard()->text());

    Action("MnuItmHex")->trigger();
    pty.Write("back");
    EXPECT_TRUE(PumpUntil([&] { return RowText(Buf(), 17) == "back"; }));
}

TEST_F(FormOnPty, ReceivedLineEndsAndLocalEchoFollowTheViewMenu) {
    const struct {
        const char* item; // toggled before the row's bytes
        const char* received;
        const char* typed;
        std::vector<std::string> rows; // from the cursor's row at the start
    } rows[] = {
        {nullptr, "a\rb", "", {"b"}},
        {"MnuItmReceiveCr", "a\rb", "", {"a", "b"}},
        {"MnuItmReceiveLf", "c\nd", "", {"c", "d"}},
        {"MnuItmLocalEcho", "", "e", {"e"}},
    };
    for (const auto& r : rows) {
        form->Terminal().Clear();
        if (r.item) {
            Action(r.item)->trigger();
        }
        pty.Write(r.received);
        for (const char* c = r.typed; *c; ++c) {
            QTest::keyClick(&Window(), *c);
        }
        EXPECT_TRUE(PumpUntil([&] {
            for (std::size_t i = 0; i < r.rows.size(); ++i) {
                if (RowText(Buf(), static_cast<int>(i)) != r.rows[i]) {
                    return false;
                }
            }
            return true;
        })) << (r.item ? r.item : "none")
            << ": " << RowText(Buf(), 0);
    }
    EXPECT_TRUE(form->Terminal().HalfDuplex());
}

TEST_F(FormOnPty, CaptureIsShownWhileItRunsAndAFileThatFailsIsReportedAndStopsIt) {
    TempFolder folder;
    EXPECT_FALSE(
        form->StartCapture(QString::fromStdString(folder.Path()), CaptureWriter::Mode::Raw));
    ASSERT_EQ(1u, boxes.Shown.size());
    EXPECT_NE(std::string::npos, boxes.Shown[0].Text.find("Is a directory"));

    const std::string path = folder.File("stamped.log");
    ASSERT_TRUE(form->StartCapture(QString::fromStdString(path), CaptureWriter::Mode::TimeStamped));
    EXPECT_EQ("Capture on: stamped.log", form->StatusText(2));
    EXPECT_FALSE(Action("MnuItmCapture")->isEnabled());
    pty.Write("one\r\ntwo\r\n");
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 1) == "two"; }));
    Action("MnuItmStopCapture")->trigger();
    EXPECT_EQ("", form->StatusText(2));
    const std::string file = ReadFile(path);
    // "2026-12-09T08:07:08.123+00:00 one\r\n" and the same for "two"
    ASSERT_EQ(2 * (29 + 1) + 10, file.size()) << file;
    EXPECT_EQ(" one\r\n", file.substr(29, 6));
    EXPECT_EQ('T', file[10]);
    EXPECT_EQ('.', file[19]);

    ASSERT_TRUE(form->StartCapture("/dev/full", CaptureWriter::Mode::Raw));
    pty.Write("lost");
    ASSERT_TRUE(PumpUntil([&] { return boxes.Shown.size() == 2; }));
    EXPECT_NE(std::string::npos, boxes.Shown[1].Text.find("No space left on device"));
    EXPECT_FALSE(form->Capturing());
    EXPECT_TRUE(Action("MnuItmCapture")->isEnabled());
    EXPECT_EQ("", form->StatusText(2));
    EXPECT_EQ("lost", RowText(Buf(), 2)); // the screen still shows it
}

TEST_F(FormOnPty, ABreakOnThePortSucceedsAndNeedsAnOpenPort) {
    Action("MnuItmBreak")->trigger();
    EXPECT_EQ(std::vector<std::string>{"break"}, host.lines);
    EXPECT_TRUE(boxes.Shown.empty());
    port->SetOpen(false);
    ASSERT_TRUE(PumpUntil([&] { return port->PortState() == TVaxoCustomComPort::State::Closed; }));
    EXPECT_FALSE(Action("MnuItmBreak")->isEnabled());
    EXPECT_FALSE(Action("MnuItmDtr")->isEnabled());
    Paste("nothing");
    ASSERT_EQ(1u, boxes.Shown.size());
    EXPECT_EQ(0u, boxes.Shown[0].Text.find("Nothing was pasted: the port is not open"));
    // An upload takes the line from the terminal: a running paste ends there.
    port->SetOpen(true);
    ASSERT_TRUE(form->Terminal().Active());
    port->SetBaud(1200);
    Paste(QString(1000, 'u'));
    ASSERT_TRUE(form->Terminal().Pasting());
    form->Terminal().SetActive(false);
    EXPECT_FALSE(form->Terminal().Pasting());
}

TEST_F(FormOnPty, FontEchoAndLineEndsAreKeptInTheirOwnSectionForTheNextStart) {
    TempFolder folder;
    const std::string ini = folder.File("loader.ini");
    {
        std::ofstream out(ini, std::ios::binary);
        out << "[RS232Settings]\nBaud Rate=9600\n[Terminal]\nLocal Echo=1\nSend Line End=LF\n";
    }
    form->SetSettingsFile(ini);
    EXPECT_TRUE(form->Terminal().HalfDuplex());
    EXPECT_TRUE(Action("MnuItmSendLf")->isChecked());
    QTest::keyClick(&Window(), Qt::Key_Return);
    EXPECT_EQ("\n", Str(pty.Read(1)));

    QFont chosen = form->Terminal().Font();
    chosen.setPointSize(17);
    auto* dialog = form->findChild<QFontDialog*>("FontDialog1");
    QTimer::singleShot(0, dialog, [dialog, chosen] {
        dialog->setCurrentFont(chosen);
        dialog->accept();
    });
    form->findChild<QAction*>("MnuItmFont")->trigger();
    ASSERT_EQ(17, form->Terminal().Font().pointSize());
    // The form follows the new cells, so the text area still fills it: all 80 x 25 of them, or
    // as many whole ones as the screen has room for.
    const QSize view = Window().viewport()->size();
    EXPECT_EQ(0, view.width() % Buf().CellWidth());
    EXPECT_EQ(0, view.height() % Buf().CellHeight());
    EXPECT_LE(view.width(), 80 * Buf().CellWidth());
    EXPECT_LE(view.height(), 25 * Buf().CellHeight());
    Action("MnuItmReceiveCr")->trigger();

    const std::string text = ReadFile(ini);
    EXPECT_EQ(0u, text.find("[RS232Settings]\nBaud Rate=9600\n[Terminal]\n"));
    const TerminalSettings kept = TerminalSettings::Load(PrivateProfile(ini));
    EXPECT_TRUE(kept.LineEnds.receiveCrAsCrLf);
    EXPECT_EQ(LineEnd::Lf, kept.LineEnds.send);

    // The next start: a new form reads them back.
    form.reset();
    form = std::make_unique<TFrmTerminal>(port.get(), &host);
    form->SetSettingsFile(ini);
    EXPECT_EQ(17, form->Terminal().Font().pointSize());
    EXPECT_EQ(0, chosen.family().compare(form->Terminal().Font().family(), Qt::CaseInsensitive));
    EXPECT_TRUE(form->Terminal().LineEnds().receiveCrAsCrLf);
    EXPECT_TRUE(Action("MnuItmLocalEcho")->isChecked());
}

// COM1 is the device simulator.
class FormOnDevsim : public ::testing::Test, public FormFixture {
protected:
    void Start(DeviceConfig config, std::int32_t baud) {
        config.transcriptPath = harness.File("transcript.log");
        ASSERT_TRUE(harness.StartInProcess(config)) << harness.Error();
        MakeForm(harness.SlavePath());
        port->SetBaud(baud);
    }
    void TearDown() override {
        DropForm();
        harness.Stop();
    }
    DevsimHarness harness;
};

// Three times what the pseudo-terminal and the simulator's line can hold at once, so the paste
// must wait for room again and again; at 115200 baud that takes about 6 s of line time.
TEST_F(FormOnDevsim, APasteLongerThanTheLineHoldsArrivesByteForByteAtTheLinesPace) {
    DeviceConfig config;
    config.baud = 115200;
    Start(config, 115200);
    QString text;
    for (int line = 0; text.size() < 64 * 1024; ++line) {
        text += QString("%1 the quick brown fox jumps over the lazy dog\n")
                    .arg(line, 5, 10, QChar('0'));
    }
    text.truncate(64 * 1024);
    const std::string expected = PastedBytes(text.toStdString(), LineEnd::Cr);
    Paste(text);
    bool progressShown = false;
    ASSERT_TRUE(PumpUntil(
        [&] {
            progressShown = progressShown || form->StatusText(2).startsWith("Pasting ");
            return !form->Terminal().Pasting();
        },
        240000));
    EXPECT_TRUE(progressShown);
    EXPECT_EQ("", form->StatusText(2));
    ASSERT_TRUE(
        PumpUntil([&] { return harness.Server()->BytesReceived() >= expected.size(); }, 30000));
    harness.Stop();
    EXPECT_TRUE(TranscriptBytes(harness.File("transcript.log"), '<') == expected);
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(FormOnDevsim, ACaptureDuringA10MBFloodEqualsWhatThePeerSent) {
    DeviceConfig config;
    config.flood = 10 * 1024 * 1024;
    Start(config, 115200);
    TempFolder folder;
    const std::string path = folder.File("flood.bin");
    ASSERT_TRUE(form->StartCapture(QString::fromStdString(path), CaptureWriter::Mode::Raw));
    QTest::keyClick(&Window(), Qt::Key_Return); // the flood goes out before the first answer
    const auto size = static_cast<qint64>(config.flood) + 1; // and then the prompt "#"
    ASSERT_TRUE(
        PumpUntil([&] { return QFileInfo(QString::fromStdString(path)).size() >= size; }, 240000))
        << QFileInfo(QString::fromStdString(path)).size();
    Action("MnuItmStopCapture")->trigger();
    harness.Stop();
    const std::string sent = TranscriptBytes(harness.File("transcript.log"), '>');
    ASSERT_EQ(static_cast<std::size_t>(size), sent.size());
    EXPECT_TRUE(ReadFile(path) == sent);
    EXPECT_TRUE(boxes.Shown.empty());
}

// COM1 is a device double that has modem lines and takes breaks.
class FormOnDeviceDouble : public ::testing::Test, public FormFixture {
protected:
    void SetUp() override { MakeForm("/dev/fake-com1"); }
    void TearDown() override { DropForm(); }
    template <typename T> T Device(T FakeSerialDevice::State::*field) {
        std::lock_guard lock(device->lock);
        return device.get()->*field;
    }
    void ShowLineMenu() {
        auto* menu = form->findChild<QMenu*>("MnuLine");
        emit menu->aboutToShow();
    }
    std::shared_ptr<FakeSerialDevice::State> device = std::make_shared<FakeSerialDevice::State>();
    ScopedHook<TVaxoWin32Dispatcher::DeviceFactory> deviceFactory_{
        TVaxoWin32Dispatcher::DeviceFactoryHook(),
        [state = device] { return std::make_unique<FakeSerialDevice>(state); }};
};

TEST_F(FormOnDeviceDouble, DtrAndRtsItemsDriveTheLinesAndShowThemAsTheyAre) {
    const struct {
        const char* item;
        bool FakeSerialDevice::State::*line;
    } rows[] = {{"MnuItmDtr", &FakeSerialDevice::State::dtr},
                {"MnuItmRts", &FakeSerialDevice::State::rts}};
    for (const auto& r : rows) {
        QAction* item = Action(r.item);
        ASSERT_TRUE(item->isEnabled()) << r.item;
        EXPECT_TRUE(item->isChecked()) << r.item;
        EXPECT_TRUE(Device(r.line)) << r.item;
        item->trigger();
        EXPECT_FALSE(Device(r.line)) << r.item;
        EXPECT_FALSE(item->isChecked()) << r.item;
        item->trigger();
        EXPECT_TRUE(Device(r.line)) << r.item;
        EXPECT_TRUE(item->isChecked()) << r.item;
    }
    EXPECT_EQ((std::vector<std::string>{"DTR off", "DTR on", "RTS off", "RTS on"}), host.lines);

    // Changed elsewhere (the settings, a reopening): the menu shows the line when it opens.
    port->SetDTR(false);
    ShowLineMenu();
    EXPECT_FALSE(Action("MnuItmDtr")->isChecked());
    // Under RTS/CTS flow control RTS belongs to the driver.
    port->SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    ShowLineMenu();
    EXPECT_FALSE(Action("MnuItmRts")->isEnabled());
    EXPECT_TRUE(Action("MnuItmDtr")->isEnabled());
}

TEST_F(FormOnDeviceDouble, BreakDtrAndRtsSayWhatTheyDidAndLightTheirLamp) {
    const struct {
        const char* item;
        const char* note;
        const char* lamp;
        bool lit;
    } rows[] = {{"MnuItmDtr", "DTR off", "SLDtr", false},
                {"MnuItmDtr", "DTR on", "SLDtr", true},
                {"MnuItmRts", "RTS off", "SLRts", false},
                {"MnuItmRts", "RTS on", "SLRts", true},
                {"MnuItmBreak", "Break sent ", "SLBrk", true}};
    for (const auto& r : rows) {
        Action(r.item)->trigger();
        EXPECT_TRUE(form->StatusText(2).startsWith(r.note)) << form->StatusText(2).toStdString();
        EXPECT_EQ(r.lit, form->findChild<TVaxoStatusLight*>(r.lamp)->Lit()) << r.note;
    }
    auto* brk = form->findChild<TVaxoStatusLight*>("SLBrk");
    EXPECT_TRUE(PumpUntil([&] { return !brk->Lit(); }));
}

TEST_F(FormOnDeviceDouble, SendBreakReachesTheDeviceAfterWhatWasTypedBeforeIt) {
    QTest::keyClicks(&Window(), "AT");
    Action("MnuItmBreak")->trigger();
    ASSERT_TRUE(PumpUntil([&] { return !Device(&FakeSerialDevice::State::breaks).empty(); }));
    EXPECT_EQ(std::vector<std::size_t>{2}, Device(&FakeSerialDevice::State::breaks));
    EXPECT_TRUE(Action("MnuItmBreak")->isEnabled());
    EXPECT_TRUE(boxes.Shown.empty());
}

} // namespace
