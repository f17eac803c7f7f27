// The terminal window's tools: paste and Send File paced as the operator chose, capture to a
// file, and the line controls (break, DTR, RTS). The window's building and its status line are in
// TFrmTerminal.cpp.
#include "terminal/TFrmTerminal.h"

#include "ini/PrivateProfile.h"
#include "lights/TVaxoSLController.h"
#include "lights/TVaxoStatusLight.h"
#include "serial/MessageBoxes.h"
#include "serial/TVaxoCustomComPort.h"
#include "terminal/ITerminalHost.h"
#include "terminal/LineEnds.h"
#include "terminal/TTerminal.h"
#include "terminal/TVaxoTerminal.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <stdexcept>

namespace pellwick {

namespace {

QString TimeOfDay() {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

// --- Paste --------------------------------------------------------------------------------------

void TFrmTerminal::PasteClipboard() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    PasteText(clipboard ? clipboard->text() : QString());
}

void TFrmTerminal::PasteText(const QString& text) {
    if (terminal_->Pasting() || text.isEmpty()) {
        return;
    }
    // The line carries single bytes: characters beyond Latin-1 go as '?'.
    const QByteArray latin = text.toLatin1();
    if (!StartSending(PastedBytes({latin.constData(), static_cast<std::size_t>(latin.size())},
                                  terminal_->LineEnds().send),
                      "Pasting", "Paste")) {
        Report("Nothing was pasted: the port is not open, or an upload is using it.\rPaste "
               "again once the port is open and no upload runs.");
    }
}

bool TFrmTerminal::StartSending(std::string bytes, const QString& doing, const QString& what) {
    const QString prompt = QString::fromStdString(settings_.Pacing.prompt);
    return terminal_->StartPaste(
        std::move(bytes),
        [this, doing, what, prompt](const TVaxoCustomTerminal::PasteState& p) {
            if (!p.ended) {
                pasteStatus_ =
                    QString("%1 %2 of %3 bytes (Esc stops)").arg(doing).arg(p.sent).arg(p.total);
            } else if (p.promptMissed) {
                pasteStatus_ = QString("%1 stopped after line %2: no prompt \"%3\" within %4 ms "
                                       "(%5 of %6 bytes sent); check the prompt under Edit > "
                                       "Paste Pacing")
                                   .arg(what)
                                   .arg(p.lines)
                                   .arg(prompt)
                                   .arg(settings_.Pacing.promptTimeoutMs)
                                   .arg(p.sent)
                                   .arg(p.total);
            } else if (p.sent < p.total) {
                pasteStatus_ =
                    QString("%1 stopped after %2 of %3 bytes").arg(what).arg(p.sent).arg(p.total);
            } else {
                pasteStatus_.clear();
            }
            ShowActivity();
        },
        settings_.Pacing);
}

void TFrmTerminal::ChooseSendFile() {
    const QString path = QFileDialog::getOpenFileName(this, "Send File");
    if (!path.isEmpty()) {
        SendFile(path);
    }
}

bool TFrmTerminal::SendFile(const QString& path) {
    if (terminal_->Pasting()) {
        Report("A paste or a file is being sent already.\rPress Esc to stop it, or wait until it "
               "has ended.");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Report("Cannot read " + path.toStdString() + ": " + file.errorString().toStdString() +
               ".\rChoose another file, or check its permissions.");
        return false;
    }
    if (file.size() > MaxSendFileBytes) {
        Report("The file " + path.toStdString() + " is larger than " +
               std::to_string(MaxSendFileBytes / (1024 * 1024)) +
               " MiB.\rUse an upload script for files of that size.");
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty()) {
        Report("The file " + path.toStdString() + " is empty: nothing was sent.");
        return false;
    }
    const QString name = QFileInfo(path).fileName();
    if (!StartSending(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                      "Sending " + name, "Sending " + name)) {
        Report("The file was not sent: the port is not open, or an upload is using it.\rSend "
               "it again once the port is open and no upload runs.");
        return false;
    }
    return true;
}

void TFrmTerminal::ChoosePacing() {
    QDialog dialog(this);
    dialog.setObjectName("DlgPastePacing");
    dialog.setWindowTitle("Paste Pacing");
    auto* charDelay = new QSpinBox(&dialog);
    charDelay->setObjectName("SpnCharDelay");
    auto* lineDelay = new QSpinBox(&dialog);
    lineDelay->setObjectName("SpnLineDelay");
    for (QSpinBox* box : {charDelay, lineDelay}) {
        box->setRange(0, TerminalSettings::MaxDelayMs);
        box->setSuffix(" ms");
    }
    charDelay->setValue(settings_.Pacing.charDelayMs);
    lineDelay->setValue(settings_.Pacing.lineDelayMs);
    auto* prompt = new QLineEdit(QString::fromStdString(settings_.Pacing.prompt), &dialog);
    prompt->setObjectName("EdtPrompt");
    prompt->setPlaceholderText("none: do not wait");
    auto* timeout = new QSpinBox(&dialog);
    timeout->setObjectName("SpnPromptTimeout");
    timeout->setRange(TerminalSettings::MinPromptTimeoutMs, TerminalSettings::MaxPromptTimeoutMs);
    timeout->setSuffix(" ms");
    timeout->setValue(settings_.Pacing.promptTimeoutMs);
    auto* form = new QFormLayout;
    form->addRow("Pause after each &character:", charDelay);
    form->addRow("Pause after each &line:", lineDelay);
    form->addRow("Before each line wait for &prompt:", prompt);
    form->addRow("Wait for the prompt at &most:", timeout);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* column = new QVBoxLayout(&dialog);
    column->addWidget(new QLabel("Pastes and sent files go at the line's rate; slow devices may "
                                 "need pauses, or their prompt before each line.",
                                 &dialog));
    column->addLayout(form);
    column->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    settings_.Pacing.charDelayMs = charDelay->value();
    settings_.Pacing.lineDelayMs = lineDelay->value();
    // Bytes on the line: the prompt as Latin-1.
    settings_.Pacing.prompt = prompt->text().toLatin1().toStdString();
    settings_.Pacing.promptTimeoutMs = timeout->value();
    SaveSettings();
}

// --- Capture ------------------------------------------------------------------------------------

void TFrmTerminal::ChooseCaptureFile() {
    const QString stamped = "Text with time stamps (*.txt *.log)";
    const QString raw = "Raw bytes (*)";
    QString filter = stamped;
    // Appending to a file is no overwriting: no question then.
    const QString path = QFileDialog::getSaveFileName(
        this, "Capture to File", QString(), stamped + ";;" + raw, &filter,
        settings_.CaptureAppend ? QFileDialog::DontConfirmOverwrite : QFileDialog::Options());
    if (path.isEmpty()) {
        return;
    }
    StartCapture(path, filter == raw ? CaptureWriter::Mode::Raw : CaptureWriter::Mode::TimeStamped);
}

void TFrmTerminal::SetCaptureSent(bool on) {
    settings_.CaptureSent = on;
    UpdateCaptureItems();
    SaveSettings();
}

void TFrmTerminal::SetCaptureAppend(bool on) {
    settings_.CaptureAppend = on;
    UpdateCaptureItems();
    SaveSettings();
}

bool TFrmTerminal::StartCapture(const QString& path, CaptureWriter::Mode mode) {
    const std::string name = path.toStdString();
    if (!capture_.Open(name, mode, {settings_.CaptureAppend, settings_.CaptureSent})) {
        Report("Cannot write the capture file " + name + ": " + capture_.Error() +
               ".\rChoose another file or folder, or check its permissions.");
        return false;
    }
    UpdateCaptureItems();
    ShowActivity();
    return true;
}

void TFrmTerminal::StopCapture() {
    if (!capture_.IsOpen()) {
        return;
    }
    const std::string name = capture_.Path();
    const bool stored = capture_.Close();
    UpdateCaptureItems();
    ShowActivity();
    if (!stored) {
        Report("The capture file " + name + " may be incomplete: " + capture_.Error() +
               ".\rCheck the disk and the file.");
    }
}

void TFrmTerminal::CaptureFailed() {
    UpdateCaptureItems();
    ShowActivity();
    const std::string text = "Capture to " + capture_.Path() + " stopped: " + capture_.Error() +
                             ".\rWhat arrived until then is in the file. Free some space or "
                             "choose another file, then start the capture again.";
    // Not inside the delivery of received bytes: the box waits for the operator.
    QTimer::singleShot(0, this, [this, text] { Report(text); });
}

// --- Line control -------------------------------------------------------------------------------

void TFrmTerminal::SendBreak() {
    if (breakWaiting_) {
        return;
    }
    breakWaiting_ = true;
    breakSince_.start();
    UpdateLineItems();
    BreakWhenDrained();
}

void TFrmTerminal::BreakWhenDrained() {
    // What was typed or pasted before the break goes out first; the wait runs on a timer, so
    // the window stays live, and ends after BreakDrainMs (flow control may hold the output).
    const bool queued = port_ && port_->Open() && port_->OutputCount() > 0;
    if (queued && breakSince_.elapsed() < BreakDrainMs) {
        QTimer::singleShot(10, this, &TFrmTerminal::BreakWhenDrained);
        return;
    }
    breakWaiting_ = false;
    try {
        breakLamp_->setLit(true);
        if (host_) {
            host_->SendBreak();
        } else if (port_) {
            port_->SendBreak();
        }
        breakLampTimer_->start(BreakLampMs);
        NoteLineAction("Break sent " + TimeOfDay());
    } catch (const std::exception& e) {
        breakLamp_->setLit(false);
        Report(std::string("No break was sent: ") + e.what() +
               "\rCheck that the port is open and the device is connected.");
    }
    UpdateLineItems();
}

void TFrmTerminal::SetControlLine(const char* line, bool on, void (ITerminalHost::*viaHost)(bool),
                                  void (TVaxoCustomComPort::*onPort)(bool)) {
    try {
        if (host_) {
            (host_->*viaHost)(on);
        } else if (port_) {
            (port_->*onPort)(on);
        }
        NoteLineAction(QString(line) + (on ? " on" : " off"));
    } catch (const std::exception& e) {
        Report(std::string(line) + " was not changed: " + e.what());
    }
    UpdateLineItems();
}

void TFrmTerminal::SetDtr(bool on) {
    SetControlLine("DTR", on, &ITerminalHost::SetDtr, &TVaxoCustomComPort::SetDTR);
}

void TFrmTerminal::SetRts(bool on) {
    SetControlLine("RTS", on, &ITerminalHost::SetRts, &TVaxoCustomComPort::SetRTS);
}

} // namespace pellwick
