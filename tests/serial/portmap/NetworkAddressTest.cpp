// Network port names: what is taken, what is refused and why, and how the port map keeps them.
#include "serial/portmap/NetworkAddress.h"
#include "serial/portmap/PortMap.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace pellwick {
namespace {

struct Good {
    const char* text;
    NetworkAddress::Kind kind;
    const char* host;
    bool ipv6;
    int port;
};

TEST(NetworkAddressTest, TakesHostNamesIpv4AndBracketedIpv6) {
    const Good cases[] = {
        {"rfc2217://10.0.0.5:3001", NetworkAddress::Kind::Rfc2217, "10.0.0.5", false, 3001},
        {"tcp://localhost:1", NetworkAddress::Kind::RawTcp, "localhost", false, 1},
        {"rfc2217://ser2net-lab.example.org:65535", NetworkAddress::Kind::Rfc2217,
         "ser2net-lab.example.org", false, 65535},
        {"rfc2217://[::1]:4000", NetworkAddress::Kind::Rfc2217, "::1", true, 4000},
        {"tcp://[fe80::1:2]:7", NetworkAddress::Kind::RawTcp, "fe80::1:2", true, 7},
    };
    for (const Good& c : cases) {
        std::string why;
        const auto address = ParseNetworkAddress(c.text, why);
        ASSERT_TRUE(address) << c.text << ": " << why;
        EXPECT_EQ(address->kind, c.kind) << c.text;
        EXPECT_EQ(address->host, c.host) << c.text;
        EXPECT_EQ(address->ipv6, c.ipv6) << c.text;
        EXPECT_EQ(address->port, c.port) << c.text;
        EXPECT_EQ(address->Text(), c.text);
    }
}

// Anything beyond a host and a port is refused, with a reason, before it can reach the
// network library or be taken for a file.
TEST(NetworkAddressTest, RefusesAnythingButHostAndPort) {
    const std::pair<const char*, const char*> cases[] = {
        {"rfc2217://10.0.0.5", "no :PORT"},
        {"rfc2217://:3001", "no host"},
        {"rfc2217://10.0.0.5:0", "1 to 65535"},
        {"rfc2217://10.0.0.5:65536", "1 to 65535"},
        {"rfc2217://10.0.0.5:+80", "1 to 65535"},
        {"rfc2217://10.0.0.5:3001/path", "1 to 65535"},
        {"rfc2217://10.0.0.256:3001", "not an IPv4 address"},
        {"rfc2217://user@host:3001", "not a host name"},
        {"rfc2217://host,tcp,evil:3001", "not a host name"},
        {"rfc2217://a;rm -rf /:3001", "not a host name"},
        {"rfc2217://-host:3001", "not a host name"},
        {"rfc2217://::1:3001", "in brackets"},
        {"rfc2217://[::1:3001", "no closing bracket"},
        {"rfc2217://[::g]:3001", "not an IPv6 address"},
        {"rfc2217://[::1]3001", "no :PORT"},
        {"telnet://host:23", "must begin with"},
        {"RFC2217://host:23", "must begin with"},
    };
    for (const auto& [text, reason] : cases) {
        std::string why;
        EXPECT_FALSE(ParseNetworkAddress(text, why)) << text;
        EXPECT_NE(why.find(reason), std::string::npos) << text << ": " << why;
        EXPECT_TRUE(LooksLikeNetworkAddress(text)) << text;
    }
    for (const char* path : {"/dev/ttyUSB0", "ttyS0", "/tmp/a://b", ""}) {
        EXPECT_FALSE(LooksLikeNetworkAddress(path)) << path;
    }
}

TEST(NetworkAddressTest, PortMapKeepsNetworkEntriesAndTheirConnectTimeout) {
    TempFolder folder;
    const std::string ini = folder.File("loader.ini");
    std::ofstream(ini) << "[Ports]\nScan=0\nCOM7=rfc2217://[::1]:3001\nConnect Timeout=2\n";
    const PortMap map = PortMap::Build(ini);
    EXPECT_EQ(map.PathOf(7).value_or(""), "rfc2217://[::1]:3001");
    EXPECT_EQ(map.ConnectTimeout(), std::chrono::seconds(2));
    EXPECT_EQ(map.WithEntry(1, "tcp://h:1").ConnectTimeout(), std::chrono::seconds(2));
    EXPECT_EQ(PortMap::ResolveDeviceName("tcp://h:1").value_or(""), "tcp://h:1");

    std::ofstream(ini) << "[Ports]\nScan=0\nConnect Timeout=0\n";
    EXPECT_EQ(PortMap::Build(ini).ConnectTimeout(), PortMap::DefaultConnectTimeout);
}

} // namespace
} // namespace pellwick
