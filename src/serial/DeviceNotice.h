// Something a device layer tells the user without failing: a network server that did not
// acknowledge a setting, for example. The program decides where such a notice goes (the
// runner prints it with its output); without a receiver it goes to standard error. Notices
// come from any thread, the device's own included.
#pragma once

#include "serial/ProcessHook.h"

#include <functional>
#include <string>

namespace pellwick {

using DeviceNoticeReceiver = std::function<void(const std::string& text)>;
ProcessHook<DeviceNoticeReceiver>& DeviceNoticeHook();

void TellDeviceNotice(const std::string& text);

} // namespace pellwick
