// The one owner of the serial port: the port component with its design values, the link
// operations on it with their trigger handles, and the settings it was opened with. Windows and
// the headless runner reach the port only through it, so that the triggers have one keeper:
// switching the data triggers or upload mode twice, reopening with new settings, or closing at
// the end never drops a trigger twice nor arms one that is gone. Needs no window; every call
// comes on the GUI thread.
#pragma once

#include "ini/PrivateProfile.h"
#include "link/ComPortLink.h"
#include "link/LinkOperations.h"
#include "link/PortRecovery.h"
#include "link/Rs232SettingsFile.h"
#include "serial/MessageBoxes.h"
#include "serial/TVaxoCustomComPort.h"

#include <functional>

namespace pellwick {

class PortOwner {
public:
    explicit PortOwner(IMessageBoxes& boxes);
    // Closes the port; the link's handlers leave first.
    ~PortOwner();
    PortOwner(const PortOwner&) = delete;
    PortOwner& operator=(const PortOwner&) = delete;

    // For the terminal and the status lights, which attach to the port while it is open.
    TVaxoCustomComPort& Port() { return port_; }
    LinkOperations& Link() { return link_; }
    ILinkOperations& Operations() { return link_; }
    void SetHost(ILinkHost* host) { link_.SetHost(host); }

    const Rs232Settings& Settings() const { return settings_; }
    const LinkSettings& Strings() const { return linkSettings_; }

    // Reads the RS-232 settings, trigger strings and sizes of loader.ini and applies flow
    // control, DTR and RTS to the port. A failed write-back of a repaired value throws
    // EIniWriteError; the settings read up to then are kept. A [Line] rate that is not used is
    // told to the operator in a warning.
    void LoadSettings(PrivateProfile& ini);
    // Takes settings read elsewhere, as LoadSettings takes those of loader.ini.
    void SetSettings(const Rs232Settings& settings, const LinkSettings& link);
    // The rate the port opens with from now on, in place of the loaded one (also of settings
    // loaded later, whose [Line] rate is then neither used nor warned about), without writing
    // loader.ini (a runner's --baud). 0: "Baud Rate" of [RS232Settings] now, the loaded rate
    // from the next load on.
    void UseLineRate(std::uint32_t rate);
    // Closes the port, sets every loaded setting and opens it with its triggers; tells the host
    // and, on failure, the operator ("Error Opening Selected Comm Port !").
    bool Start();
    // The start-up of the program and of the runner: LoadSettings, then Start. A settings file
    // that cannot be written is reported with its message and leaves the port closed.
    // beforeOpen runs between the two, when Settings() holds the port number to be opened; when
    // it answers false the port is not opened.
    bool StartUp(const std::string& iniPath, const std::function<bool()>& beforeOpen = {});
    // Why the last Start or StartUp left the port closed, as the box said it; empty when it
    // opened the port, or when beforeOpen declined (the caller knows why).
    const std::string& StartFailure() const { return startFailure_; }

    // The settings the operator saved: the triggers are dropped, the port closes, takes the new
    // line settings (flow control and line states are kept for the next start) and opens with
    // its triggers again; reported as Start does.
    bool Reopen(const Rs232Settings& settings);
    // Closes and opens the port again with the same settings, renewing its dispatcher; the
    // triggers are made anew. Failures are thrown, not reported.
    void Renew();
    // A device that went away while the port was open closes the port; it is opened again, with
    // the same settings, when the device is back (see PortRecovery). Start, Reopen and Shutdown
    // end that wait.
    bool WaitingForDevice() const { return recovery_.Waiting(); }
    // Off: a lost device is not waited for (see PortRecovery::SetWatching).
    void SetRecovery(bool on) { recovery_.SetWatching(on); }

    bool IsOpen() const { return port_.Open(); }
    // Drive DTR or RTS from outside the settings dialog (the terminal's line menu). The
    // settings take the state the port kept, so that a later Start drives the line the same
    // way; loader.ini is not written.
    void SetDtr(bool on);
    void SetRts(bool on);
    // The data triggers (off while the terminal takes the received bytes).
    void SetDataTriggers(bool on) { link_.DataTriggerEnabled(on); }
    void SetUploadMode(bool on) { link_.SetUploadMode(on); }
    // The program's end: upload mode off and the port closed. Triggers are not made again for a
    // port about to close; never throws.
    void Shutdown();

private:
    IMessageBoxes& boxes_;
    TVaxoComPort port_;
    ComPortLink portLink_;
    LinkOperations link_;
    PortRecovery recovery_;
    Rs232Settings settings_;
    LinkSettings linkSettings_;
    std::uint32_t rateForRun_ = 0; // UseLineRate's, 0 when none
    std::string startFailure_;
};

} // namespace pellwick
