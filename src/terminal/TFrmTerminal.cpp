#include "terminal/TFrmTerminal.h"

#include "lights/TVaxoSLController.h"
#include "lights/TVaxoStatusLight.h"
#include "serial/TVaxoCustomComPort.h"
#include "terminal/ITerminalHost.h"
#include "terminal/TTerminal.h"
#include "terminal/TVaxoTerminal.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QShowEvent>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <exception>

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
    {"SLRx", "Rx", 32, 8},      {"SLTx", "Tx", 80, 56},     {"SLCts", "CTS", 136, 104},
    {"SLDsr", "DSR", 192, 160}, {"SLDcd", "DCD", 248, 216}, {"SLBrk", "BRK", 304, 272},
    {"SLErr", "ERR", 360, 328},
};

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
    // Screen readers name the text area after its window.
    terminal_->Window().setAccessibleName(windowTitle());

    lights_ = new TVaxoSLController(this);
    lights_->setObjectName("VaxoSLController");
    column->addWidget(BuildLights());

    statusModel_ = new QStandardItemModel(0, 2, this);
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
    statusLine_->resizeSection(0, 209);
    statusLine_->resizeSection(1, 45);
    SetStatusText(0, "COM? N81 19200");
    SetStatusText(1, "01 01");
    column->addWidget(statusLine_);
    setCentralWidget(central);

    fontDialog_ = new QFontDialog(this);
    fontDialog_->setObjectName("FontDialog1");
    fontDialog_->setOptions(QFontDialog::MonospacedFonts);
    BuildMenus();
    installEventFilter(this);

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
    if (port_) {
        port_->RemoveNotifyProc(&TFrmTerminal::PortOpenedOrClosing, this);
    }
}

void TFrmTerminal::PortOpenedOrClosing(void* context, TVaxoCustomComPort* port, bool opening) {
    auto* form = static_cast<TFrmTerminal*>(context);
    if (opening) {
        form->beeped_ = false;
    }
    if (opening || port->Lost()) {
        form->FormActivate();
    }
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
        } else {
            set.SetERRORLight(lamp);
        }
    }
    return panel;
}

void TFrmTerminal::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("TermMenu");
    QMenu* file = bar->addMenu("&File");
    QAction* clear = file->addAction("&Clear terminal");
    clear->setObjectName("MnuItmClear");
    connect(clear, &QAction::triggered, this, &TFrmTerminal::ClearTerminal);
    actScrollBack_ = file->addAction("Scroll Back");
    actScrollBack_->setObjectName("MnuItmScrollBack");
    actScrollBack_->setCheckable(true);
    connect(actScrollBack_, &QAction::triggered, this, &TFrmTerminal::ToggleScrollBackItem);
    file->addSeparator();
    QAction* exitItem = file->addAction("&Exit");
    exitItem->setObjectName("MnuItmExit");
    connect(exitItem, &QAction::triggered, this, &QWidget::close);

    QMenu* edit = bar->addMenu("&Edit");
    QAction* copy = edit->addAction("Copy");
    copy->setObjectName("MnuItmCopy");
    connect(copy, &QAction::triggered, this, &TFrmTerminal::CopyMarked);

    // The menu title itself opens the font dialog.
    QAction* font = bar->addAction("&Font");
    font->setObjectName("MnuItmFont");
    connect(font, &QAction::triggered, this, &TFrmTerminal::ChooseFont);
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
    statusModel_->setHeaderData(
        0, Qt::Horizontal,
        lost ? QStringLiteral("disconnected: ") + QString::fromStdString(port_->LostDevice())
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
}

void TFrmTerminal::closeEvent(QCloseEvent* e) {
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
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Insert) {
        // Insert toggles scrollback; the menu's check mark stays as it is.
        terminal_->SetScrollback(!terminal_->Scrollback());
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched == &terminal_->Window() && port_ &&
        port_->Lost() && !terminal_->Scrollback() &&
        TTerminal::KeyByte(static_cast<QKeyEvent*>(event)) >= 0) {
        // Nothing typed is kept for a device that may come back as another one; one beep
        // says so, not one a key.
        if (!beeped_) {
            QApplication::beep();
            beeped_ = true;
            ++refusedBeeps_;
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace pellwick
