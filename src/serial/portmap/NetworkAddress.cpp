#include "serial/portmap/NetworkAddress.h"

#include <arpa/inet.h>
#include <cctype>

namespace pellwick {

namespace {

constexpr const char* kRfc2217 = "rfc2217://";
constexpr const char* kRawTcp = "tcp://";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlnum(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A DNS name: labels of letters, digits and inner hyphens, 1..63 characters each, 253 in all.
bool IsHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    std::size_t labelStart = 0;
    for (std::size_t i = 0; i <= host.size(); ++i) {
        if (i < host.size() && host[i] != '.') {
            if (!IsAlnum(host[i]) && host[i] != '-') {
                return false;
            }
            continue;
        }
        const std::size_t length = i - labelStart;
        // A trailing dot (an absolute name) leaves one empty label at the end.
        if (length == 0 && !(i == host.size() && i > 0)) {
            return false;
        }
        if (length > 63 || (length > 0 && (host[labelStart] == '-' || host[i - 1] == '-'))) {
            return false;
        }
        labelStart = i + 1;
    }
    return true;
}

bool AllDigitsAndDots(const std::string& host) {
    for (char c : host) {
        if (!IsDigit(c) && c != '.') {
            return false;
        }
    }
    return true;
}

} // namespace

std::string NetworkAddress::Text() const {
    std::string text = kind == Kind::Rfc2217 ? kRfc2217 : kRawTcp;
    text += ipv6 ? "[" + host + "]" : host;
    return text + ":" + std::to_string(port);
}

bool LooksLikeNetworkAddress(const std::string& text) {
    const std::size_t colon = text.find("://");
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    for (std::size_t i = 0; i < colon; ++i) {
        if (!IsAlnum(text[i]) && text[i] != '+' && text[i] != '-' && text[i] != '.') {
            return false;
        }
    }
    return true;
}

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& text, std::string& why) {
    NetworkAddress address;
    std::string rest;
    if (StartsWith(text, kRfc2217)) {
        address.kind = NetworkAddress::Kind::Rfc2217;
        rest = text.substr(std::char_traits<char>::length(kRfc2217));
    } else if (StartsWith(text, kRawTcp)) {
        address.kind = NetworkAddress::Kind::RawTcp;
        rest = text.substr(std::char_traits<char>::length(kRawTcp));
    } else {
        why = "not a network port: it must begin with rfc2217:// or tcp://";
        return std::nullopt;
    }
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            why = "the IPv6 address has no closing bracket";
            return std::nullopt;
        }
        address.host = rest.substr(1, close - 1);
        address.ipv6 = true;
        in6_addr parsed{};
        if (address.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos ||
            inet_pton(AF_INET6, address.host.c_str(), &parsed) != 1) {
            why = "\"" + address.host + "\" is not an IPv6 address";
            return std::nullopt;
        }
        if (close + 1 >= rest.size() || rest[close + 1] != ':') {
            why = "no :PORT after the address";
            return std::nullopt;
        }
        portText = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.find(':');
        if (colon != std::string::npos && rest.find(':', colon + 1) != std::string::npos) {
            why = "more than one ':' (an IPv6 address goes in brackets: [::1]:PORT)";
            return std::nullopt;
        }
        if (colon == std::string::npos) {
            why = "no :PORT after the host";
            return std::nullopt;
        }
        address.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (address.host.empty()) {
            why = "no host before the port";
            return std::nullopt;
        }
        if (AllDigitsAndDots(address.host)) {
            in_addr parsed{};
            if (inet_pton(AF_INET, address.host.c_str(), &parsed) != 1) {
                why = "\"" + address.host + "\" is not an IPv4 address";
                return std::nullopt;
            }
        } else if (!IsHostName(address.host)) {
            why = "\"" + address.host +
                  "\" is not a host name (letters, digits, '-' and '.'; IPv6 addresses go in "
                  "brackets)";
            return std::nullopt;
        }
    }
    if (portText.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos) {
        why = "the port must be a number from 1 to 65535";
        return std::nullopt;
    }
    const long port = std::stol(portText);
    if (port < 1 || port > 65535) {
        why = "the port must be a number from 1 to 65535";
        return std::nullopt;
    }
    address.port = static_cast<std::uint16_t>(port);
    return address;
}

} // namespace pellwick
