#include "link/PortOwner.h"

#include "ini/EIniWriteError.h"

namespace pellwick {

PortOwner::PortOwner(IMessageBoxes& boxes)
    : boxes_(boxes), portLink_(port_), link_(portLink_, boxes), recovery_(port_, link_) {
    // The design values of the program's one port.
    port_.SetComNumber(1);
    port_.SetOutSize(16384);
    port_.SetAutoOpen(false);
    port_.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    port_.SetBufferFull(3686);
    port_.SetBufferResume(409);
    port_.SetTraceName("COM.TRC");
    port_.SetLogSize(20000);
    port_.SetLogName("COM.LOG");
}

PortOwner::~PortOwner() {
    Shutdown();
}

void PortOwner::LoadSettings(PrivateProfile& ini) {
    const std::string note = Rs232SettingsFile::Load(ini, settings_, linkSettings_);
    if (rateForRun_ != 0)
        settings_.LineRate = rateForRun_;
    SetSettings(settings_, linkSettings_);
    if (!note.empty() && rateForRun_ == 0)
        boxes_.Show(MsgKind::Warning, note, MbOk);
}

void PortOwner::SetSettings(const Rs232Settings& settings, const LinkSettings& link) {
    settings_ = settings;
    linkSettings_ = link;
    link_.ApplyFlowAndLines(settings_);
    link_.ApplyLinkSettings(linkSettings_);
}

bool PortOwner::Start() {
    recovery_.Cancel();
    link_.CloseAndDropTriggers();
    startFailure_.clear();
    const bool opened = link_.OpenWithSettings(settings_, linkSettings_);
    startFailure_ = link_.OpenFailure();
    return opened;
}

bool PortOwner::StartUp(const std::string& iniPath, const std::function<bool()>& beforeOpen) {
    startFailure_.clear();
    try {
        PrivateProfile ini(iniPath);
        LoadSettings(ini);
    } catch (const EIniWriteError& e) {
        // As for any failed write: the rest of the set-up is skipped.
        startFailure_ = e.what();
        TVaxoCustomComPort::ShowException(e);
        return false;
    }
    if (beforeOpen && !beforeOpen()) {
        return false;
    }
    return Start();
}

bool PortOwner::Reopen(const Rs232Settings& settings) {
    settings_ = settings;
    recovery_.Cancel();
    link_.CloseAndDropTriggers();
    link_.ApplyLineSettings(settings_);
    return link_.OpenPortWithTriggers();
}

void PortOwner::Renew() {
    link_.CloseAndDropTriggers();
    link_.OpenWithTriggers();
    // Open again: a device that was lost needs no more waiting for.
    recovery_.Cancel();
}

void PortOwner::UseLineRate(std::uint32_t rate) {
    rateForRun_ = rate;
    settings_.LineRate = rate;
}

void PortOwner::SetDtr(bool on) {
    port_.SetDTR(on);
    settings_.DtrOn = port_.DTR();
}

void PortOwner::SetRts(bool on) {
    port_.SetRTS(on);
    settings_.RtsOn = port_.RTS();
}

void PortOwner::Shutdown() {
    recovery_.Cancel();
    auto& state = link_.State();
    state.UploadMode = false;
    state.ActivePrompt = state.PromptText;
    state.ActiveError = state.ErrorText;
    try {
        link_.CloseAndDropTriggers();
    } catch (const std::exception& e) {
        TVaxoCustomComPort::ShowException(e);
    }
}

} // namespace pellwick
