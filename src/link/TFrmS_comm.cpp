#include "link/TFrmS_comm.h"

#include "ini/PrivateProfile.h"
#include "link/TRadioGroup.h"
#include "portselect/TDeviceSelectionForm.h"
#include "serial/portmap/AdapterInfo.h"
#include "serial/portmap/NetworkAddress.h"
#include "serial/portmap/PortMap.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>

namespace pellwick {

namespace {

// "  <device>  <manufacturer> <product>  <serial>" for a port list entry, leaving out what the
// kernel does not tell; a device that is not there says so. A port on the network shows its
// address: listing connects to nothing.
std::string DeviceDetails(const std::string& path) {
    std::string text = "  " + path;
    if (LooksLikeNetworkAddress(path)) {
        return text;
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return text + "  (missing)";
    }
    const AdapterInfo info = ReadAdapterInfo(path);
    std::string name = info.manufacturer;
    if (!info.product.empty()) {
        name += (name.empty() ? "" : " ") + info.product;
    }
    for (const std::string& part : {name, info.serial}) {
        if (!part.empty()) {
            text += "  " + part;
        }
    }
    return text;
}

// The rate of a baud item beyond the six, 0 for "Other..." and the six.
std::uint32_t FastRateOf(int item) {
    const auto& fast = Rs232SettingsFile::FastRates;
    const int index = item - TFrmS_comm::FirstFastItem;
    return index >= 0 && index < static_cast<int>(fast.size())
               ? fast[static_cast<std::size_t>(index)]
               : 0;
}

// The item that shows a rate: one of the six, a fast one, or -1 for any other rate.
int ItemOfRate(std::uint32_t rate) {
    const auto& six = Rs232SettingsFile::BaudRates;
    if (const auto it = std::find(six.begin(), six.end(), static_cast<std::int32_t>(rate));
        it != six.end()) {
        return static_cast<int>(it - six.begin());
    }
    const auto& fast = Rs232SettingsFile::FastRates;
    if (const auto it = std::find(fast.begin(), fast.end(), rate); it != fast.end()) {
        return TFrmS_comm::FirstFastItem + static_cast<int>(it - fast.begin());
    }
    return -1;
}

} // namespace

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
    // A device path typed in is a port as well; Save gives it a number in [Ports].
    CmbBxComPort->setEditable(true);
    CmbBxComPort->setInsertPolicy(QComboBox::NoInsert);
    CmbBxComPort->setToolTip("Choose a port, or type the path of a serial device (/dev/ttyUSB0, "
                             "/dev/serial/by-id/...): Save keeps it in [Ports] of loader.ini.");
    LblDevicePath = new QLabel(this);
    LblDevicePath->setObjectName("LblDevicePath");

    RdGrpBaudRate = new TRadioGroup(
        "RdGrpBaudRate", "Baud Rate",
        {"1200", "9600", "19.2", "38.4", "57.6", "115.2", "230.4", "460.8", "921.6", "Other..."}, 2,
        this);
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
    // Linux serial drivers have RTS/CTS handshake only.
    UseDTR_CB->setToolTip("Does nothing on Linux: there is no DTR handshake, and DTR keeps the "
                          "state it had. The setting is kept in loader.ini.");
    ReqDSR_CB->setToolTip("Does nothing on Linux: output does not wait for DSR. The setting is "
                          "kept in loader.ini.");
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

    connect(CmbBxComPort, &QComboBox::currentTextChanged, this, [this] { ShowDevicePath(); });
    rateQuestion_ = [this](std::uint32_t current) -> std::optional<std::uint32_t> {
        bool ok = false;
        const int rate = QInputDialog::getInt(
            this, "Baud Rate",
            QString("Baud rate (%1 to %2):")
                .arg(Rs232SettingsFile::MinLineRate)
                .arg(Rs232SettingsFile::MaxLineRate),
            static_cast<int>(current), static_cast<int>(Rs232SettingsFile::MinLineRate),
            static_cast<int>(Rs232SettingsFile::MaxLineRate), 1, &ok);
        return ok ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(rate)) : std::nullopt;
    };
    for (int item = 0; item < RdGrpBaudRate->Count(); ++item) {
        if (item == OtherRateItem) {
            connect(RdGrpBaudRate->Item(item), &QRadioButton::clicked, this,
                    [this] { OtherRateClicked(); });
        } else {
            connect(RdGrpBaudRate->Item(item), &QRadioButton::toggled, this, [this, item](bool on) {
                if (on)
                    checkedRateItem_ = item;
            });
        }
    }
    connect(BtnOK, &QPushButton::clicked, this, [this] { BtnOKClick(); });
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFrmS_comm::~TFrmS_comm() {
    owner_.Link().SetBusyCursorHook({});
}

void TFrmS_comm::FormCreate() {
    owner_.Link().State().StopRequest = false;
    FillPortList();
    LoadRs232Ini();
    owner_.Start();
}

void TFrmS_comm::FillPortList() {
    CmbBxComPort->clear();
    const auto map = PortMap::Global();
    std::map<int, std::string> entries;
    TDeviceSelectionForm devices;
    devices.AddPortEntries();
    for (const auto& entry : devices.EntryList()) {
        if (const auto number = Rs232SettingsFile::PortNumberOfEntry(entry)) {
            const auto path = map ? map->PathOf(*number) : std::nullopt;
            entries[*number] = entry + (path ? DeviceDetails(*path) : std::string());
        }
    }
    // A device named in [Ports] that is not there now stays in the list, marked missing, so
    // that the operator sees the setting instead of losing it.
    if (map) {
        for (const auto& [number, path] : map->Entries()) {
            if (entries.count(number) == 0)
                entries[number] = Rs232SettingsFile::EntryText(number) + DeviceDetails(path);
        }
    }
    for (const auto& [number, text] : entries)
        CmbBxComPort->addItem(QString::fromStdString(text), number);
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
    CmbBxComPort->setCurrentIndex(CmbBxComPort->findData(static_cast<int>(settings.PortNumber)));
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
    const int item = ItemOfRate(static_cast<std::uint32_t>(settings.PortBaud()));
    if (settings.LineRate != 0 && item < FirstFastItem) {
        // A rate of [Line] that no other item has (also one of the six written there by hand).
        otherRate_ = settings.LineRate;
        ShowOtherRate();
        RdGrpBaudRate->SetItemIndex(OtherRateItem);
    } else if (item >= 0) {
        RdGrpBaudRate->SetItemIndex(item);
    }
    if (settings.DataBitCount == 7 || settings.DataBitCount == 8)
        RdGrpData->SetItemIndex(settings.DataBitCount - 7);
    if (settings.ParityCode <= 2)
        RdGrpParity->SetItemIndex(settings.ParityCode);
    if (settings.StopBitCount == 1 || settings.StopBitCount == 2)
        RdGrpStop->SetItemIndex(settings.StopBitCount - 1);
}

void TFrmS_comm::OtherRateClicked() {
    const std::uint32_t offered =
        otherRate_ != 0 ? otherRate_ : static_cast<std::uint32_t>(Settings().PortBaud());
    const std::optional<std::uint32_t> rate = rateQuestion_ ? rateQuestion_(offered) : std::nullopt;
    if (!rate || *rate < Rs232SettingsFile::MinLineRate || *rate > Rs232SettingsFile::MaxLineRate) {
        if (otherRate_ == 0)
            RdGrpBaudRate->SetItemIndex(checkedRateItem_);
        return;
    }
    if (const int item = ItemOfRate(*rate); item >= 0) {
        RdGrpBaudRate->SetItemIndex(item);
        return;
    }
    otherRate_ = *rate;
    ShowOtherRate();
}

void TFrmS_comm::ShowOtherRate() {
    RdGrpBaudRate->Item(OtherRateItem)
        ->setText(otherRate_ != 0 ? QString("Other (%1)...").arg(otherRate_) : QString("Other..."));
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
    // One of the six is "Baud Rate" of [RS232Settings] and leaves [Line]; a faster rate goes
    // to [Line] and leaves "Baud Rate" as it was.
    if (baudIndex >= 0 && baudIndex < static_cast<int>(rates.size())) {
        settings.BaudRate = rates[static_cast<std::size_t>(baudIndex)];
        settings.LineRate = 0;
    } else if (baudIndex == OtherRateItem && otherRate_ != 0) {
        settings.LineRate = otherRate_;
    } else if (const std::uint32_t fast = FastRateOf(baudIndex); fast != 0) {
        settings.LineRate = fast;
    }

    PrivateProfile ini(iniPath_);
    std::string entry = CmbBxComPort->currentText().toStdString();
    if (const auto number = ChosenPortNumber(entry)) {
        settings.PortNumber = *number;
        entry = Rs232SettingsFile::EntryText(*number);
    } else {
        boxes_.Show(MsgKind::Error, "Must Select a Direct Com. Port, Please Select Again.", MbOk);
    }

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

    Rs232SettingsFile::Save(ini, settings, entry);

    // Flow control and the DTR/RTS states are stored for the next start; only the line
    // settings reach the port now.
    owner_.Reopen(settings);
}

std::optional<std::uint16_t> TFrmS_comm::ChosenPortNumber(const std::string& text) {
    if (const auto number = Rs232SettingsFile::PortNumberOfEntry(text))
        return number;
    if (const auto number = PortMap::ParseComName(text))
        return static_cast<std::uint16_t>(*number);
    // A device path or a port on the network that parses; anything else is not a port.
    std::string why;
    const bool network = LooksLikeNetworkAddress(text);
    if (network ? !ParseNetworkAddress(text, why) : (text.empty() || text.front() != '/'))
        return std::nullopt;
    // A path the map has keeps its number; a new one takes the lowest free number.
    const auto map = PortMap::Global();
    const PortMap current = map ? *map : PortMap();
    int number = 0;
    for (const auto& [n, path] : current.Entries()) {
        if (path == text) {
            number = n;
            break;
        }
    }
    for (int n = PortMap::MinComNumber; number == 0 && n <= PortMap::MaxComNumber; ++n) {
        if (!current.PathOf(n))
            number = n;
    }
    if (number == 0)
        return std::nullopt;
    PrivateProfile(iniPath_).WriteString("Ports", "COM" + std::to_string(number), text);
    PortMap::SetGlobal(std::make_shared<const PortMap>(current.WithEntry(number, text)));
    FillPortList();
    CmbBxComPort->setCurrentIndex(CmbBxComPort->findData(number));
    return static_cast<std::uint16_t>(number);
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
    const std::string chosen = CmbBxComPort->currentText().toStdString();
    const auto number = Rs232SettingsFile::PortNumberOfEntry(chosen);
    const auto map = PortMap::Global();
    // A path being typed is shown as it stands, with its adapter once it names one.
    const auto path = number && map                         ? map->PathOf(*number)
                      : !chosen.empty() && chosen[0] == '/' ? std::optional<std::string>(chosen)
                                                            : std::nullopt;
    // The adapter's by-id name, vendor and product tell several adapters apart.
    std::string text = path ? *path : std::string();
    const std::string adapter = path ? ReadAdapterInfo(*path).Describe() : std::string();
    if (!adapter.empty()) {
        text += "  (" + adapter + ")";
    }
    LblDevicePath->setText(QString::fromStdString(text));
}

} // namespace pellwick
