#include "shell/ProcessWorld.h"

#include "serial/portmap/PortMap.h"

#include <filesystem>
#include <memory>

namespace pellwick {

ProcessWorld::ProcessWorld(const std::string& loaderIni,
                           TVaxoCustomComPort::ExceptionDisplay portFailures,
                           DeviceNoticeReceiver notices)
    : display_(TVaxoCustomComPort::ExceptionDisplayHook(), std::move(portFailures)) {
    PortMap::SetGlobal(std::make_shared<const PortMap>(PortMap::Build(loaderIni)));
    if (notices) {
        notices_.emplace(DeviceNoticeHook(), std::move(notices));
    }
}

std::string ProcessWorld::StartFolderIni() {
    // A start folder that is gone leaves the map without its [Ports]: it lists what is present.
    std::error_code error;
    return std::filesystem::current_path(error).string() + "/loader.ini";
}

} // namespace pellwick
