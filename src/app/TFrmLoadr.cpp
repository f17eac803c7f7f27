#include "app/TFrmLoadr.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <filesystem>

#include "app/THelpWindow.h"
#include "app/THintDelayStyle.h"
#include "lights/TVaxoSLController.h"
#include "lights/TVaxoStatusLight.h"
#include "resources/Resources.h"
#include "serial/TVaxoCustomComPort.h"
#include "shell/LoaderStart.h"
#include "upload/run/UploadRun.h"

namespace pellwick {

namespace {

constexpr const char* kHelpContextProperty = "helpContext";
constexpr const char* kLampHint = "Communication / Upload Status";
constexpr const char* kLightsHint = "RS232 Status Lights";

std::string CurrentDirectory() {
    std::error_code error;
    const auto path = std::filesystem::current_path(error);
    return error ? std::string(".") : path.string();
}

void SetHelpContext(QAction* action, int context) {
    action->setProperty(kHelpContextProperty, context);
}

QProgressBar* MakeGauge(const char* name, QColor colour, QWidget* parent) {
    auto* gauge = new QProgressBar(parent);
    gauge->setObjectName(QString::fromLatin1(name));
    gauge->setRange(0, 100);
    gauge->setValue(0);
    QPalette palette = gauge->palette();
    palette.setColor(QPalette::Highlight, colour);
    gauge->setPalette(palette);
    return gauge;
}

} // namespace

TFrmLoadr::TFrmLoadr(UploadRun& run, IMessageBoxes& boxes, QWidget* parent)
    : TFrmLoadr(run, boxes, Options(), parent) {}

TFrmLoadr::TFrmLoadr(UploadRun& run, IMessageBoxes& boxes, const Options& options, QWidget* parent)
    : QMainWindow(parent), run_(run), boxes_(boxes) {
    InitResources();
    setObjectName(QStringLiteral("FrmLoadr"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(QIcon(QString::fromLatin1(kIconPath)));
    BuildMenus();
    BuildControls();
    UploadRun::Hooks hooks;
    hooks.TerminalExists = [this] { return TerminalExists(); };
    hooks.SetTerminalActive = [this](bool on) { SetTerminalActive(on); };
    hooks.ChooseScriptFile = [this](std::string& path) { return ChooseScriptFile(path); };
    run_.SetHooks(std::move(hooks));
    connect(&run_, &UploadRun::Changed, this, &TFrmLoadr::Render);
    Render();
    FormCreate(options);
}

TFrmLoadr::~TFrmLoadr() {
    FormClose();
    // The run outlives the window: it must not call back into it.
    disconnect(&run_, nullptr, this, nullptr);
    run_.SetHooks({});
    if (peers_.Port != nullptr) {
        peers_.Port->RemoveNotifyProc(&TFrmLoadr::PortOpenedOrClosing, this);
    }
}

void TFrmLoadr::BuildMenus() {
    QMenu* program = menuBar()->addMenu(QStringLiteral("&Program"));
    program->setObjectName(QStringLiteral("MnuProgram"));
    mnuItmTerminal_ = program->addAction(QStringLiteral("&Terminal Window"));
    mnuItmTerminal_->setObjectName(QStringLiteral("MnuItmTerminal"));
    mnuItmTerminal_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    SetHelpContext(mnuItmTerminal_, THelpWindow::kContextTerminal);
    program->addSeparator();
    mnuItmExit_ = program->addAction(QStringLiteral("E&xit"));
    mnuItmExit_->setObjectName(QStringLiteral("MnuItmExit"));
    mnuItmExit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* configuration = menuBar()->addMenu(QStringLiteral("&Configuration"));
    configuration->setObjectName(QStringLiteral("MnuConfiguration"));
    mnuItmStatusLights_ = configuration->addAction(QStringLiteral("&Status Lights"));
    mnuItmStatusLights_->setObjectName(QStringLiteral("MnuItmStatusLights"));
    mnuItmStatusLights_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    mnuItmStatusLights_->setCheckable(true);
    mnuItmStatusLights_->setChecked(true);
    SetHelpContext(mnuItmStatusLights_, THelpWindow::kContextMain);
    mnuItmRS232_ = configuration->addAction(QStringLiteral("&RS232 Setup"));
    mnuItmRS232_->setObjectName(QStringLiteral("MnuItmRS232"));
    mnuItmRS232_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    SetHelpContext(mnuItmRS232_, THelpWindow::kContextSettings);
    configuration->addSeparator();
    methodGroup_ = new QActionGroup(this);
    methodGroup_->setExclusive(true);
    mnuItmManual_ = configuration->addAction(QStringLiteral("&Manual Upload"));
    mnuItmManual_->setObjectName(QStringLiteral("MnuItmManual"));
    mnuItmManual_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    mnuItmAutomatic_ = configuration->addAction(QStringLiteral("&Automatic Upload"));
    mnuItmAutomatic_->setObjectName(QStringLiteral("MnuItmAutomatic"));
    mnuItmAutomatic_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    for (QAction* item : {mnuItmManual_, mnuItmAutomatic_}) {
        item->setCheckable(true);
        methodGroup_->addAction(item);
        SetHelpContext(item, THelpWindow::kContextMain);
    }
    mnuItmAutomatic_->setChecked(true);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("MnuHelp"));
    mnuItmHelpTopics_ = help->addAction(QStringLiteral("&Help Topics"));
    mnuItmHelpTopics_->setObjectName(QStringLiteral("MnuItmHelpTopics"));
    // F1 is the window's own topic (below).
    mnuItmHelpTopics_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    mnuItmSupport_ = help->addAction(QStringLiteral("&Support..."));
    mnuItmSupport_->setObjectName(QStringLiteral("MnuItmSupport"));
    mnuItmSupport_->setVisible(false);
    SetHelpContext(mnuItmSupport_, THelpWindow::kContextAbout);
    help->addSeparator();
    mnuItmAbout_ = help->addAction(QStringLiteral("&About..."));
    mnuItmAbout_->setObjectName(QStringLiteral("MnuItmAbout"));
    mnuItmAbout_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    SetHelpContext(mnuItmAbout_, THelpWindow::kContextAbout);

    // F1 on a highlighted menu item opens that item's topic.
    for (QMenu* menu : {program, configuration, help}) {
        menu->installEventFilter(this);
    }

    connect(mnuItmTerminal_, &QAction::triggered, this, &TFrmLoadr::SpdBtnTermClick);
    connect(mnuItmExit_, &QAction::triggered, this, &TFrmLoadr::MnuItmExitClick);
    connect(mnuItmStatusLights_, &QAction::triggered, this, &TFrmLoadr::MnuItmStatusLightsClick);
    connect(mnuItmRS232_, &QAction::triggered, this, &TFrmLoadr::SpdBtnComSetClick);
    connect(mnuItmManual_, &QAction::triggered, this, &TFrmLoadr::MnuItmManualClick);
    connect(mnuItmAutomatic_, &QAction::triggered, this, &TFrmLoadr::MnuItmAutomaticClick);
    connect(mnuItmHelpTopics_, &QAction::triggered, this, &TFrmLoadr::MnuItmHelpTopicsClick);
    connect(mnuItmAbout_, &QAction::triggered, this, &TFrmLoadr::MnuItmAboutClick);

    auto* helpKey = new QAction(this);
    helpKey->setShortcut(QKeySequence::HelpContents);
    helpKey->setShortcutContext(Qt::WindowShortcut);
    addAction(helpKey);
    connect(helpKey, &QAction::triggered, this, [this] { ShowHelpContext(kHelpContext); });
}

void TFrmLoadr::BuildControls() {
    QToolBar* bar = addToolBar(QStringLiteral("Tools"));
    bar->setObjectName(QStringLiteral("TopBar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    spdBtnTerm_ = new QToolButton(bar);
    spdBtnTerm_->setObjectName(QStringLiteral("SpdBtnTerm"));
    spdBtnTerm_->setToolTip(QStringLiteral("Terminal Window"));
    spdBtnTerm_->setAccessibleName(spdBtnTerm_->toolTip());
    spdBtnTerm_->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    spdBtnTerm_->setProperty("Tag", 0);
    spdBtnComSet_ = new QToolButton(bar);
    spdBtnComSet_->setObjectName(QStringLiteral("SpdBtnComSet"));
    spdBtnComSet_->setToolTip(QStringLiteral("Communications Setup"));
    spdBtnComSet_->setAccessibleName(spdBtnComSet_->toolTip());
    spdBtnComSet_->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    bar->addWidget(spdBtnTerm_);
    bar->addWidget(spdBtnComSet_);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Client"));
    setCentralWidget(central);

    btnUpload_ = new QPushButton(QStringLiteral("Start File Upload"), central);
    btnUpload_->setObjectName(QStringLiteral("BtnUpload"));
    btnUpload_->setMinimumWidth(150);
    btnUpload_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    btnUpload_->setToolTip(QStringLiteral("Ctrl+U"));
    pnlComLamp_ = new QFrame(central);
    pnlComLamp_->setObjectName(QStringLiteral("PnlComLamp"));
    pnlComLamp_->setToolTip(QString::fromLatin1(kLampHint));
    pnlComLamp_->setAccessibleName(pnlComLamp_->toolTip());
    pnlComLamp_->setFrameShape(QFrame::Panel);
    pnlComLamp_->setFrameShadow(QFrame::Sunken);
    pnlComLamp_->setFixedSize(22, 22);
    pnlComLamp_->setAutoFillBackground(true);
    btnULCancel_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                   QStringLiteral("Cancel Upload"), central);
    btnULCancel_->setObjectName(QStringLiteral("BtnULCancel"));
    btnULCancel_->setEnabled(false);
    btnULCancel_->setShortcut(QKeySequence(Qt::Key_Escape));
    btnULCancel_->setToolTip(QStringLiteral("Esc"));

    grpBxProgress_ = new QGroupBox(QStringLiteral("Progress"), central);
    grpBxProgress_->setObjectName(QStringLiteral("GrpBxProgress"));
    auto* lblScript = new QLabel(QStringLiteral("Script Progress"), grpBxProgress_);
    lblScript->setObjectName(QStringLiteral("LblScript"));
    ggeScript_ = MakeGauge("GgeScript", QColor(0, 128, 128), grpBxProgress_);
    ggeScript_->setAccessibleName(lblScript->text());
    lblUpload_ = new QLabel(QStringLiteral("Upload Progress"), grpBxProgress_);
    lblUpload_->setObjectName(QStringLiteral("LblUpload"));
    ggeUpload_ = MakeGauge("GgeUpload", QColor(0, 0, 255), grpBxProgress_);
    ggeUpload_->setAccessibleName(lblUpload_->text());
    auto* progressLayout = new QVBoxLayout(grpBxProgress_);
    progressLayout->addWidget(lblScript);
    progressLayout->addWidget(ggeScript_);
    progressLayout->addWidget(lblUpload_);
    progressLayout->addWidget(ggeUpload_);
    grpBxProgress_->hide();

    pnlLights_ = new QFrame(central);
    pnlLights_->setObjectName(QStringLiteral("PnlLights"));
    pnlLights_->setToolTip(QString::fromLatin1(kLightsHint));
    pnlLights_->setAccessibleName(pnlLights_->toolTip());
    pnlLights_->setFrameShape(QFrame::StyledPanel);
    pnlLights_->setFrameShadow(QFrame::Raised);
    auto* lightsColumn = new QVBoxLayout(pnlLights_);
    lightsColumn->setContentsMargins(8, 4, 8, 4);
    auto* lightsLayout = new QHBoxLayout;
    lightsLayout->setContentsMargins(0, 0, 0, 0);
    lightsColumn->addLayout(lightsLayout);
    auto* lightsCaption = new QLabel(QStringLiteral("Status Lights"), pnlLights_);
    lightsCaption->setObjectName(QStringLiteral("LblStatusLights"));
    lightsLayout->addWidget(lightsCaption);
    lightsLayout->addStretch();
    auto addLight = [&](const char* name) {
        auto* light = new TVaxoStatusLight(pnlLights_);
        light->setObjectName(QStringLiteral("Light") + QString::fromLatin1(name));
        light->setFixedSize(10, 8);
        light->SetStateName(QString::fromLatin1(name));
        auto* label = new QLabel(QString::fromLatin1(name), pnlLights_);
        label->setObjectName(QStringLiteral("Lbl") + QString::fromLatin1(name));
        lightsLayout->addWidget(light);
        lightsLayout->addWidget(label);
        lightsLayout->addSpacing(8);
        return light;
    };
    lightCts_ = addLight("CTS");
    lightDsr_ = addLight("DSR");
    lightDcd_ = addLight("DCD");
    lightErr_ = addLight("ERR");
    // A row of its own below the lamps, shown while the port's device is away; a long device
    // path is shortened in the middle rather than widening the window.
    lblPortState_ = new QLabel(pnlLights_);
    lblPortState_->setObjectName(QStringLiteral("LblPortState"));
    QPalette alarm = lblPortState_->palette();
    alarm.setColor(QPalette::WindowText, QColor(0xB0, 0, 0));
    lblPortState_->setPalette(alarm);
    QFont bold = lblPortState_->font();
    bold.setBold(true);
    lblPortState_->setFont(bold);
    lblPortState_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblPortState_->installEventFilter(this);
    lblPortState_->hide();
    lightsColumn->addWidget(lblPortState_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnUpload_);
    buttons->addWidget(pnlComLamp_);
    buttons->addStretch();
    buttons->addWidget(btnULCancel_);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(buttons);
    layout->addWidget(grpBxProgress_);
    layout->addStretch();
    layout->addWidget(pnlLights_);
    resize(420, 300);

    opnDlgULFile_ = new QFileDialog(this);
    opnDlgULFile_->setObjectName(QStringLiteral("OpnDlgULFile"));
    opnDlgULFile_->setNameFilter(QtFilterOf(kScriptFilter));
    opnDlgULFile_->setDefaultSuffix(QStringLiteral("sld"));
    opnDlgULFile_->setFileMode(QFileDialog::ExistingFile);
    opnDlgULFile_->setAcceptMode(QFileDialog::AcceptOpen);

    vaxoSLController2_ = new TVaxoSLController(this);
    vaxoSLController2_->setObjectName(QStringLiteral("VaxoSLController2"));
    vaxoSLController2_->SetRXDOffTimeout(5);
    vaxoSLController2_->SetTXDOffTimeout(5);
    vaxoSLController2_->Lights().SetCTSLight(lightCts_);
    vaxoSLController2_->Lights().SetDSRLight(lightDsr_);
    vaxoSLController2_->Lights().SetDCDLight(lightDcd_);
    vaxoSLController2_->Lights().SetERRORLight(lightErr_);

    connect(spdBtnTerm_, &QToolButton::clicked, this, &TFrmLoadr::SpdBtnTermClick);
    connect(spdBtnComSet_, &QToolButton::clicked, this, &TFrmLoadr::SpdBtnComSetClick);
    connect(btnUpload_, &QPushButton::clicked, this, &TFrmLoadr::BtnUploadClick);
    connect(btnULCancel_, &QPushButton::clicked, this, &TFrmLoadr::BtnULCancelClick);
}

QString TFrmLoadr::QtFilterOf(const std::string& filter) {
    const QStringList parts = QString::fromLatin1(filter).split(QLatin1Char('|'));
    QStringList names;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        names << parts[i];
    }
    return names.join(QStringLiteral(";;"));
}

void TFrmLoadr::FormCreate(const Options& options) {
    THintDelayStyle::Install(kHintDelayMs);

    LoaderStart start = LoaderStart::Run(CurrentDirectory(), boxes_);
    iniPath_ = start.IniPath;
    if (!options.Script.empty()) {
        start.Settings.DefaultScript = options.Script;
    }
    run_.ApplySettings(start.Settings);
    if (start.Settings.ManualUpload) {
        MnuItmManualClick();
    }
    if (!start.VersionWritten) {
        // The rest of creation is skipped; the program starts all the same.
        return;
    }
    run_.Engine().Run().LogOpen = false;

    if (options.SplashWait.count() > 0) {
        splash_ = std::make_unique<TSplashScreen>();
        splash_->ShowAndWait(options.SplashWait);
    }
}

void TFrmLoadr::SetPeers(Peers peers) {
    if (peers_.Port != nullptr) {
        peers_.Port->RemoveNotifyProc(&TFrmLoadr::PortOpenedOrClosing, this);
    }
    peers_ = std::move(peers);
    if (peers_.Port != nullptr) {
        peers_.Port->AddNotifyProc(&TFrmLoadr::PortOpenedOrClosing, this);
    }
    vaxoSLController2_->SetComPort(peers_.Port);
    run_.PortChanged();
    Render();
}

void TFrmLoadr::ReportException(const std::exception& e) {
    boxes_.Show(MsgKind::Error, e.what(), MbOk);
}

bool TFrmLoadr::TerminalAvailable() const {
    return terminal_ != nullptr || static_cast<bool>(peers_.CreateTerminal);
}

// --- The run's view ---------------------------------------------------------------------------

void TFrmLoadr::Render() {
    const RunView& view = run_.View();
    ggeScript_->setValue(view.ScriptPercent);
    ggeUpload_->setValue(view.UploadPercent);
    lblUpload_->setText(QString::fromLocal8Bit(view.UploadLabel.data(),
                                               static_cast<qsizetype>(view.UploadLabel.size())));
    SetComLamp(view.Lamp);
    grpBxProgress_->setVisible(view.ProgressVisible);
    const RunControls& controls = view.Controls;
    btnUpload_->setEnabled(controls.Start);
    btnULCancel_->setEnabled(controls.Cancel);
    spdBtnComSet_->setEnabled(controls.Settings);
    mnuItmRS232_->setEnabled(controls.Settings);
    // The window adds what only it knows: whether it can make a terminal window at all.
    const bool terminal = controls.Terminal && TerminalAvailable();
    spdBtnTerm_->setEnabled(terminal);
    mnuItmTerminal_->setEnabled(terminal);
    ShowPortState(
        view.State == RunState::PortLost ||
        (view.State == RunState::Running && peers_.Port != nullptr && peers_.Port->Lost()));
}

void TFrmLoadr::SetComLamp(LampColour colour) {
    QPalette palette = pnlComLamp_->palette();
    palette.setColor(QPalette::Window, QColor(colour.Red, colour.Green, colour.Blue));
    pnlComLamp_->setPalette(palette);
    // Green while a run goes well, red after an error (and before the first run).
    pnlComLamp_->setAccessibleDescription(colour == LampGreen
                                              ? QStringLiteral("green: no error")
                                              : QStringLiteral("red: error or no run yet"));
}

bool TFrmLoadr::TerminalExists() const {
    return spdBtnTerm_->property("Tag").toInt() != 0;
}

void TFrmLoadr::SetTerminalActive(bool active) {
    if (peers_.SetTerminalActive) {
        peers_.SetTerminalActive(active);
    }
}

bool TFrmLoadr::ChooseScriptFile(std::string& path) {
    // The dialog opens in the current folder (the default path, or the last script's folder).
    opnDlgULFile_->setDirectory(QDir::currentPath());
    if (opnDlgULFile_->exec() != QDialog::Accepted) {
        return false;
    }
    const QStringList files = opnDlgULFile_->selectedFiles();
    if (files.isEmpty()) {
        return false;
    }
    const QFileInfo chosen(files.front());
    // The script's folder becomes current, so its relative names and the next log refer to it.
    // On failure names stay relative to the previous folder; the absolute script path works.
    std::error_code error;
    std::filesystem::current_path(chosen.absolutePath().toLocal8Bit().toStdString(), error);
    path = chosen.absoluteFilePath().toLocal8Bit().toStdString();
    return true;
}

void TFrmLoadr::PortOpenedOrClosing(void* context, TVaxoCustomComPort*, bool) {
    static_cast<TFrmLoadr*>(context)->run_.PortChanged();
}

void TFrmLoadr::ShowPortState(bool lost) {
    const QString text =
        lost ? QStringLiteral("disconnected: ") + QString::fromStdString(peers_.Port->LostDevice())
             : QString();
    pnlComLamp_->setToolTip(lost ? text : QString::fromLatin1(kLampHint));
    pnlLights_->setToolTip(lost ? text : QString::fromLatin1(kLightsHint));
    if (lblPortState_->toolTip() != text && QToolTip::isVisible()) {
        QToolTip::hideText(); // one shown now would go on telling the old state
    }
    lblPortState_->setToolTip(text);
    lblPortState_->setAccessibleName(text);
    lblPortState_->setVisible(lost);
    FitPortState();
}

void TFrmLoadr::FitPortState() {
    const QString text = lblPortState_->toolTip();
    lblPortState_->setText(
        lblPortState_->fontMetrics().elidedText(text, Qt::ElideMiddle, lblPortState_->width()));
}

// --- Handlers --------------------------------------------------------------------------------

void TFrmLoadr::BtnUploadClick() {
    run_.Start(ManualMode());
}

void TFrmLoadr::BtnULCancelClick() {
    run_.Cancel();
}

void TFrmLoadr::SpdBtnTermClick() {
    if (!TerminalExists()) {
        if (!run_.Link().SCommOpen()) {
            boxes_.Show(MsgKind::Error, "Com port not available, can not open terminal.", MbOk);
            return;
        }
        if (!peers_.CreateTerminal) {
            return;
        }
        terminal_ = peers_.CreateTerminal();
        if (terminal_ == nullptr) {
            return;
        }
    }
    if (terminal_->isMinimized()) {
        terminal_->showNormal();
    } else {
        terminal_->show();
    }
    terminal_->raise();
    terminal_->activateWindow();
    spdBtnTerm_->setProperty("Tag", 1);
    Render();
}

void TFrmLoadr::SpdBtnComSetClick() {
    if (peers_.ShowSettings) {
        peers_.ShowSettings();
    }
}

void TFrmLoadr::MnuItmExitClick() {
    if (boxes_.Show(MsgKind::Confirm, "Exit now ?", MbOk | MbCancel) == MbOk) {
        close();
    }
}

void TFrmLoadr::MnuItmStatusLightsClick() {
    // The action has toggled its own check mark already.
    const bool marked = mnuItmStatusLights_->isChecked();
    pnlLights_->setVisible(marked);
    try {
        vaxoSLController2_->SetWatching(marked);
    } catch (const std::exception& e) {
        ReportException(e);
    }
}

void TFrmLoadr::MnuItmManualClick() {
    mnuItmManual_->setChecked(true);
    btnUpload_->setText(QStringLiteral("Select Upload Script"));
}

void TFrmLoadr::MnuItmAutomaticClick() {
    mnuItmAutomatic_->setChecked(true);
    btnUpload_->setText(QStringLiteral("Start File Upload"));
}

void TFrmLoadr::MnuItmHelpTopicsClick() {
    if (!help_) {
        help_ = std::make_unique<THelpWindow>();
    }
    help_->ShowTopics();
}

void TFrmLoadr::ShowHelpContext(int context) {
    if (!help_) {
        help_ = std::make_unique<THelpWindow>();
    }
    help_->ShowContext(context);
}

void TFrmLoadr::MnuItmAboutClick() {
    if (peers_.ShowAbout) {
        peers_.ShowAbout();
    }
}

bool TFrmLoadr::ManualMode() const {
    return mnuItmManual_->isChecked();
}

bool TFrmLoadr::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblPortState_ && event->type() == QEvent::Resize) {
        FitPortState();
        return false;
    }
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        if (auto* menu = qobject_cast<QMenu*>(watched)) {
            const QAction* item = menu->activeAction();
            const QVariant context =
                item != nullptr ? item->property(kHelpContextProperty) : QVariant();
            menu->close();
            ShowHelpContext(context.isValid() ? context.toInt() : kHelpContext);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFrmLoadr::closeEvent(QCloseEvent* event) {
    FormClose();
    if (help_) {
        help_->close();
    }
    QMainWindow::closeEvent(event);
}

void TFrmLoadr::FormClose() {
    if (closed_) {
        return;
    }
    closed_ = true;
    // A run still going would tick on against a closed port; the log closes at the end.
    run_.Close();
    try {
        if (mnuItmStatusLights_->isChecked()) {
            vaxoSLController2_->SetWatching(false);
        }
    } catch (const std::exception& e) {
        ReportException(e);
    }
    // Upload mode off and the port closed.
    try {
        if (peers_.ClosePort) {
            peers_.ClosePort();
        }
    } catch (const std::exception& e) {
        ReportException(e);
    }
    run_.Engine().Run().Lines.clear();
}

} // namespace pellwick
