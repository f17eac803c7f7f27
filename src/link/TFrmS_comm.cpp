#include "link/TFrmS_comm.h"

#include "ini/PrivateProfile.h"
#include "link/TRadioGroup.h"
#include "portselect/TDeviceSelectionForm.h"
#include "serial/portmap/AdapterInfo.h"
#include "serial/portmap/PortMap.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

namespace pellwick {

TFrmS_comm::TFrmS_comm(PortOwner& owner, std::string iniPath, IMessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), owner_(owner), iniPath_(std::move(iniPath)), boxes_(boxes) {
    setObjectName("FrmS_comm");
    setWindowTitle("Communication Settings");
    setProperty("HelpContext", HelpContextNumber);
    owner_.Link().SetBusyCursorHook([](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });

    LblComPort = new QLabel("Serial Port", this);
    LblComPort->setObjectName("LblComPort");
    QFont bold = LblComPort->font();
    bold.setBold(true);
    LblComPort->setFont(bold);
    CmbBxComPort = new QComboBox(this);
    CmbBxComPort->setObjectName("CmbBxComPort");
    CmbBxComPort->setMaxVisibleItems(4);
    CmbBxComPort->setEditable(false);
    LblDevicePath = new QLabel(this);
    LblDevicePath->setObjectName("LblDevicePath");

    RdGrpBaudRate = new TRadioGroup("RdGrpBaudRate", "Baud Rate",
                                    {"1200", "9600", "19.2", "38.4", "57.6", "115.2"}, 2, this);
    RdGrpData = new TRadioGroup("RdGrpData", "&Data Bits", {"7", "8"}, 2, this);
    RdGrpStop = new TRadioGroup("RdGrpStop", "&Stop Bits", {"1", "2"}, 2, this);
    RdGrpParity = new TRadioGroup("RdGrpParity", "&Parity", {"None", "Odd", "Even"}, 3, this);

    RdGrpFlow = new QGroupBox(" Flow Control  ", this);
    RdGrpFlow->setObjectName("RdGrpFlow");
    UseDTR_CB = new QCheckBox("Use DTR", RdGrpFlow);
    UseDTR_CB->setObjectName("UseDTR_CB");
    UseRTS_CB = new QCheckBox("Use RTS", RdGrpFlow);
    UseRTS_CB->setObjectName("UseRTS_CB");
    ReqDSR_CB = new QCheckBox("Require DSR", RdGrpFlow);
    ReqDSR_CB->setObjectName("ReqDSR_CB");
    ReqCTS_CB = new QCheckBox("Require CTS", RdGrpFlow);
    ReqCTS_CB->setObjectName("ReqCTS_CB");
    auto* flowGrid = new QGridLayout(RdGrpFlow);
    flowGrid->addWidget(UseDTR_CB, 0, 0);
    flowGrid->addWidget(UseRTS_CB, 1, 0);
    flowGrid->addWidget(ReqDSR_CB, 0, 1);
    flowGrid->addWidget(ReqCTS_CB, 1, 1);

    DTR_RadioGp = new TRadioGroup("DTR_RadioGp", " DTR ", {"Off", "On"}, 2, this);
    RTS_RadioGp = new TRadioGroup("RTS_RadioGp", " RTS ", {"Off", "On"}, 2, this);

    BtnOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), "Save", this);
    BtnOK->setObjectName("BtnOK");
    BtnOK->setDefault(true);
    BtnOK->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    BtnOK->setToolTip("Save (Ctrl+S or Enter)");
    BtnCancel = new QPushButton("Cancel", this);
    BtnCancel->setObjectName("BtnCancel");
    BtnCancel->setToolTip("Cancel (Esc)");

    auto* portRow = new QHBoxLayout;
    portRow->addWidget(LblComPort);
    portRow->addWidget(CmbBxComPort, 1);
    auto* grid = new QGridLayout;
    grid->addWidget(RdGrpBaudRate, 0, 0, 2, 1);
    grid->addWidget(RdGrpData, 0, 1);
    grid->addWidget(RdGrpStop, 1, 1);
    grid->addWidget(RdGrpParity, 2, 0, 1, 2);
    grid->addWidget(RdGrpFlow, 3, 0, 1, 2);
    grid->addWidget(DTR_RadioGp, 4, 0);
    grid->addWidget(RTS_RadioGp, 4, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BtnOK);
    buttons->addWidget(BtnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(portRow);
    layout->addWidget(LblDevicePath);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(CmbBxComPort, &QComboBox::currentIndexChanged, this, [this] { ShowDevicePath(); });
    connect(BtnOK, &QPushButton::clicked, this, [this] { BtnOKClick(); });
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFrmS_comm::~TFrmS_comm() {
    owner_.Link().SetBusyCursorHook({});
}

void TFrmS_comm::FormCreate() {
    owner_.Link().State().StopRequest = false;
    CmbBxComPort->clear();
    {
        TDeviceSelectionForm devices;
        devices.AddPortEntries();
        for (const auto& entry : devices.EntryList())
            CmbBxComPort->addItem(QString::fromStdString(entry));
    }
    LoadRs232Ini();
    owner_.Start();
}

void TFrmS_comm::LoadRs232Ini() {
    PrivateProfile ini(iniPath_);
    try {
        owner_.LoadSettings(ini);
    } catch (...) {
        // What was read before the failed write is shown all the same.
        ShowSettings();
        throw;
    }
    ShowSettings();
}

void TFrmS_comm::ShowSettings() {
    const Rs232Settings& settings = owner_.Settings();
    // A stored port that is not in the list selects nothing, so that a save keeps it rather
    // than quietly taking another port.
    CmbBxComPort->setCurrentIndex(CmbBxComPort->findText(
        QString::fromStdString(Rs232SettingsFile::EntryText(settings.PortNumber))));
    ShowDevicePath();
    ShowLineSettings();
    UseDTR_CB->setChecked(settings.UseDtr);
    UseRTS_CB->setChecked(settings.UseRts);
    ReqDSR_CB->setChecked(settings.RequireDsr);
    ReqCTS_CB->setChecked(settings.RequireCts);
    DTR_RadioGp->SetItemIndex(settings.DtrOn ? 1 : 0);
    RTS_RadioGp->SetItemIndex(settings.RtsOn ? 1 : 0);
}

void TFrmS_comm::FormShow() {
    // Only the flag: the triggers and the active strings stay as they are.
    owner_.Link().State().UploadMode = false;
    ShowLineSettings();
}

void TFrmS_comm::ShowLineSettings() {
    const Rs232Settings& settings = owner_.Settings();
    const auto& rates = Rs232SettingsFile::BaudRates;
    const auto rate = std::find(rates.begin(), rates.end(), settings.BaudRate);
    if (rate != rates.end())
        RdGrpBaudRate->SetItemIndex(static_cast<int>(rate - rates.begin()));
    if (settings.DataBitCount == 7 || settings.DataBitCount == 8)
        RdGrpData->SetItemIndex(settings.DataBitCount - 7);
    if (settings.ParityCode <= 2)
        RdGrpParity->SetItemIndex(settings.ParityCode);
    if (settings.StopBitCount == 1 || settings.StopBitCount == 2)
        RdGrpStop->SetItemIndex(settings.StopBitCount - 1);
}

void TFrmS_comm::showEvent(QShowEvent* event) {
    FormShow();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

void TFrmS_comm::SaveRs232Ini() {
    Rs232Settings settings = owner_.Settings();
    const auto& rates = Rs232SettingsFile::BaudRates;
    const int baudIndex = RdGrpBaudRate->ItemIndex();
    if (baudIndex >= 0 && baudIndex < static_cast<int>(rates.size()))
        settings.BaudRate = rates[static_cast<std::size_t>(baudIndex)];

    const std::string entry = CmbBxComPort->currentText().toStdString();
    if (const auto number = Rs232SettingsFile::PortNumberOfEntry(entry))
        settings.PortNumber = *number;
    else
        boxes_.Show(MsgKind::Error, "Must Select a Direct Com. Port, Please Select Again.", MbOk);

    if (RdGrpData->ItemIndex() >= 0)
        settings.DataBitCount = static_cast<std::uint16_t>(RdGrpData->ItemIndex() + 7);
    if (RdGrpParity->ItemIndex() >= 0)
        settings.ParityCode = static_cast<std::uint8_t>(RdGrpParity->ItemIndex());
    if (RdGrpStop->ItemIndex() >= 0)
        settings.StopBitCount = static_cast<std::uint16_t>(RdGrpStop->ItemIndex() + 1);
    settings.UseDtr = UseDTR_CB->isChecked();
    settings.UseRts = UseRTS_CB->isChecked();
    settings.RequireDsr = ReqDSR_CB->isChecked();
    settings.RequireCts = ReqCTS_CB->isChecked();
    settings.DtrOn = DTR_RadioGp->ItemIndex() == 1;
    settings.RtsOn = RTS_RadioGp->ItemIndex() == 1;

    PrivateProfile ini(iniPath_);
    Rs232SettingsFile::Save(ini, settings, entry);

    // Flow control and the DTR/RTS states are stored for the next start; only the line
    // settings reach the port now.
    owner_.Reopen(settings);
}

void TFrmS_comm::BtnOKClick() {
    try {
        SaveRs232Ini();
    } catch (const std::exception& e) {
        TVaxoCustomComPort::ShowException(e);
        return;
    }
    accept();
}

void TFrmS_comm::ShowDevicePath() {
    const auto number =
        Rs232SettingsFile::PortNumberOfEntry(CmbBxComPort->currentText().toStdString());
    const auto map = PortMap::Global();
    const auto path = number && map ? map->PathOf(*number) : std::nullopt;
    // The adapter's by-id name, vendor and product tell several adapters apart.
    std::string text = path ? *path : std::string();
    const std::string adapter = path ? ReadAdapterInfo(*path).Describe() : std::string();
    if (!adapter.empty()) {
        text += "  (" + adapter + ")";
    }
    LblDevicePath->setText(QString::fromStdString(text));
}

} // namespace pellwick
