// The communication settings dialog. At start-up it lists the ports and has the port's owner
// load the RS-232 settings and trigger strings from loader.ini and open the port. Shown modally
// later, it edits the settings; "Save" writes them and hands them to the owner, which reopens
// the port. The dialog never holds the port itself.
#pragma once

#include "link/PortOwner.h"
#include "link/Rs232SettingsFile.h"
#include "serial/MessageBoxes.h"

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>
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
    // Items of the baud rate group after the six of [RS232Settings] "Baud Rate": the fast rates
    // of Rs232SettingsFile::FastRates, then "Other...".
    static constexpr int FirstFastItem = 6;
    static constexpr int OtherRateItem = 9;

    // Asks the operator for a rate ("Other..."), offering current; nothing when cancelled.
    using RateQuestion = std::function<std::optional<std::uint32_t>(std::uint32_t current)>;

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
    // Replaces the input box of "Other..." (tests answer without a window).
    void SetRateQuestion(RateQuestion question) { rateQuestion_ = std::move(question); }

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
    // The port list: the ports found, with each one's device and adapter, and the entries of
    // the port map whose device is missing.
    void FillPortList();
    // "Other...": asks for a rate; a rate of another item selects that item instead, and a
    // cancel goes back to the item checked before.
    void OtherRateClicked();
    void ShowOtherRate();
    // The port number of the port list's text: an entry, "COMn", or a device path typed in,
    // which gets the number it has in the port map or the lowest free one and is written to
    // [Ports]. Nothing when the text is none of these.
    std::optional<std::uint16_t> ChosenPortNumber(const std::string& text);

    PortOwner& owner_;
    std::string iniPath_;
    IMessageBoxes& boxes_;
    RateQuestion rateQuestion_;
    std::uint32_t otherRate_ = 0; // the rate of "Other...", 0 while it has none
    int checkedRateItem_ = -1;    // the baud item checked before "Other..." was clicked

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
