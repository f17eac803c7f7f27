// A serial port on the network, named where a device path is accepted: rfc2217://HOST:PORT
// (telnet with serial port control) or tcp://HOST:PORT (the bytes only). HOST is a host name,
// an IPv4 address or an IPv6 address in brackets ([::1]); PORT is 1..65535. The text is parsed
// strictly: nothing else (user, path, query, spaces, a second colon outside the brackets) is
// taken, so that what reaches the network library is exactly a host and a port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pellwick {

struct NetworkAddress {
    enum class Kind { Rfc2217, RawTcp };
    Kind kind = Kind::Rfc2217;
    std::string host; // without the brackets of an IPv6 address
    bool ipv6 = false;
    std::uint16_t port = 0;

    // "rfc2217://[::1]:3001" again.
    std::string Text() const;
};

// Whether text names a network port at all ("scheme://..."); such a text is never a file.
bool LooksLikeNetworkAddress(const std::string& text);

// The address, or nothing with the reason in why ("no port after the host", ...).
std::optional<NetworkAddress> ParseNetworkAddress(const std::string& text, std::string& why);

} // namespace pellwick
