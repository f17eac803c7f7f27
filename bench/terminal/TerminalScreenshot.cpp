// Draws the terminal form with received text, a mark and its lamps into a PNG, for a look at
// what the operator sees. A pseudo-terminal plays the device on COM1.
//
// Usage: terminal_screenshot [out.png]   (default /tmp/terminal_window.png)
#include "lights/TVaxoStatusLight.h"
#include "support/BenchPort.h"
#include "support/PtyPair.h"
#include "support/PumpUntil.h"
#include "terminal/TFrmTerminal.h"
#include "terminal/TTerminal.h"
#include "terminal/TVaxoTerminal.h"

#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace pellwick;
using test::PumpUntil;

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    const QString out = argc > 1 ? argv[1] : "/tmp/terminal_window.png";

    test::PtyPair pty;
    bench::MappedPort mapped(pty.SlavePath());
    mapped.OpenCom1();
    TVaxoComPort& port = mapped.Port();

    TFrmTerminal form(&port, nullptr);
    form.show();
    form.FormActivate();
    form.Terminal().Window().setFocus();

    const std::string text = "Device monitor 2.4 ready\r\n"
                             "> status\r\n"
                             "voltage 12.1 V   temperature 38 C   uptime 00:41:07\r\n"
                             "flash: 512 KiB free, 3 images stored\r\n"
                             "> load 0x8000 4096\r\n"
                             "OK\r\n"
                             "> ";
    pty.Write(text);
    const TBuffer& b = form.Terminal().Buffer();
    if (!PumpUntil([&] { return b.CursorRow() == 6; })) {
        std::fprintf(stderr, "the text did not arrive\n");
    }
    // Mark "temperature 38 C" on row 2 by a drag.
    QWidget* vp = form.Terminal().Window().viewport();
    const int cw = b.CellWidth();
    const int ch = b.CellHeight();
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(17 * cw + 1, 2 * ch + ch / 2));
    QTest::mouseMove(vp, QPoint(33 * cw + 1, 2 * ch + ch / 2));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(33 * cw + 1, 2 * ch + ch / 2));
    // The receive lamp lights from the data; the error lamp is lit by hand to show a lit lamp
    // beside it (a pseudo-terminal has no line errors).
    PumpUntil([&] { return form.findChild<TVaxoStatusLight*>("SLRx")->Lit(); }, 2000);
    form.findChild<TVaxoStatusLight*>("SLErr")->setLit(true);
    QTest::qWait(100);

    std::printf("cell %d x %d, mark from column %d to column %d (exclusive) on row %d\n", cw, ch,
                b.MarkStart().column, b.MarkEnd().column, b.MarkStart().row);
    const bool saved = form.grab().save(out);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(out));
    form.close();
    port.SetOpen(false);
    PumpUntil([&] { return port.PortState() == TVaxoCustomComPort::State::Closed; });
    return saved ? 0 : 1;
}
