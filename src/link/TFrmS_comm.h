// The communication settings dialog. At start-up it lists the ports and has the port's owner
// load the RS-232 settings and trigger strings from loader.ini and open the port. Shown modally
// later, it edits the settings; "Save" writes them and hands them to the owner, which reopens
// the port. The dialog never holds the port itself.
#pragma once

#include "link/PortOwner.h"
#include "link/Rs232SettingsFile.h"
#include "serial/MessageBoxes.h"

#include <QDialog>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace pellwick {

class TRadioGroup;

class TFrmS_comm : public QDialog {
    Q_OBJECT
public:
    static constexpr int HelpContextNumber = 210;

    // owner: the port's owner (it outlives the dialog); iniPath: the loader.ini that the main
    // window found at start-up. FormCreate is left to the creator, so that the owner's host can
    // be set first.
    TFrmS_comm(PortOwner& owner, std::string iniPath, IMessageBoxes& boxes,
               QWidget* parent = nullptr);
    ~TFrmS_comm() override;

    int HelpContext() const { return HelpContextNumber; }

    // Start-up: port list, settings, port set-up and opening. A failed write-back of a repaired
    // setting throws EIniWriteError and skips the rest.
    void FormCreate();
    // Has the owner read the settings and shows them in the controls.
    void LoadRs232Ini();
    // Prepares the dialog each time it is shown: upload mode off, the radio groups from the
    // settings. The port list, check boxes and DTR/RTS groups keep what they showed.
    void FormShow();
    // "Save": takes the settings from the controls, writes them and has the owner reopen the
    // port with them. Throws EIniWriteError when the file cannot be written (the port is then
    // left as it was).
    void SaveRs232Ini();

    const Rs232Settings& Settings() const { return owner_.Settings(); }
    const std::string& IniPath() const { return iniPath_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BtnOKClick();
    // The loaded settings in the port list, check boxes and line state groups.
    void ShowSettings();
    // Selects the radio items of baud rate, data bits, parity and stop bits; a value outside
    // the items leaves its group as it was.
    void ShowLineSettings();
    void ShowDevicePath();

    PortOwner& owner_;
    std::string iniPath_;
    IMessageBoxes& boxes_;

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
};

} // namespace pellwick
