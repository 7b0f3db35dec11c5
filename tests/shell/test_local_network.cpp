// Which requests reach the machine and its network: the page that asks, the destination, and
// the verdict, over every local range and the spellings a URL allows for them.
#include "shell/LocalNetworkGuard.h"

#include <QHostAddress>
#include <gtest/gtest.h>

namespace {

constexpr auto kPublicPage = "https://portal.example/consulta";

struct RequestCase
{
    const char* page; // nullptr: the program's own load
    const char* destination;
    bool refused;
};

void PrintTo(const RequestCase& c, std::ostream* os)
{
    *os << (c.page != nullptr ? c.page : "(program)") << " -> " << c.destination;
}

class RequestVerdictTest : public testing::TestWithParam<RequestCase>
{};

TEST_P(RequestVerdictTest, RefusedExactlyWhenALocalDestinationIsAskedForByAPageThatIsNot)
{
    const RequestCase& c = GetParam();
    const QUrl destination(QString::fromLatin1(c.destination));
    ASSERT_TRUE(destination.isValid()) << destination.errorString().toStdString();
    OutgoingRequest request{QUrl(QString::fromLatin1(c.page)), destination, c.page == nullptr};
    EXPECT_EQ(IsRefusedRequest(request), c.refused);
}

INSTANTIATE_TEST_SUITE_P(FromAPageOfTheInternet, RequestVerdictTest,
                         testing::ValuesIn(std::vector<RequestCase>{
                             // Loopback, by address and by name.
                             {kPublicPage, "http://127.0.0.1:8080/x", true},
                             {kPublicPage, "http://127.255.255.254/", true},
                             {kPublicPage, "ws://127.0.0.1:4444/", true},
                             {kPublicPage, "http://localhost:4444/", true},
                             {kPublicPage, "wss://LocalHost./", true},
                             {kPublicPage, "http://api.dev.localhost/", true},
                             {kPublicPage, "http://[::1]:4444/", true},
                             // Unspecified.
                             {kPublicPage, "http://0.0.0.0:4444/", true},
                             {kPublicPage, "http://0.1.2.3/", true},
                             {kPublicPage, "http://[::]:4444/", true},
                             // Private.
                             {kPublicPage, "http://10.0.0.1/", true},
                             {kPublicPage, "http://10.255.255.255/", true},
                             {kPublicPage, "http://172.16.0.1/", true},
                             {kPublicPage, "http://172.31.255.255/", true},
                             {kPublicPage, "http://192.168.0.1/", true},
                             {kPublicPage, "http://192.168.255.255/", true},
                             {kPublicPage, "http://[fc00::1]/", true},
                             {kPublicPage, "http://[fdff:ffff::1]/", true},
                             // Link-local, zone id or not.
                             {kPublicPage, "http://169.254.169.254/latest", true},
                             {kPublicPage, "http://[fe80::1]/", true},
                             {kPublicPage, "http://[febf:ffff::1]/", true},
                             {kPublicPage, "http://[fe80::1%25eth0]/", true},
                             // IPv4-mapped IPv6, dotted and in hex groups.
                             {kPublicPage, "http://[::ffff:127.0.0.1]/", true},
                             {kPublicPage, "http://[::ffff:7f00:1]/", true},
                             {kPublicPage, "http://[::ffff:10.1.2.3]/", true},
                             {kPublicPage, "http://[::ffff:c0a8:101]/", true},
                             {kPublicPage, "http://[::ffff:169.254.1.1]/", true},
                             {kPublicPage, "http://[::ffff:0.0.0.0]/", true},
                             // The other spellings of an IPv4 address.
                             {kPublicPage, "http://2130706433/", true},
                             {kPublicPage, "http://0x7f000001/", true},
                             {kPublicPage, "http://127.1/", true},
                             {kPublicPage, "http://0177.0.0.1/", true},
                             {kPublicPage, "http://0x7f.1/", true},
                             {kPublicPage, "http://167772161/", true}, // 10.0.0.1
                             {kPublicPage, "http://0xc0.0xa8.1.1/", true},
                             // Public destinations, the ones beside the local ranges included.
                             {kPublicPage, "https://portal.example/next", false},
                             {kPublicPage, "http://8.8.8.8/", false},
                             {kPublicPage, "http://1.0.0.1/", false},
                             {kPublicPage, "http://128.0.0.1/", false},
                             {kPublicPage, "http://11.0.0.1/", false},
                             {kPublicPage, "http://172.15.255.255/", false},
                             {kPublicPage, "http://172.32.0.0/", false},
                             {kPublicPage, "http://192.167.255.255/", false},
                             {kPublicPage, "http://192.169.0.1/", false},
                             {kPublicPage, "http://169.253.255.255/", false},
                             {kPublicPage, "http://169.255.0.1/", false},
                             {kPublicPage, "http://134744072/", false}, // 8.8.8.8
                             {kPublicPage, "http://[2001:db8::1]/", false},
                             {kPublicPage, "http://[fbff::1]/", false},
                             {kPublicPage, "http://[fec0::1]/", false},
                             {kPublicPage, "http://[::2]/", false},
                             {kPublicPage, "http://[::ffff:8.8.8.8]/", false},
                             {kPublicPage, "http://localhost.example/", false},
                             {kPublicPage, "http://mylocalhost/", false},
                             {kPublicPage, "http://10.example/", false},
                         }));

INSTANTIATE_TEST_SUITE_P(
    FromALocalPageOrTheProgram, RequestVerdictTest,
    testing::ValuesIn(std::vector<RequestCase>{
        // A local page (the sample portals, an intranet mirror) reaches its own server and any
        // other local address.
        {"http://127.0.0.3:8081/NFE/CCC", "http://127.0.0.3:8081/NFE/CCC/quadro", false},
        {"http://127.0.0.3:8081/NFE/CCC", "http://127.0.0.1:4444/", false},
        {"http://127.0.0.3:8081/", "ws://127.0.0.1:4444/", false},
        {"http://localhost/", "http://10.0.0.1/", false},
        {"http://intranet.localhost/", "http://[::1]/", false},
        {"http://192.168.0.10/portal", "http://127.0.0.1/", false},
        {"http://10.0.0.8/", "http://[fe80::1%25eth0]/", false},
        {"http://[::1]:8080/", "http://192.168.0.1/", false},
        {"http://[::ffff:127.0.0.1]/", "http://127.1/", false},
        {"http://2130706433/", "http://localhost/", false},
        {"http://127.0.0.3/", "https://portal.example/", false},
        // The program's own loads go where it was told.
        {nullptr, "http://127.0.0.2:8081/NFE/CCC", false},
        {nullptr, "http://localhost:8080/", false},
        // A document with no origin to tell (opaque, blank, data:) is not local.
        {"", "http://127.0.0.1/", true},
        {"about:blank", "http://127.0.0.1/", true},
        {"data:text/html,x", "http://localhost/", true},
        {"http://portal.example.localhost.example/", "http://localhost/", true},
        {"http://[2001:db8::1]/", "http://[::1]/", true},
        {"http://8.8.8.8/", "http://192.168.1.1/", true},
    }));

// The host as the parts of a URL or the engine hand it over: brackets or none, zone ids,
// upper case, a trailing dot.
struct HostCase
{
    const char* host;
    bool local;
};

void PrintTo(const HostCase& c, std::ostream* os)
{
    *os << '"' << c.host << '"';
}

class HostTest : public testing::TestWithParam<HostCase>
{};

TEST_P(HostTest, LocalByItsSpelling)
{
    EXPECT_EQ(IsLocalHost(QString::fromLatin1(GetParam().host)), GetParam().local);
}

INSTANTIATE_TEST_SUITE_P(Spellings, HostTest,
                         testing::ValuesIn(std::vector<HostCase>{
                             {"::1", true},
                             {"[::1]", true},
                             {"0:0:0:0:0:0:0:1", true},
                             {"fe80::1%eth0", true},
                             {"[fe80::1%eth0]", true},
                             {"FE80::ABCD%2", true},
                             {"::ffff:127.0.0.1", true},
                             {"[::ffff:192.168.1.1]", true},
                             {"127.0.0.1", true},
                             {"127.1", true},
                             {"2130706433", true},
                             {"0x7F000001", true},
                             {"LOCALHOST", true},
                             {"localhost.", true},
                             {"x.localhost.", true},
                             {"", false},
                             {"[]", false},
                             {"[2001:db8::1]", false},
                             {"2001:db8::1%eth0", false},
                             {"1.2.3.4", false},
                             {"4294967295", false}, // 255.255.255.255
                             {"4294967296", false}, // beyond IPv4: a name, not an address
                             {"127.0.0.1.example", false},
                             {"localhost.example", false},
                             {"xlocalhost", false},
                         }));

TEST(LocalAddressTest, EveryRangeBoundary)
{
    struct Case
    {
        const char* address;
        bool local;
    };
    const Case cases[] = {
        {"126.255.255.255", false},
        {"127.0.0.0", true},
        {"127.255.255.255", true},
        {"0.255.255.255", true},
        {"1.0.0.0", false},
        {"9.255.255.255", false},
        {"10.0.0.0", true},
        {"172.16.0.0", true},
        {"172.31.255.255", true},
        {"192.168.0.0", true},
        {"169.254.0.0", true},
        {"169.254.255.255", true},
        {"::", true},
        {"::1", true},
        {"::ffff:0:0", true},
        {"fc00::", true},
        {"fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"fe00::", false},
        {"fe80::", true},
        {"febf:ffff:ffff:ffff::", true},
        {"fec0::", false},
        {"fbff:ffff::", false},
        {"::ffff:1.1.1.1", false},
        {"64:ff9b::7f00:1", false},
        {"2002:7f00:1::", false},
        {"255.255.255.255", false},
    };
    for (const Case& c : cases) {
        const QHostAddress address(QString::fromLatin1(c.address));
        ASSERT_FALSE(address.isNull()) << c.address;
        EXPECT_EQ(IsLocalAddress(address), c.local) << c.address;
    }
    EXPECT_FALSE(IsLocalAddress(QHostAddress()));
}

} // namespace
