#include "utils/CantResolveException.h"
#include "utils/InetSocketAddress.h"

#include <gtest/gtest.h>

#include <netinet/in.h>

#include <string>

namespace {

using zenqa::utils::CantResolveException;
using zenqa::utils::InetSocketAddress;

// Host name as kept for TLS, the single address found and the port.
void expectSingle(const InetSocketAddress& address, const std::string& host, int family, const std::string& text,
                  unsigned port) {
    EXPECT_EQ(address.getHostName(), host);
    ASSERT_EQ(address.getAddresses().size(), 1u) << host;
    EXPECT_EQ(address.getAddresses().front().family(), family);
    EXPECT_EQ(address.getAddresses().front().addressText(), text);
    EXPECT_EQ(address.getPort(), port);
}

TEST(InetSocketAddress, Ipv6AddressWithOrWithoutBracketsIsUsedAsGiven) {
    expectSingle(InetSocketAddress("::1", 143), "::1", AF_INET6, "::1", 143);
    // The brackets are URL syntax, not part of the name TLS checks.
    expectSingle(InetSocketAddress("[::1]", 993), "::1", AF_INET6, "::1", 993);
    expectSingle(InetSocketAddress("0:0:0:0:0:0:0:1", 143), "0:0:0:0:0:0:0:1", AF_INET6, "::1", 143);
}

TEST(InetSocketAddress, Ipv6AddressInUrls) {
    expectSingle(InetSocketAddress("imap://[::1]:1143"), "::1", AF_INET6, "::1", 1143);
    expectSingle(InetSocketAddress("imap://user:pw@[::1]:1143/path?q#r"), "::1", AF_INET6, "::1", 1143);
    expectSingle(InetSocketAddress("imap://[::1]/path"), "::1", AF_INET6, "::1", 0);
    // Without brackets the colons belong to the address; there is no port.
    expectSingle(InetSocketAddress("imap://::1"), "::1", AF_INET6, "::1", 0);
}

TEST(InetSocketAddress, Ipv4AddressStaysIpv4) {
    expectSingle(InetSocketAddress("127.0.0.1", 143), "127.0.0.1", AF_INET, "127.0.0.1", 143);
    expectSingle(InetSocketAddress("imap://127.0.0.1:144"), "127.0.0.1", AF_INET, "127.0.0.1", 144);
}

TEST(InetSocketAddress, BracketsAroundANameOrBrokenAddressDoNotResolve) {
    for (const char* host : {"[::1", "::1]", "[127.0.0.1]x", "1::2::3"}) {
        EXPECT_THROW(InetSocketAddress(host, 143), CantResolveException) << host;
    }
}

TEST(InetSocketAddress, AnyOffersTheWildcardOfBothFamilies) {
    const InetSocketAddress any = InetSocketAddress::any();
    const auto& local = any.getAddresses();
    ASSERT_EQ(local.size(), 2u);
    EXPECT_EQ(local[0].addressText(), "::");
    EXPECT_EQ(local[1].addressText(), "0.0.0.0");
    EXPECT_EQ(any.getPort(), 0u);
}

}  // namespace
