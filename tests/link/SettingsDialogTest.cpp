// The communication settings window on pseudo-terminals standing in for the machine's ports.
#include "LinkFakes.h"
#include "ini/EIniWriteError.h"
#include "ini/PrivateProfile.h"
#include "link/TFrmS_comm.h"
#include "link/TRadioGroup.h"
#include "serial/portmap/PortMap.h"
#include "support/LineRate.h"
#include "support/PtyPair.h"
#include "support/TempFolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>

namespace pellwick {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
using test::FakeLinkHost;
using test::ScriptedBoxes;
using test::Unscripted;

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override { Ports({{1, com1.SlavePath()}}); }
    void TearDown() override {
        view.reset();
        dialog.reset();
        owner.reset();
    }
    void Ports(const std::map<int, std::string>& ports) {
        PortMap::SetGlobal(std::make_shared<PortMap>(ports));
    }
    void WriteIni(const std::string& text) { std::ofstream(ini) << text; }
    // The dialog's controls, found by their names.
    struct View {
        TFrmS_comm& Form;
        TVaxoCustomComPort& VaxoComPort1;
        LinkOperations& Owned;
        template <typename T> T* Get(const char* name) const {
            T* w = Form.findChild<T*>(name);
            EXPECT_NE(w, nullptr) << name;
            return w;
        }
        LinkOperations& Link() const { return Owned; }
        QLabel* LblComPort = Get<QLabel>("LblComPort");
        QComboBox* CmbBxComPort = Get<QComboBox>("CmbBxComPort");
        QLabel* LblDevicePath = Get<QLabel>("LblDevicePath");
        TRadioGroup* RdGrpBaudRate = Get<TRadioGroup>("RdGrpBaudRate");
        TRadioGroup* RdGrpData = Get<TRadioGroup>("RdGrpData");
        TRadioGroup* RdGrpStop = Get<TRadioGroup>("RdGrpStop");
        TRadioGroup* RdGrpParity = Get<TRadioGroup>("RdGrpParity");
        QCheckBox* UseDTR_CB = Get<QCheckBox>("UseDTR_CB");
        QCheckBox* UseRTS_CB = Get<QCheckBox>("UseRTS_CB");
        QCheckBox* ReqDSR_CB = Get<QCheckBox>("ReqDSR_CB");
        QCheckBox* ReqCTS_CB = Get<QCheckBox>("ReqCTS_CB");
        TRadioGroup* DTR_RadioGp = Get<TRadioGroup>("DTR_RadioGp");
        TRadioGroup* RTS_RadioGp = Get<TRadioGroup>("RTS_RadioGp");
        QPushButton* BtnOK = Get<QPushButton>("BtnOK");
        QPushButton* BtnCancel = Get<QPushButton>("BtnCancel");
    };
    void Make() {
        owner = std::make_unique<PortOwner>(boxes);
        owner->SetHost(&host);
        dialog = std::make_unique<TFrmS_comm>(*owner, ini, boxes);
    }
    View& Create() {
        Make();
        dialog->FormCreate();
        view = std::make_unique<View>(View{*dialog, owner->Port(), owner->Link()});
        return *view;
    }
    std::string Read(const std::string& section, const std::string& key) const {
        return PrivateProfile(ini).ReadString(section, key, "<missing>");
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes.Shown)
            texts.push_back(box.Text);
        return texts;
    }

    test::PtyPair com1;
    test::PtyPair com3;
    TempFolder folder;
    std::string ini = folder.File("loader.ini");
    ScriptedBoxes boxes{Unscripted::PressFirstButton};
    FakeLinkHost host;
    std::vector<std::string> shownExceptions;
    ScopedHook<TVaxoCustomComPort::ExceptionDisplay> display_{
        TVaxoCustomComPort::ExceptionDisplayHook(),
        [this](const std::exception& e) { shownExceptions.push_back(e.what()); }};
    ScopedHook<std::shared_ptr<const PortMap>> portMap_{PortMap::GlobalHook(), nullptr};
    std::unique_ptr<PortOwner> owner;
    std::unique_ptr<TFrmS_comm> dialog;
    std::unique_ptr<View> view;
};

TEST_F(SettingsDialogTest, WithoutIniFileDefaultsAreShownAppliedAndOnlyTheRepairsWritten) {
    auto& d = Create();
    EXPECT_EQ(
        PrivateProfile(ini).ReadSection("RS232Settings"),
        (Entries{{"Comm Port", "COM1"}, {"Data Bits", "8"}, {"Parity", "0"}, {"Stop Bit", "1"}}));
    EXPECT_TRUE(PrivateProfile(ini).ReadSection("Trigger").empty());
    EXPECT_TRUE(PrivateProfile(ini).ReadSection("Upload Settings").empty());

    EXPECT_EQ(d.CmbBxComPort->count(), 1);
    EXPECT_EQ(d.CmbBxComPort->currentText().toStdString(), "Direct to COM1  " + com1.SlavePath());
    EXPECT_EQ(d.LblDevicePath->text().toStdString(), com1.SlavePath());
    EXPECT_EQ(d.RdGrpBaudRate->ItemIndex(), 2);
    EXPECT_EQ(d.RdGrpData->ItemIndex(), 1);
    EXPECT_EQ(d.RdGrpParity->ItemIndex(), 0);
    EXPECT_EQ(d.RdGrpStop->ItemIndex(), 0);
    EXPECT_FALSE(d.UseDTR_CB->isChecked());
    EXPECT_TRUE(d.UseRTS_CB->isChecked());
    EXPECT_FALSE(d.ReqDSR_CB->isChecked());
    EXPECT_TRUE(d.ReqCTS_CB->isChecked());
    EXPECT_EQ(d.DTR_RadioGp->ItemIndex(), 1);
    EXPECT_EQ(d.RTS_RadioGp->ItemIndex(), 1);

    auto& port = d.VaxoComPort1;
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.ComNumber(), 1);
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_EQ(port.DataBits(), 8);
    EXPECT_EQ(port.Parity(), pNone);
    EXPECT_EQ(port.StopBits(), 1);
    EXPECT_EQ(port.HWFlowOptions(), hwfUseRTS | hwfRequireCTS);
    EXPECT_TRUE(port.DTR());
    EXPECT_TRUE(port.RTS());
    EXPECT_EQ(port.OutSize(), 4096);
    EXPECT_FALSE(port.AutoOpen());
    EXPECT_EQ(port.TraceName(), "COM.TRC");
    EXPECT_EQ(port.LogName(), "COM.LOG");
    EXPECT_EQ(port.LogSize(), 20000u);
    EXPECT_EQ(host.ComBtnState, std::vector<bool>{true});
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(d.Link().State().ActivePrompt, "#");
}

TEST_F(SettingsDialogTest, InvalidValuesAreRepairedAndBufferSizeKeptWithinItsLimits) {
    WriteIni("[RS232Settings]\nComm Port=COMX\nBaud Rate=19.2\n[Upload Settings]\n"
             "Buffer Size=100\n");
    auto& d = Create();
    EXPECT_EQ(Read("RS232Settings", "Comm Port"), "COM1");
    EXPECT_EQ(Read("RS232Settings", "Baud Rate"), "19200");
    EXPECT_EQ(Read("Upload Settings", "Buffer Size"), "100");
    EXPECT_EQ(d.VaxoComPort1.Baud(), 19200);
    EXPECT_EQ(d.VaxoComPort1.OutSize(), 2078);
    EXPECT_EQ(d.RdGrpBaudRate->ItemIndex(), 2);

    dialog.reset();
    WriteIni("[Upload Settings]\nBuffer Size=70000\nBlock Size=0\n");
    auto& d2 = Create();
    EXPECT_EQ(d2.VaxoComPort1.OutSize(), 4464); // 70000 kept in 16 bits
    EXPECT_EQ(d2.Link().State().BlockSize, 1);
}

TEST_F(SettingsDialogTest, StoredPortIsSelectedAmongThePresentPortsWithItsDevicePath) {
    // A port on the network is listed with its address; listing connects to nothing.
    Ports({{1, com1.SlavePath()}, {3, com3.SlavePath()}, {7, "rfc2217://[::1]:9"}});
    WriteIni("[RS232Settings]\nComm Port=COM3\n");
    auto& d = Create();
    ASSERT_EQ(d.CmbBxComPort->count(), 3);
    EXPECT_EQ(d.CmbBxComPort->itemText(0).toStdString(), "Direct to COM1  " + com1.SlavePath());
    EXPECT_EQ(d.CmbBxComPort->currentText().toStdString(), "Direct to COM3  " + com3.SlavePath());
    EXPECT_EQ(d.LblDevicePath->text().toStdString(), com3.SlavePath());
    EXPECT_EQ(d.VaxoComPort1.ComNumber(), 3);
    EXPECT_TRUE(d.VaxoComPort1.Open());
    d.CmbBxComPort->setCurrentIndex(2);
    EXPECT_EQ(d.CmbBxComPort->currentText().toStdString(), "Direct to COM7  rfc2217://[::1]:9");
    EXPECT_EQ(d.LblDevicePath->text().toStdString(), "rfc2217://[::1]:9");
    d.CmbBxComPort->setCurrentIndex(0);
    EXPECT_EQ(d.LblDevicePath->text().toStdString(), com1.SlavePath());
}

TEST_F(SettingsDialogTest, LineStatesRoundTripThroughSaveUnchanged) {
    WriteIni("[RS232Settings]\nComm Port=COM1\nData Bits=8\nParity=0\nStop Bit=2\n"
             "DTR State=1\nRTS State=0\nRequire DSR=1\nRequire CTS=0\n");
    auto& d = Create();
    EXPECT_EQ(d.DTR_RadioGp->ItemIndex(), 1);
    EXPECT_EQ(d.RTS_RadioGp->ItemIndex(), 0);
    d.BtnOK->click();
    EXPECT_EQ(d.Form.result(), QDialog::Accepted);
    EXPECT_EQ(PrivateProfile(ini).ReadSection("RS232Settings"), (Entries{{"Comm Port", "COM1"},
                                                                         {"Data Bits", "8"},
                                                                         {"Parity", "0"},
                                                                         {"Stop Bit", "2"},
                                                                         {"DTR State", "1"},
                                                                         {"RTS State", "0"},
                                                                         {"Require DSR", "1"},
                                                                         {"Require CTS", "0"},
                                                                         {"Baud Rate", "19200"},
                                                                         {"Use DTR", "0"},
                                                                         {"Use RTS", "1"}}));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
}

TEST_F(SettingsDialogTest, SaveWritesTheChoicesAndReopensThePortWithNewLineSettingsOnly) {
    Ports({{1, com1.SlavePath()}, {3, com3.SlavePath()}});
    auto& d = Create();
    int opened = 0;
    int closed = 0;
    struct Counts {
        int& opened;
        int& closed;
    } counts{opened, closed};
    const TPortNotifyProc count = [](void* context, TVaxoCustomComPort*, bool opening) {
        auto* c = static_cast<Counts*>(context);
        ++(opening ? c->opened : c->closed);
    };
    d.VaxoComPort1.AddNotifyProc(count, &counts);

    d.UseDTR_CB->setChecked(true);
    d.RdGrpBaudRate->SetItemIndex(5);
    d.CmbBxComPort->setCurrentIndex(1);
    d.BtnOK->click();
    EXPECT_EQ(d.Form.result(), QDialog::Accepted);
    EXPECT_EQ(Read("RS232Settings", "Use DTR"), "1");
    EXPECT_EQ(Read("RS232Settings", "Baud Rate"), "115200");
    EXPECT_EQ(Read("RS232Settings", "Comm Port"), "COM3");
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(d.VaxoComPort1.Open());
    EXPECT_EQ(d.VaxoComPort1.ComNumber(), 3);
    EXPECT_EQ(d.VaxoComPort1.Baud(), 115200);
    // Flow control changes only at the next start.
    EXPECT_EQ(d.VaxoComPort1.HWFlowOptions(), hwfUseRTS | hwfRequireCTS);
    EXPECT_EQ(host.ComBtnState, (std::vector<bool>{true, true}));
    // The new triggers are the port's own: switching modes drops and remakes them.
    EXPECT_NO_THROW(d.Link().SetUploadMode(true));
    d.VaxoComPort1.RemoveNotifyProc(count, &counts);
}

TEST_F(SettingsDialogTest, FastRatesGoToTheirOwnSectionAndTheLineRunsAtThem) {
    auto& d = Create();
    std::uint32_t asked = 0;
    std::optional<std::uint32_t> answer;
    dialog->SetRateQuestion([&](std::uint32_t current) {
        asked = current;
        return answer;
    });
    struct Row {
        int item;
        std::optional<std::uint32_t> other; // the answer to "Other..."
        std::string lineKey;                // [Line] "Baud Rate" afterwards
        std::string rs232Key;               // [RS232Settings] "Baud Rate" afterwards
        std::uint32_t rate;                 // on the line
        int checked;                        // the item checked after the save
    };
    for (const Row& row :
         {Row{6, {}, "230400", "19200", 230400, 6}, Row{8, {}, "921600", "19200", 921600, 8},
          Row{9, 3000000, "3000000", "19200", 3000000, 9},
          Row{5, {}, "<missing>", "115200", 115200, 5},
          Row{9, 250000, "250000", "115200", 250000, 9},
          Row{9, 460800, "460800", "115200", 460800, 7},
          Row{9, 57600, "<missing>", "57600", 57600, 4}}) {
        answer = row.other;
        // As the operator does it: a click, which asks for the rate of "Other...".
        d.RdGrpBaudRate->Item(row.item)->click();
        d.BtnOK->click();
        EXPECT_EQ(Read("Line", "Baud Rate"), row.lineKey) << row.item;
        EXPECT_EQ(Read("RS232Settings", "Baud Rate"), row.rs232Key) << row.item;
        EXPECT_EQ(d.VaxoComPort1.Baud(), static_cast<std::int32_t>(row.rate));
        EXPECT_EQ(test::KernelLineRate(com1.Master()), row.rate);
        EXPECT_EQ(d.RdGrpBaudRate->ItemIndex(), row.checked) << row.item;
    }
    EXPECT_EQ(asked, 250000u) << "Other... offers the rate it had";
    EXPECT_EQ(d.RdGrpBaudRate->Item(9)->text(), "Other (250000)...");

    // Cancelled: the item checked before comes back.
    dialog.reset();
    Make();
    dialog->SetRateQuestion([](std::uint32_t) { return std::nullopt; });
    dialog->FormCreate();
    auto* baud = dialog->findChild<TRadioGroup*>("RdGrpBaudRate");
    baud->Item(9)->click();
    EXPECT_EQ(baud->ItemIndex(), 4);
    EXPECT_EQ(baud->Item(9)->text(), "Other...");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
}

TEST_F(SettingsDialogTest, RateOfItsOwnSectionOpensThePortAndShowsUnderOther) {
    WriteIni("[RS232Settings]\nComm Port=COM1\nBaud Rate=9600\n[Line]\nBaud Rate=250000\n");
    auto& d = Create();
    EXPECT_EQ(d.RdGrpBaudRate->ItemIndex(), 9);
    EXPECT_EQ(d.RdGrpBaudRate->Item(9)->text(), "Other (250000)...");
    EXPECT_EQ(test::KernelLineRate(com1.Master()), 250000u);

    // A rate out of range is not used, and the operator is told.
    dialog.reset();
    WriteIni("[RS232Settings]\nComm Port=COM1\nBaud Rate=9600\n[Line]\nBaud Rate=5000000\n");
    auto& d2 = Create();
    EXPECT_EQ(d2.RdGrpBaudRate->ItemIndex(), 1);
    EXPECT_EQ(test::KernelLineRate(com1.Master()), 9600u);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Kind, MsgKind::Warning);
    EXPECT_NE(boxes.Shown[0].Text.find("\"5000000\" of section [Line]"), std::string::npos);
}

TEST_F(SettingsDialogTest, PortListShowsDevicesKeepsMissingOnesAndTakesATypedPath) {
    Ports({{1, com1.SlavePath()}, {4, "/dev/pellwick-gone"}});
    auto& d = Create();
    ASSERT_EQ(d.CmbBxComPort->count(), 2);
    EXPECT_EQ(d.CmbBxComPort->itemText(1), "Direct to COM4  /dev/pellwick-gone  (missing)");

    // A path typed in takes the lowest free number, is kept in [Ports] and is the port now.
    d.CmbBxComPort->setEditText(QString::fromStdString(com3.SlavePath()));
    EXPECT_EQ(d.LblDevicePath->text().toStdString(), com3.SlavePath());
    d.BtnOK->click();
    EXPECT_EQ(d.Form.result(), QDialog::Accepted);
    EXPECT_EQ(Read("Ports", "COM2"), com3.SlavePath());
    EXPECT_EQ(Read("RS232Settings", "Comm Port"), "COM2");
    EXPECT_TRUE(d.VaxoComPort1.Open());
    EXPECT_EQ(d.VaxoComPort1.ComNumber(), 2);
    EXPECT_EQ(PortMap::Global()->PathOf(2), com3.SlavePath());
    EXPECT_EQ(d.CmbBxComPort->currentText().toStdString(), "Direct to COM2  " + com3.SlavePath());
    d.VaxoComPort1.WriteText("typed");
    EXPECT_EQ(com3.Read(5), (std::vector<std::uint8_t>{'t', 'y', 'p', 'e', 'd'}));

    // Typed again, the same path keeps its number; "COM1" is a port too.
    d.CmbBxComPort->setEditText(QString::fromStdString(com3.SlavePath()));
    d.BtnOK->click();
    d.CmbBxComPort->setEditText("COM1");
    d.BtnOK->click();
    EXPECT_EQ(Read("RS232Settings", "Comm Port"), "COM1");
    EXPECT_EQ(PrivateProfile(ini).ReadSection("Ports"), (Entries{{"COM2", com3.SlavePath()}}));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
}

TEST_F(SettingsDialogTest, RadioGroupsMapToDataBitsParityAndStopBits) {
    WriteIni("[RS232Settings]\nComm Port=COM1\nData Bits=7\nParity=2\nStop Bit=2\n");
    auto& d = Create();
    EXPECT_EQ(d.RdGrpData->ItemIndex(), 0);
    EXPECT_EQ(d.RdGrpParity->ItemIndex(), 2);
    EXPECT_EQ(d.RdGrpStop->ItemIndex(), 1);
    d.RdGrpData->SetItemIndex(1);
    d.RdGrpParity->SetItemIndex(1);
    d.RdGrpStop->SetItemIndex(0);
    d.BtnOK->click();
    EXPECT_EQ(Read("RS232Settings", "Data Bits"), "8");
    EXPECT_EQ(Read("RS232Settings", "Parity"), "1");
    EXPECT_EQ(Read("RS232Settings", "Stop Bit"), "1");
    EXPECT_EQ(d.VaxoComPort1.DataBits(), 8);
    EXPECT_EQ(d.VaxoComPort1.Parity(), pOdd);
    EXPECT_EQ(d.VaxoComPort1.StopBits(), 1);
}

TEST_F(SettingsDialogTest, WithoutPortsOpeningFailsAndSaveKeepsThePortNumber) {
    Ports({});
    WriteIni("[RS232Settings]\nComm Port=COM3\n");
    auto& d = Create();
    EXPECT_EQ(d.CmbBxComPort->count(), 0);
    EXPECT_FALSE(d.VaxoComPort1.Open());
    EXPECT_EQ(host.ComBtnState, std::vector<bool>{false});
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Error Opening Selected Comm Port !"});

    d.BtnOK->click();
    EXPECT_EQ(d.Form.result(), QDialog::Accepted);
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{"Error Opening Selected Comm Port !",
                                        "Must Select a Direct Com. Port, Please Select Again.",
                                        "Error Opening Selected Comm Port !"}));
    EXPECT_EQ(Read("RS232Settings", "Comm Port"), "COM3");
    EXPECT_EQ(d.Form.Settings().PortNumber, 3);
}

TEST_F(SettingsDialogTest, StoredPortMissingFromTheListSelectsNothingAndSaveKeepsIt) {
    WriteIni("[RS232Settings]\nComm Port=COM3\n");
    auto& d = Create();
    EXPECT_EQ(d.CmbBxComPort->count(), 1);
    EXPECT_EQ(d.CmbBxComPort->currentIndex(), -1);
    EXPECT_TRUE(d.LblDevicePath->text().isEmpty());
    d.BtnOK->click();
    EXPECT_EQ(Read("RS232Settings", "Comm Port"), "COM3");
}

TEST_F(SettingsDialogTest, FailedWriteIsReportedAndKeepsTheDialogOpenAndThePortAsItWas) {
    WriteIni("[RS232Settings]\nComm Port=COM1\nData Bits=8\nParity=0\nStop Bit=1\n");
    auto& d = Create();
    std::filesystem::remove(ini);
    std::filesystem::create_directory(ini); // the file can no longer be written
    d.RdGrpBaudRate->SetItemIndex(0);
    d.BtnOK->click();
    ASSERT_EQ(shownExceptions.size(), 1u);
    EXPECT_NE(shownExceptions[0].find("Unable to write to"), std::string::npos);
    EXPECT_NE(d.Form.result(), QDialog::Accepted);
    EXPECT_TRUE(d.VaxoComPort1.Open());
    EXPECT_EQ(d.VaxoComPort1.Baud(), 19200);
}

TEST_F(SettingsDialogTest, RepairThatCannotBeWrittenStopsCreation) {
    ini = folder.File("missing/loader.ini");
    Make();
    EXPECT_THROW(dialog->FormCreate(), EIniWriteError);
    EXPECT_FALSE(owner->IsOpen());
}

TEST_F(SettingsDialogTest, StartUpThatCannotWriteARepairReportsItAndLeavesThePortClosed) {
    PortOwner runnerOwner(boxes);
    EXPECT_FALSE(runnerOwner.StartUp(folder.File("missing/loader.ini")));
    EXPECT_FALSE(runnerOwner.IsOpen());
    ASSERT_EQ(shownExceptions.size(), 1u);
    EXPECT_NE(shownExceptions[0].find("Unable to write to"), std::string::npos);
}

TEST_F(SettingsDialogTest, ShowingClearsUploadModeAndResetsOnlyTheRadioGroups) {
    auto& d = Create();
    d.Link().SetUploadMode(true);
    d.RdGrpBaudRate->SetItemIndex(5);
    d.UseRTS_CB->setChecked(false);
    d.Form.show();
    EXPECT_FALSE(d.Link().State().UploadMode);
    EXPECT_EQ(d.Link().State().ActivePrompt, ">");
    EXPECT_EQ(d.RdGrpBaudRate->ItemIndex(), 2);
    EXPECT_FALSE(d.UseRTS_CB->isChecked());
    d.BtnCancel->click();
    EXPECT_EQ(d.Form.result(), QDialog::Rejected);
    EXPECT_EQ(Read("RS232Settings", "Use RTS"), "<missing>");
}

TEST_F(SettingsDialogTest, ControlsCarryTheirNamesAndCaptions) {
    auto& d = Create();
    EXPECT_EQ(d.Form.windowTitle(), "Communication Settings");
    EXPECT_EQ(d.Form.HelpContext(), 210);
    EXPECT_EQ(d.Form.property("HelpContext").toInt(), 210);
    EXPECT_TRUE(d.LblComPort->font().bold());
    EXPECT_EQ(d.CmbBxComPort->maxVisibleItems(), 4);
    const std::vector<std::pair<const char*, const char*>> captions = {
        {"LblComPort", "Serial Port"}, {"UseDTR_CB", "Use DTR"},     {"UseRTS_CB", "Use RTS"},
        {"ReqDSR_CB", "Require DSR"},  {"ReqCTS_CB", "Require CTS"}, {"BtnOK", "Save"},
        {"BtnCancel", "Cancel"}};
    for (const auto& [name, caption] : captions) {
        auto* w = d.Form.findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->property("text").toString(), caption) << name;
    }
    const std::vector<std::tuple<const char*, const char*, QStringList>> groups = {
        {"RdGrpBaudRate",
         "Baud Rate",
         {"1200", "9600", "19.2", "38.4", "57.6", "115.2", "230.4", "460.8", "921.6", "Other..."}},
        {"RdGrpData", "&Data Bits", {"7", "8"}},
        {"RdGrpStop", "&Stop Bits", {"1", "2"}},
        {"RdGrpParity", "&Parity", {"None", "Odd", "Even"}},
        {"DTR_RadioGp", " DTR ", {"Off", "On"}},
        {"RTS_RadioGp", " RTS ", {"Off", "On"}}};
    for (const auto& [name, title, items] : groups) {
        auto* g = d.Form.findChild<TRadioGroup*>(name);
        ASSERT_NE(g, nullptr) << name;
        EXPECT_EQ(g->title(), title);
        ASSERT_EQ(g->Count(), items.size()) << name;
        for (int i = 0; i < g->Count(); ++i)
            EXPECT_EQ(g->Item(i)->text(), items[i]) << name;
    }
    auto* flow = d.Form.findChild<QGroupBox*>("RdGrpFlow");
    ASSERT_NE(flow, nullptr);
    EXPECT_EQ(flow->title(), " Flow Control  ");
    EXPECT_EQ(d.UseDTR_CB->parentWidget(), flow);
    // The two that Linux cannot do say so.
    for (const QCheckBox* box : {d.UseDTR_CB, d.ReqDSR_CB})
        EXPECT_TRUE(box->toolTip().startsWith("Does nothing on Linux"))
            << box->objectName().toStdString();
}

} // namespace
} // namespace pellwick
