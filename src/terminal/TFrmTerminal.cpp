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
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <stdexcept>

namespace pellwick {

namespace {

constexpr int PanelHeight = 25;
constexpr int LampTop = 8;

struct LampPlace {
    const char* name;
    const char* caption;
    int lampLeft;
    int labelLeft;
};

// In the panel's order, left to right.
constexpr LampPlace LampPlaces[] = {
    {"SLRx", "Rx", 32, 8},
    {"SLTx", "Tx", 80, 56},
    {"SLCts", "CTS", 136, 104},
    {"SLDsr", "DSR", 192, 160},
    {"SLDcd", "DCD", 248, 216},
    {"SLBrk", "BRK", 304, 272},
    {"SLErr", "ERR", 360, 328},
    // The lines the terminal drives: lit while on.
    {"SLDtr", "DTR", 416, 384},
    {"SLRts", "RTS", 472, 440},
};

QString TimeOfDay() {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

char ParityLetter(TParity parity) {
    switch (parity) {
    case pOdd:
        return 'O';
    case pEven:
        return 'E';
    case pMark:
        return 'M';
    case pSpace:
        return 'S';
    case pNone:
    default:
        return 'N';
    }
}

// A checkable item of menu with its object name and shortcut.
QAction* AddItem(QMenu* menu, const char* text, const char* name, const QKeySequence& key) {
    QAction* item = menu->addAction(text);
    item->setObjectName(name);
    item->setShortcut(key);
    return item;
}

QAction* AddCheckItem(QMenu* menu, const char* text, const char* name, const QKeySequence& key) {
    QAction* item = AddItem(menu, text, name, key);
    item->setCheckable(true);
    return item;
}

} // namespace

TFrmTerminal::TFrmTerminal(TVaxoCustomComPort* port, ITerminalHost* host, QWidget* parent)
    : QMainWindow(parent), port_(port), host_(host) {
    setObjectName("FrmTerminal");
    setWindowTitle("RS232 Terminal");
    move(3, 339);
    resize(679, 404);
    setProperty("HelpContext", HelpContext);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* termRow = new QHBoxLayout;
    termRow->setContentsMargins(16, 0, 0, 0);
    terminal_ = new TVaxoTerminal(central);
    terminal_->setObjectName("VaxoTerminal1");
    termRow->addWidget(terminal_, 1);
    column->addLayout(termRow, 1);

    terminal_->SetScrollBars(ssBoth);
    terminal_->SetAutoScroll(asBoth);
    QFont font = terminal_->Font();
    font.setPixelSize(12);
    terminal_->SetFont(font);
    terminal_->SetFontColor(QColor(0xC0, 0xC0, 0xC0));
    terminal_->SetDisplayRows(25);
    terminal_->SetDisplayColumns(80);
    terminal_->SetBlinkTime(550);
    terminal_->SetPersistentMark(true);
    terminal_->SetHalfDuplex(false);
    terminal_->SetOnTerminalStatus([this](TVaxoCustomTerminal&, std::uint8_t row, std::uint8_t col,
                                          std::uint16_t, std::uint16_t) {
        SetStatusText(1, QString::asprintf("%2d %2d", row, col));
        statusLine_->resizeSection(0, 155);
        statusLine_->resizeSection(1, 45);
    });
    terminal_->Window().installEventFilter(this);
    terminal_->SetOnReceived([this](std::span<const std::uint8_t> bytes) {
        if (capture_.IsOpen() && !capture_.Write(bytes)) {
            CaptureFailed();
        }
    });
    terminal_->SetOnSent([this](std::span<const std::uint8_t> bytes) {
        if (capture_.IsOpen() && !capture_.WriteSent(bytes)) {
            CaptureFailed();
        }
    });
    terminal_->Window().SetMiddlePaste([this](const QString& text) { PasteText(text); });
    terminal_->Window().setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&terminal_->Window(), &QWidget::customContextMenuRequested, this,
            &TFrmTerminal::ShowContextMenu);
    // Screen readers name the text area after its window.
    terminal_->Window().setAccessibleName(windowTitle());

    lineNoteTimer_ = new QTimer(this);
    lineNoteTimer_->setSingleShot(true);
    connect(lineNoteTimer_, &QTimer::timeout, this, [this] {
        lineNote_.clear();
        ShowActivity();
    });
    breakLampTimer_ = new QTimer(this);
    breakLampTimer_->setSingleShot(true);
    connect(breakLampTimer_, &QTimer::timeout, this, [this] { breakLamp_->setLit(false); });

    lights_ = new TVaxoSLController(this);
    lights_->setObjectName("VaxoSLController");
    column->addWidget(BuildLights());

    // Sections: port settings, cursor position, and what runs (paste, capture), which takes
    // the rest of the line.
    statusModel_ = new QStandardItemModel(0, 3, this);
    statusLine_ = new QHeaderView(Qt::Horizontal, central);
    statusLine_->setObjectName("StatusLine");
    statusLine_->setModel(statusModel_);
    statusLine_->setSectionResizeMode(QHeaderView::Fixed);
    // The sections have fixed widths; the style's minimum grows with the font and would widen
    // them on some desktops.
    statusLine_->setMinimumSectionSize(1);
    statusLine_->setSectionsClickable(false);
    statusLine_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    statusLine_->setFixedHeight(PanelHeight);
    statusLine_->setStretchLastSection(true);
    statusLine_->resizeSection(0, 209);
    statusLine_->resizeSection(1, 45);
    SetStatusText(0, "COM? N81 19200");
    SetStatusText(1, "01 01");
    SetStatusText(2, "");
    column->addWidget(statusLine_);
    setCentralWidget(central);

    fontDialog_ = new QFontDialog(this);
    fontDialog_->setObjectName("FontDialog1");
    fontDialog_->setOptions(QFontDialog::MonospacedFonts);
    BuildMenus();
    installEventFilter(this);

    SnapToCells();

    terminal_->SetComPort(port_);
    lights_->SetComPort(port_);

    if (!port_) {
        return;
    }
    ReopenPort();
    // From now on the status line follows the port's settings each time it opens (a saved
    // change of the settings reopens it while the form may be shown).
    port_->AddNotifyProc(&TFrmTerminal::PortOpenedOrClosing, this);
}

void TFrmTerminal::SnapToCells() {
    // The form is laid out at its design size; what lies around the terminal control then
    // stays, and the control takes exactly the cells it shows. The window manager resizes the
    // form in whole cells, never beyond the page, so no strip of window shows beside or below
    // the text area whatever the font.
    layout()->activate();
    centralWidget()->layout()->activate();
    const QSize around = size() - terminal_->size();
    const QSize cells(terminal_->Buffer().CellWidth(), terminal_->Buffer().CellHeight());
    const QSize page = terminal_->sizeHint() + around;
    const QSize grid = terminal_->sizeHint() - terminal_->Window().FrameExtra();
    setMaximumSize(page);
    setSizeIncrement(cells);
    setBaseSize(page - grid);
    resize(page);
    KeepOnScreen();
}

void TFrmTerminal::KeepOnScreen() {
    // The design place suits a large screen; on a small one (1024x768) the lamps and the status
    // line would hang below its edge. The window moves up, and shrinks by whole rows (columns)
    // only when it is taller (wider) than the screen.
    const QScreen* display = screen();
    if (display == nullptr) {
        return;
    }
    const QRect room = display->availableGeometry();
    // Until a window manager has framed the window its title bar is unknown: one is allowed for.
    const QSize frameExtra =
        isVisible() ? frameGeometry().size() - size() : QSize(0, TitleAllowance);
    const QSize cell(std::max(1, terminal_->Buffer().CellWidth()),
                     std::max(1, terminal_->Buffer().CellHeight()));
    const auto shrunk = [](int length, int over, int step) {
        return over > 0 ? length - (over + step - 1) / step * step : length;
    };
    const int w = shrunk(width(), width() + frameExtra.width() - room.width(), cell.width());
    const int h = shrunk(height(), height() + frameExtra.height() - room.height(), cell.height());
    if (w != width() || h != height()) {
        resize(w, h);
    }
    const QPoint at = isVisible() ? frameGeometry().topLeft() : pos();
    const int x = std::clamp(at.x(), room.left(),
                             std::max(room.left(), room.right() + 1 - (w + frameExtra.width())));
    const int y = std::clamp(at.y(), room.top(),
                             std::max(room.top(), room.bottom() + 1 - (h + frameExtra.height())));
    if (x != at.x() || y != at.y()) {
        move(x, y);
    }
}

void TFrmTerminal::ReopenPort() {
    // Reopening the port renews the dispatcher the terminal attaches to when shown. A port that
    // cannot be reopened leaves terminal and lights as they are: showing the form then leaves the
    // terminal waiting for the port.
    try {
        if (host_) {
            host_->ReopenPort();
        } else {
            port_->SetOpen(false);
            port_->SetOpen(true);
        }
    } catch (const std::exception&) {
        return;
    }
    terminal_->SetActive(false);
    lights_->SetWatching(false);
}

TFrmTerminal::~TFrmTerminal() {
    terminal_->SetOnReceived(nullptr);
    if (port_) {
        port_->RemoveNotifyProc(&TFrmTerminal::PortOpenedOrClosing, this);
    }
}

void TFrmTerminal::PortOpenedOrClosing(void* context, TVaxoCustomComPort* port, bool opening) {
    auto* form = static_cast<TFrmTerminal*>(context);
    if (opening) {
        form->beeped_ = false;
    }
    // The gap shows in the scrollback: one line when the device went, one when it is back.
    if (!opening && port->Lost() && !form->lossShown_) {
        form->lossShown_ = true;
        form->terminal_->ShowNote(("-- disconnected " + TimeOfDay() + " --").toStdString());
    } else if (opening && form->lossShown_) {
        form->lossShown_ = false;
        form->terminal_->ShowNote("-- connected --");
    }
    if (opening || port->Lost()) {
        form->FormActivate();
    }
    form->UpdateLineItems();
}

QWidget* TFrmTerminal::BuildLights() {
    auto* panel = new QWidget(centralWidget() ? centralWidget() : this);
    panel->setObjectName("PnlLights");
    panel->setFixedHeight(PanelHeight);
    TLightSet& set = lights_->Lights();
    for (const LampPlace& place : LampPlaces) {
        auto* label = new QLabel(place.caption, panel);
        label->setGeometry(place.labelLeft, LampTop - 2, place.lampLeft - place.labelLeft - 2, 17);
        auto* lamp = new TVaxoStatusLight(panel);
        lamp->setObjectName(place.name);
        lamp->setGeometry(place.lampLeft, LampTop, 13, 13);
        lamp->SetStateName(QString::fromLatin1(place.caption));
        const QString name = place.name;
        if (name == "SLRx") {
            set.SetRXDLight(lamp);
        } else if (name == "SLTx") {
            set.SetTXDLight(lamp);
        } else if (name == "SLCts") {
            set.SetCTSLight(lamp);
        } else if (name == "SLDsr") {
            set.SetDSRLight(lamp);
        } else if (name == "SLDcd") {
            set.SetDCDLight(lamp);
        } else if (name == "SLBrk") {
            set.SetBREAKLight(lamp);
            breakLamp_ = lamp;
        } else if (name == "SLErr") {
            set.SetERRORLight(lamp);
        } else if (name == "SLDtr") {
            dtrLamp_ = lamp;
        } else {
            rtsLamp_ = lamp;
        }
    }
    return panel;
}

void TFrmTerminal::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("TermMenu");
    QMenu* file = bar->addMenu("&File");
    actClear_ = AddItem(file, "&Clear terminal", "MnuItmClear",
                        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    connect(actClear_, &QAction::triggered, this, &TFrmTerminal::ClearTerminal);
    actScrollBack_ = file->addAction("Scroll Back");
    actScrollBack_->setObjectName("MnuItmScrollBack");
    actScrollBack_->setCheckable(true);
    // Shown in the menu; the key itself is handled in eventFilter, which leaves the check mark.
    actScrollBack_->setShortcut(QKeySequence(Qt::Key_Insert));
    connect(actScrollBack_, &QAction::triggered, this, &TFrmTerminal::ToggleScrollBackItem);
    file->addSeparator();
    QAction* exitItem =
        AddItem(file, "&Exit", "MnuItmExit", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W));
    connect(exitItem, &QAction::triggered, this, &QWidget::close);
    file->addSeparator();
    actCapture_ = AddItem(file, "Capture to File...", "MnuItmCapture",
                          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(actCapture_, &QAction::triggered, this, &TFrmTerminal::ChooseCaptureFile);
    actStopCapture_ = AddItem(file, "Stop Capture", "MnuItmStopCapture",
                              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X));
    connect(actStopCapture_, &QAction::triggered, this, &TFrmTerminal::StopCapture);
    actCaptureSent_ = AddCheckItem(file, "Capture What Is Sent", "MnuItmCaptureSent",
                                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
    actCaptureSent_->setToolTip("Text captures keep the sent bytes too, on lines marked TX; "
                                "received lines are marked RX. Raw captures keep received "
                                "bytes only.");
    connect(actCaptureSent_, &QAction::triggered, this, &TFrmTerminal::SetCaptureSent);
    actCaptureAppend_ = AddCheckItem(file, "Append to Capture File", "MnuItmCaptureAppend",
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    connect(actCaptureAppend_, &QAction::triggered, this, &TFrmTerminal::SetCaptureAppend);
    UpdateCaptureItems();
    file->addSeparator();
    actSendFile_ = AddItem(file, "Send File...", "MnuItmSendFile",
                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    connect(actSendFile_, &QAction::triggered, this, &TFrmTerminal::ChooseSendFile);

    QMenu* edit = bar->addMenu("&Edit");
    actCopy_ = AddItem(edit, "Copy", "MnuItmCopy", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    connect(actCopy_, &QAction::triggered, this, &TFrmTerminal::CopyMarked);
    // Ctrl+Shift+V and Shift+Insert: Ctrl+V stays a control character for the device.
    actPaste_ = edit->addAction("Paste");
    actPaste_->setObjectName("MnuItmPaste");
    actPaste_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    connect(actPaste_, &QAction::triggered, this, &TFrmTerminal::PasteClipboard);
    actPacing_ = AddItem(edit, "Paste Pacing...", "MnuItmPacing",
                         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    connect(actPacing_, &QAction::triggered, this, &TFrmTerminal::ChoosePacing);

    // The menu title itself opens the font dialog.
    QAction* font = bar->addAction("&Font");
    font->setObjectName("MnuItmFont");
    font->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    connect(font, &QAction::triggered, this, &TFrmTerminal::ChooseFont);

    BuildViewMenu();
    BuildLineMenu();
    for (QAction* a : {actCopy_, actPaste_, actClear_, actHex_}) {
        a->setShortcutVisibleInContextMenu(true);
    }
}

void TFrmTerminal::ShowContextMenu(const QPoint& at) {
    QMenu menu(this);
    menu.setObjectName("MnuContext");
    menu.addActions({actCopy_, actPaste_, actClear_, actHex_});
    menu.exec(terminal_->Window().mapToGlobal(at));
}

void TFrmTerminal::BuildViewMenu() {
    QMenu* view = menuBar()->addMenu("&View");
    actHex_ =
        AddCheckItem(view, "Hex", "MnuItmHex", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    connect(actHex_, &QAction::triggered, this, &TFrmTerminal::SetHexView);
    actEcho_ = AddCheckItem(view, "Local Echo", "MnuItmLocalEcho",
                            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    connect(actEcho_, &QAction::triggered, this, &TFrmTerminal::SetLocalEcho);
    view->addSeparator();

    QMenu* send = view->addMenu("Send Line End");
    auto* sendGroup = new QActionGroup(this);
    const struct {
        const char* caption;
        const char* name;
        LineEnd end;
        QKeyCombination key; // the control letter of the line end, with Shift
    } ends[] = {{"CR", "MnuItmSendCr", LineEnd::Cr, Qt::CTRL | Qt::SHIFT | Qt::Key_M},
                {"LF", "MnuItmSendLf", LineEnd::Lf, Qt::CTRL | Qt::SHIFT | Qt::Key_J},
                {"CR LF", "MnuItmSendCrLf", LineEnd::CrLf, Qt::CTRL | Qt::SHIFT | Qt::Key_N}};
    for (std::size_t i = 0; i < actSendEnd_.size(); ++i) {
        QAction* a = AddCheckItem(send, ends[i].caption, ends[i].name, QKeySequence(ends[i].key));
        sendGroup->addAction(a);
        const LineEnd end = ends[i].end;
        connect(a, &QAction::triggered, this, [this, end] {
            LineEndMapping mapping = terminal_->LineEnds();
            mapping.send = end;
            SetLineEnds(mapping);
        });
        actSendEnd_[i] = a;
    }
    actReceiveCr_ = AddCheckItem(view, "Receive CR as CR LF", "MnuItmReceiveCr",
                                 QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_M));
    connect(actReceiveCr_, &QAction::triggered, this, [this](bool on) {
        LineEndMapping mapping = terminal_->LineEnds();
        mapping.receiveCrAsCrLf = on;
        SetLineEnds(mapping);
    });
    actReceiveLf_ = AddCheckItem(view, "Receive LF as CR LF", "MnuItmReceiveLf",
                                 QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_J));
    connect(actReceiveLf_, &QAction::triggered, this, [this](bool on) {
        LineEndMapping mapping = terminal_->LineEnds();
        mapping.receiveLfAsCrLf = on;
        SetLineEnds(mapping);
    });
    UpdateViewItems();
}

void TFrmTerminal::BuildLineMenu() {
    QMenu* line = menuBar()->addMenu("&Line");
    line->setObjectName("MnuLine");
    actBreak_ = line->addAction("Send Break");
    actBreak_->setObjectName("MnuItmBreak");
    actBreak_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    connect(actBreak_, &QAction::triggered, this, &TFrmTerminal::SendBreak);
    line->addSeparator();
    actDtr_ =
        AddCheckItem(line, "DTR", "MnuItmDtr", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    connect(actDtr_, &QAction::triggered, this, &TFrmTerminal::SetDtr);
    actRts_ =
        AddCheckItem(line, "RTS", "MnuItmRts", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    connect(actRts_, &QAction::triggered, this, &TFrmTerminal::SetRts);
    // The lines may have changed elsewhere (settings, reopening): the menu shows them as they
    // are when it opens.
    connect(line, &QMenu::aboutToShow, this, &TFrmTerminal::UpdateLineItems);
    UpdateLineItems();
}

void TFrmTerminal::UpdateViewItems() {
    const LineEndMapping& mapping = terminal_->LineEnds();
    actHex_->setChecked(terminal_->HexView());
    actEcho_->setChecked(terminal_->HalfDuplex());
    actSendEnd_[0]->setChecked(mapping.send == LineEnd::Cr);
    actSendEnd_[1]->setChecked(mapping.send == LineEnd::Lf);
    actSendEnd_[2]->setChecked(mapping.send == LineEnd::CrLf);
    actReceiveCr_->setChecked(mapping.receiveCrAsCrLf);
    actReceiveLf_->setChecked(mapping.receiveLfAsCrLf);
}

void TFrmTerminal::UpdateLineItems() {
    if (!actDtr_) {
        return;
    }
    const bool open = port_ && port_->Open();
    const THWFlowOptionSet flow = port_ ? port_->HWFlowOptions() : 0;
    actDtr_->setChecked(port_ && port_->DTR());
    actRts_->setChecked(port_ && port_->RTS());
    // A line under hardware flow control belongs to the driver: the item shows the state
    // kept for it but cannot drive it.
    actDtr_->setEnabled(open && !(flow & hwfUseDTR));
    actRts_->setEnabled(open && !(flow & (hwfUseRTS | hwfRequireCTS)));
    actBreak_->setEnabled(open && !breakWaiting_);
    UpdateLamps();
}

void TFrmTerminal::UpdateLamps() {
    const bool open = port_ && port_->Open();
    dtrLamp_->setLit(open && port_->DTR());
    rtsLamp_->setLit(open && port_->RTS());
}

void TFrmTerminal::NoteLineAction(const QString& text) {
    lineNote_ = text;
    lineNoteTimer_->start(LineNoteMs);
    ShowActivity();
}

void TFrmTerminal::UpdateCaptureItems() {
    actCapture_->setEnabled(!capture_.IsOpen());
    actStopCapture_->setEnabled(capture_.IsOpen());
    // They take effect with the next capture.
    actCaptureSent_->setChecked(settings_.CaptureSent);
    actCaptureAppend_->setChecked(settings_.CaptureAppend);
}

void TFrmTerminal::ShowActivity() {
    QStringList parts;
    if (!pasteStatus_.isEmpty()) {
        parts << pasteStatus_;
    }
    if (!lineNote_.isEmpty()) {
        parts << lineNote_;
    }
    if (capture_.IsOpen()) {
        parts << QString("Capture on: %1")
                     .arg(QFileInfo(QString::fromStdString(capture_.Path())).fileName());
    }
    SetStatusText(2, parts.join("   "));
}

void TFrmTerminal::Report(const std::string& text) {
    if (boxes_) {
        boxes_->Show(MsgKind::Error, text, MbOk);
    } else {
        TVaxoCustomComPort::ShowException(std::runtime_error(text));
    }
}

// --- Settings -----------------------------------------------------------------------------------

void TFrmTerminal::SetSettingsFile(const std::string& path) {
    settingsPath_ = path;
    settings_ = TerminalSettings::Load(PrivateProfile(path));
    if (!settings_.Font.empty()) {
        QFont font;
        if (font.fromString(QString::fromStdString(settings_.Font))) {
            terminal_->SetFont(font);
            SnapToCells();
        }
    }
    terminal_->SetHalfDuplex(settings_.LocalEcho);
    terminal_->SetLineEnds(settings_.LineEnds);
    UpdateViewItems();
    UpdateCaptureItems();
}

void TFrmTerminal::SaveSettings() {
    if (settingsPath_.empty()) {
        return;
    }
    try {
        PrivateProfile ini(settingsPath_);
        settings_.Save(ini);
    } catch (const std::exception& e) {
        Report(std::string(e.what()) + "\rThe terminal's settings were not saved; they stay " +
               "in effect until the program ends.");
    }
}

void TFrmTerminal::SetLocalEcho(bool on) {
    terminal_->SetHalfDuplex(on);
    settings_.LocalEcho = on;
    UpdateViewItems();
    SaveSettings();
}

void TFrmTerminal::SetLineEnds(const LineEndMapping& mapping) {
    terminal_->SetLineEnds(mapping);
    settings_.LineEnds = mapping;
    UpdateViewItems();
    SaveSettings();
}

void TFrmTerminal::SetHexView(bool on) {
    terminal_->SetHexView(on);
    UpdateViewItems();
}

QString TFrmTerminal::PortSettingsText(const TVaxoCustomComPort* port) {
    if (!port) {
        return {};
    }
    return QString(" %1 %2%3%4 %5")
        .arg(QString::fromStdString(PortNameOf(port->ComNumber())))
        .arg(port->DataBits())
        .arg(QChar::fromLatin1(ParityLetter(port->Parity())))
        .arg(port->StopBits())
        .arg(port->Baud());
}

void TFrmTerminal::SetStatusText(int section, const QString& text) {
    statusModel_->setHeaderData(section, Qt::Horizontal, text);
}

QString TFrmTerminal::StatusText(int section) const {
    return statusModel_->headerData(section, Qt::Horizontal).toString();
}

int TFrmTerminal::StatusSectionWidth(int section) const {
    return statusLine_->sectionSize(section);
}

void TFrmTerminal::FormActivate() {
    const bool lost = port_ && port_->Lost();
    SetStatusText(0, lost ? QStringLiteral(" disconnected") : PortSettingsText(port_));
    statusModel_->setHeaderData(0, Qt::Horizontal,
                                lost ? QStringLiteral("disconnected: ") +
                                           QString::fromStdString(port_->LostDevice())
                                     : QString(),
                                Qt::ToolTipRole);
}

void TFrmTerminal::ClearTerminal() {
    terminal_->Clear();
}

void TFrmTerminal::ToggleScrollBackItem() {
    terminal_->SetScrollback(!terminal_->Scrollback());
    actScrollBack_->setChecked(terminal_->Scrollback());
}

void TFrmTerminal::CopyMarked() {
    terminal_->CopyToClipboard();
}

void TFrmTerminal::ChooseFont() {
    fontDialog_->setCurrentFont(terminal_->Font());
    if (fontDialog_->exec() == QDialog::Accepted) {
        terminal_->SetFont(fontDialog_->selectedFont());
        SnapToCells();
        // The font the terminal took (a font of uneven widths is replaced) is kept.
        settings_.Font = terminal_->Font().toString().toStdString();
        SaveSettings();
    }
}

void TFrmTerminal::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (e->spontaneous()) {
        return; // restored from minimized: not a new showing
    }
    if (host_) {
        host_->DataTriggerEnabled(false);
    }
    terminal_->SetActive(true);
    lights_->SetWatching(true);
    KeepOnScreen();
}

void TFrmTerminal::closeEvent(QCloseEvent* e) {
    // From now on the received bytes go to the port's owner: a paste and a capture end here.
    terminal_->StopPaste();
    StopCapture();
    if (host_) {
        host_->DataTriggerEnabled(true);
    }
    terminal_->SetActive(false);
    lights_->SetWatching(false);
    e->accept();
}

void TFrmTerminal::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) {
        FormActivate();
    }
}

bool TFrmTerminal::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Insert && key->modifiers() == Qt::NoModifier) {
            // Insert reaches the key handling below instead of the Scroll Back item, which
            // shows it: the key leaves the item's check mark as it is.
            event->accept();
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Insert && !(key->modifiers() & Qt::ShiftModifier)) {
            // Insert toggles scrollback; the menu's check mark stays as it is. (Shift+Insert
            // is the paste.)
            terminal_->SetScrollback(!terminal_->Scrollback());
            return true;
        }
        if (key->key() == Qt::Key_Escape && terminal_->Pasting()) {
            // Esc stops a running paste instead of going to the device.
            terminal_->StopPaste();
            return true;
        }
    }
    // In the wheel's scrollback a typed key returns to the live view and goes out.
    const bool typing = !terminal_->Scrollback() || terminal_->Window().WheelScrollback();
    if (event->type() == QEvent::KeyPress && watched == &terminal_->Window() && port_ && typing &&
        TTerminal::KeyByte(static_cast<QKeyEvent*>(event)) >= 0) {
        // Nothing typed is kept for a device that may come back as another one, nor sent while
        // an upload has the line (the terminal is inactive then): the byte would land inside
        // the file being sent. One beep says so, not one a key.
        if (port_->Lost() || !terminal_->Active()) {
            if (!beeped_) {
                QApplication::beep();
                beeped_ = true;
                ++refusedBeeps_;
            }
            return true;
        }
        beeped_ = false;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace pellwick
