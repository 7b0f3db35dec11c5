// Failed loads sorted into the classes support reads: the engine's network error codes, its
// certificate errors and HTTP answers without a page.
#include "shell/LoadFailure.h"

#include <gtest/gtest.h>

namespace {

using Domain = QWebEngineLoadingInfo::ErrorDomain;

struct ClassCase
{
    const char* error; // the engine's name for it
    Domain domain;
    int code;
    const char* expected;
};

void PrintTo(const ClassCase& c, std::ostream* os)
{
    *os << c.error;
}

class LoadFailureClassTest : public testing::TestWithParam<ClassCase>
{};

TEST_P(LoadFailureClassTest, NamesTheClass)
{
    const ClassCase& c = GetParam();
    EXPECT_EQ(LoadFailureClassName(ClassifyLoadFailure(c.domain, c.code)).toStdString(),
              c.expected);
}

constexpr Domain Connection = QWebEngineLoadingInfo::ConnectionErrorDomain;
constexpr Domain Certificate = QWebEngineLoadingInfo::CertificateErrorDomain;
constexpr Domain Internal = QWebEngineLoadingInfo::InternalErrorDomain;
constexpr Domain Http = QWebEngineLoadingInfo::HttpErrorDomain;
constexpr Domain Dns = QWebEngineLoadingInfo::DnsErrorDomain;
constexpr Domain HttpStatus = QWebEngineLoadingInfo::HttpStatusCodeDomain;

INSTANTIATE_TEST_SUITE_P(
    Codes, LoadFailureClassTest,
    testing::Values(
        ClassCase{"ERR_INTERNET_DISCONNECTED", Connection, -106, "offline"},
        ClassCase{"ERR_NAME_NOT_RESOLVED", Connection, -105, "offline"},
        ClassCase{"ERR_NAME_RESOLUTION_FAILED", Connection, -137, "offline"},
        ClassCase{"ERR_ADDRESS_UNREACHABLE", Connection, -109, "offline"},
        ClassCase{"ERR_NETWORK_CHANGED", Internal, -21, "offline"},
        ClassCase{"ERR_DNS_SERVER_FAILED", Dns, -802, "offline"},
        ClassCase{"ERR_CONNECTION_REFUSED", Connection, -102, "refused"},
        ClassCase{"ERR_CONNECTION_RESET", Connection, -101, "refused"},
        ClassCase{"ERR_CONNECTION_CLOSED", Connection, -100, "refused"},
        ClassCase{"ERR_EMPTY_RESPONSE", Http, -324, "refused"},
        ClassCase{"ERR_TIMED_OUT", Internal, -7, "timeout"},
        ClassCase{"ERR_CONNECTION_TIMED_OUT", Connection, -118, "timeout"},
        ClassCase{"ERR_DNS_TIMED_OUT", Dns, -803, "timeout"},
        ClassCase{"ERR_CERT_AUTHORITY_INVALID", Certificate, -202, "certificate-untrusted"},
        ClassCase{"ERR_CERT_DATE_INVALID", Certificate, -201, "certificate-expired"},
        ClassCase{"ERR_CERT_COMMON_NAME_INVALID", Certificate, -200, "certificate-name"},
        ClassCase{"ERR_CERT_REVOKED", Certificate, -206, "certificate-other"},
        ClassCase{"ERR_CERT_WEAK_KEY", Certificate, -211, "certificate-other"},
        ClassCase{"ERR_CERT_WEAK_SIGNATURE_ALGORITHM", Certificate, -208, "certificate-other"},
        ClassCase{"ERR_SSL_PINNED_KEY_NOT_IN_CERT_CHAIN", Connection, -150, "certificate-other"},
        ClassCase{"HTTP_503", HttpStatus, 503, "http-error"},
        ClassCase{"HTTP_404", HttpStatus, 404, "http-error"},
        ClassCase{"HTTP_302_is_no_error", HttpStatus, 302, "other"},
        ClassCase{"ERR_HTTP_RESPONSE_CODE_FAILURE", Http, -379, "http-error"},
        ClassCase{"ERR_SSL_PROTOCOL_ERROR", Connection, -107, "other"},
        // Seen for a portal host on port 9, which the engine refuses to connect to at all.
        ClassCase{"ERR_UNSAFE_PORT", Connection, -312, "other"},
        ClassCase{"ERR_ABORTED", Internal, -3, "other"},
        ClassCase{"ERR_FAILED", Internal, -2, "other"}));

} // namespace
