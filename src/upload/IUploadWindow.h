// What the upload engine needs of the main window: its progress controls, the status lamp, the
// run buttons, the terminal control's switch and the script file chooser. The owner of a run
// implements it; tests use a fake that records every call. All calls come on the GUI thread.
#pragma once

#include <cstdint>
#include <string>

namespace pellwick {

struct LampColour {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    friend bool operator==(const LampColour&, const LampColour&) = default;
};

inline constexpr LampColour LampGreen{0, 128, 0};
inline constexpr LampColour LampRed{255, 0, 0};

class IUploadWindow {
public:
    virtual ~IUploadWindow() = default;
    // GgeScript, 0..100.
    virtual void SetScriptGauge(int percent) = 0;
    // GgeUpload, 0..100.
    virtual void SetUploadGauge(int percent) = 0;
    // LblUpload's caption.
    virtual void SetUploadLabel(const std::string& text) = 0;
    // PnlComLamp's colour.
    virtual void SetComLamp(LampColour colour) = 0;
    // GrpBxProgress shown or hidden.
    virtual void ShowProgress(bool visible) = 0;
    // false: the running controls (only "Cancel Upload" enabled); true: the idle controls.
    virtual void SetUploadBtnState(bool on) = 0;
    // The terminal window has been created once (it is never destroyed before program end).
    virtual bool TerminalExists() const = 0;
    // The terminal control's Active property; only called when TerminalExists().
    virtual void SetTerminalActive(bool active) = 0;
    // The script file dialog. true and the chosen path, or false when cancelled.
    virtual bool ChooseScriptFile(std::string& path) = 0;
};

} // namespace pellwick
