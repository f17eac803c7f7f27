// Whether a serial port COMn exists on this machine, found by opening and closing its device.
#pragma once

#include <string>

namespace pellwick {

// The highest port number the selection lists offer.
inline constexpr int kMaxListedPort = 50;

// The device name the engine opens for port n: "\\.\COM" + n.
std::string ComDeviceName(int n);

// Opens the device behind COMn once and closes it again, without lock, exclusive flag or line
// settings, so that a line another program uses stays as it was. A port held by another program, or
// one the user lacks permission for, still counts as present: it exists, and opening it later
// tells the user why it cannot be used. False for n <= 0 and for names that resolve to no
// device. Opening a real UART raises DTR and RTS for the moment it is open.
// Thread: any; it touches no window.
bool ProbePort(int n);

} // namespace pellwick
