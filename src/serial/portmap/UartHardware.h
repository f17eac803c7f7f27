// Whether an on-board UART device node has a port behind it. Machines list many /dev/ttyS*
// nodes whose UART does not exist; only those with a known port type count as serial ports.
#pragma once

#include <string>

namespace pellwick {

// Asks the kernel's tty class folder first (<sysClassTty>/<name>/type, 0 = unknown), which
// needs neither permission on the device nor opening it (opening a tty raises DTR and RTS on a
// line that may be wired to something). Without that entry the device is opened
// non-blocking and without becoming the controlling terminal, TIOCGSERIAL tells the port type,
// and the device is closed again; nothing is ever written to it.
bool UartHasHardware(const std::string& devicePath,
                     const std::string& sysClassTty = "/sys/class/tty");

} // namespace pellwick
