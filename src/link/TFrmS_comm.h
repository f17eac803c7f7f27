// The communication settings window. Created once at start-up: it lists the ports, loads the
// RS-232 settings and trigger strings from loader.ini, sets up its port component and opens
// it. Shown modally later, it edits the settings; "Save" writes them and reopens the port.
// The link operations on the port are LinkOperations; the main window reaches them through
// Operations() and is reached through ILinkHost.
#pragma once

#include "link/ComPortLink.h"
#include "link/LinkOperations.h"
#include "link/Rs232SettingsFile.h"
#include "link/TRadioGroup.h"
#include "serial/MessageBoxes.h"
#include "serial/TVaxoCustomComPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

namespace pellwick {

class TFrmS_comm : public QDialog {
    Q_OBJECT
public:
    static constexpr int HelpContextNumber = 210;

    // iniPath: the loader.ini that the main window found at start-up. FormCreate is left to the
    // creator, so that it can set the host first.
    TFrmS_comm(std::string iniPath, IMessageBoxes& boxes, QWidget* parent = nullptr);
    ~TFrmS_comm() override;

    void SetLinkHost(ILinkHost* host) { link_.SetHost(host); }
    int HelpContext() const { return HelpContextNumber; }

    // Start-up: port list, settings, port set-up and opening. A failed write-back of a repaired
    // setting throws EIniWriteError and skips the rest.
    void FormCreate();
    // Reads the settings into the fields, the controls and the port.
    void LoadRs232Ini();
    // Prepares the dialog each time it is shown: upload mode off, the radio groups from the
    // settings. The port list, check boxes and DTR/RTS groups keep what they showed.
    void FormShow();
    // "Save": takes the settings from the controls, writes them and reopens the port. Throws
    // EIniWriteError when the file cannot be written (the port is then left as it was).
    void SaveRs232Ini();

    TVaxoComPort VaxoComPort1;
    LinkOperations& Link() { return link_; }
    ILinkOperations& Operations() { return link_; }
    const Rs232Settings& Settings() const { return settings_; }
    const std::string& IniPath() const { return iniPath_; }

    QLabel* LblComPort;
    QComboBox* CmbBxComPort;
    QLabel* LblDevicePath;
    TRadioGroup* RdGrpBaudRate;
    TRadioGroup* RdGrpData;
    TRadioGroup* RdGrpStop;
    TRadioGroup* RdGrpParity;
    QGroupBox* RdGrpFlow;
    QCheckBox* UseDTR_CB;
    QCheckBox* UseRTS_CB;
    QCheckBox* ReqDSR_CB;
    QCheckBox* ReqCTS_CB;
    TRadioGroup* DTR_RadioGp;
    TRadioGroup* RTS_RadioGp;
    QPushButton* BtnOK;
    QPushButton* BtnCancel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BtnOKClick();
    // Selects the radio items of baud rate, data bits, parity and stop bits; a value outside
    // the items leaves its group as it was.
    void ShowLineSettings();
    void ShowDevicePath();

    std::string iniPath_;
    IMessageBoxes& boxes_;
    ComPortLink portLink_;
    LinkOperations link_;
    Rs232Settings settings_;
};

} // namespace pellwick
