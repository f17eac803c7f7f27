// What a program sets once for its whole process before any port opens: the port map that
// turns COMn into a device path, made from the loader.ini of the folder it starts in, and where
// the port's own failures (raised in its event handlers) and the device layer's notices go.
// The hooks get back what they held when it goes.
#pragma once

#include "serial/DeviceNotice.h"
#include "serial/TVaxoCustomComPort.h"

#include <optional>
#include <string>

namespace pellwick {

class ProcessWorld {
public:
    // notices empty: they keep going to standard error.
    ProcessWorld(const std::string& loaderIni, TVaxoCustomComPort::ExceptionDisplay portFailures,
                 DeviceNoticeReceiver notices = {});
    ProcessWorld(const ProcessWorld&) = delete;
    ProcessWorld& operator=(const ProcessWorld&) = delete;

    // The loader.ini of the current folder.
    static std::string StartFolderIni();

private:
    ScopedHook<TVaxoCustomComPort::ExceptionDisplay> display_;
    std::optional<ScopedHook<DeviceNoticeReceiver>> notices_;
};

} // namespace pellwick
