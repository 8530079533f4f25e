// ClusterCurl against the loopback server: what goes on the wire, redirects,
// error statuses, TLS without certificate checks, time-outs, headers.
#include <gtest/gtest.h>

#include "HttpClient.h"
#include "HttpTestSupport.h"

using httptest::DebugOutputCapture;

namespace {

constexpr char kUserAgentLine[] =
    "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; zh-CN; rv:1.9.2.3) Gecko/20100401 "
    "Firefox/3.6.3\r\n";
constexpr char kFormTypeLine[] = "Content-Type: application/x-www-form-urlencoded\r\n";

// The echoed request split into its head (up to the blank line) and body.
struct EchoedRequest {
    std::string head;
    std::string body;
};

EchoedRequest SplitEcho(const std::string& echo)
{
    EchoedRequest r;
    size_t end = echo.find("\r\n\r\n");
    if (end == std::string::npos) {
        r.head = echo;
        return r;
    }
    r.head = echo.substr(0, end + 2);
    r.body = echo.substr(end + 4);
    return r;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class ClusterCurlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    void SetUp() override
    {
        ports = httptest::ReadLoopbackPorts();
        ASSERT_NE(ports.http, 0);
        curl.connectTimeoutSec = 5;
        curl.timeoutSec = 15;
    }

    std::string Http(const char* path) const { return httptest::HttpBase(ports) + path; }

    httptest::LoopbackPorts ports;
    ClusterCurl curl;
    std::string response;
};

TEST_F(ClusterCurlTest, PostSendsTheFormWithItsContentTypeAndUserAgent)
{
    const std::string body = "info=eyJhIjoxfQ==+/";
    HttpResult r = curl.Post(Http("/echo"), body, &response);

    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.message, "No error");
    EchoedRequest sent = SplitEcho(response);
    EXPECT_EQ(sent.head.rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << sent.head;
    EXPECT_EQ(CountOf(sent.head, kFormTypeLine), 1u) << sent.head;
    EXPECT_EQ(CountOf(sent.head, "Content-Type:"), 1u) << sent.head;
    EXPECT_NE(sent.head.find(kUserAgentLine), std::string::npos) << sent.head;
    EXPECT_NE(sent.head.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(sent.body, body);
}

TEST_F(ClusterCurlTest, EmptyBodyPostsAnEmptyForm)
{
    HttpResult r = curl.Post(Http("/echo"), "", &response);

    EXPECT_EQ(r.status, 200);
    EchoedRequest sent = SplitEcho(response);
    EXPECT_EQ(sent.head.rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << sent.head;
    EXPECT_NE(sent.head.find("Content-Length: 0\r\n"), std::string::npos) << sent.head;
    EXPECT_NE(sent.head.find(kFormTypeLine), std::string::npos) << sent.head;
    EXPECT_EQ(sent.head.find("Transfer-Encoding"), std::string::npos) << sent.head;
    EXPECT_EQ(sent.body, "");
}

TEST_F(ClusterCurlTest, ResponseIsAppendedToTheCallersBuffer)
{
    response = "kept|";
    curl.Get(Http("/echo"), &response);
    EXPECT_EQ(response.rfind("kept|GET /echo HTTP/1.1\r\n", 0), 0u) << response;
}

TEST_F(ClusterCurlTest, GetSendsNoFormHeader)
{
    HttpResult r = curl.Get(Http("/echo"), &response);
    EXPECT_EQ(r.status, 200);
    EchoedRequest sent = SplitEcho(response);
    EXPECT_EQ(sent.head.rfind("GET /echo HTTP/1.1\r\n", 0), 0u) << sent.head;
    EXPECT_EQ(sent.head.find("Content-Type:"), std::string::npos) << sent.head;
    EXPECT_NE(sent.head.find(kUserAgentLine), std::string::npos) << sent.head;
}

class RedirectTest : public ClusterCurlTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RedirectTest, IsFollowedToItsTarget)
{
    HttpResult r = curl.Post(Http(GetParam()), "a=1", &response);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.message, "No error");
    // The target's echo, not the redirect answer, is what comes back.
    EXPECT_NE(response.find(" /echo HTTP/1.1\r\n"), std::string::npos) << response;
}

INSTANTIATE_TEST_SUITE_P(MovedAndFound, RedirectTest, ::testing::Values("/redirect/301", "/redirect/302"));

TEST_F(ClusterCurlTest, NotFoundGivesTheHttpStatusWithTheSuccessTextAndATrace)
{
    DebugOutputCapture trace;
    HttpResult r = curl.Post(Http("/missing"), "a=1", &response);

    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.message, curl_easy_strerror(CURLE_OK));
    EXPECT_EQ(response, "not here");
    EXPECT_TRUE(trace.HasNarrow("[curl send msg error: pRes=No error, lResCode=404 \n]"));
}

TEST_F(ClusterCurlTest, SelfSignedCertificateForAnotherNameIsAccepted)
{
    HttpResult r = curl.Post(httptest::HttpsBase(ports) + "/echo", "tls=1", &response);
    EXPECT_EQ(r.status, 200) << r.message;
    EXPECT_EQ(SplitEcho(response).body, "tls=1");
}

TEST_F(ClusterCurlTest, ClosedPortGivesTheConnectErrorAndNoBody)
{
    DebugOutputCapture trace;
    HttpResult r = curl.Post(httptest::ClosedPortUrl("/echo"), "a=1", &response);

    EXPECT_EQ(r.status, CURLE_COULDNT_CONNECT);
    EXPECT_EQ(r.message, curl_easy_strerror(CURLE_COULDNT_CONNECT));
    EXPECT_EQ(response, "");
    EXPECT_TRUE(trace.HasNarrow("[curl send msg error: pRes=" + r.message + ", lResCode=7 \n]"));
}

// The whole-transfer time-out, shortened here; the request threads' 15 s
// are checked in the task time-out test.
TEST_F(ClusterCurlTest, SilentServerEndsWithTheTimeoutCode)
{
    curl.timeoutSec = 1;
    HttpResult r = curl.Post(Http("/silent"), "a=1", &response);
    EXPECT_EQ(r.status, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(r.message, curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
}

TEST_F(ClusterCurlTest, TransferCutOffAfterA200AnswerIsNotReportedAsSuccess)
{
    curl.timeoutSec = 2;
    HttpResult r = curl.Get(Http("/slow?seconds=20"), &response);
    EXPECT_EQ(r.status, CURLE_OPERATION_TIMEDOUT);
    // What arrived before the time-out stays in the buffer.
    EXPECT_FALSE(response.empty());
    EXPECT_LT(response.size(), 20u);
}

TEST_F(ClusterCurlTest, MissingResponseBufferAbortsWithAWriteErrorAndATrace)
{
    DebugOutputCapture trace;
    HttpResult r = curl.Get(Http("/echo"), nullptr);
    EXPECT_EQ(r.status, CURLE_WRITE_ERROR);
    bool traced = false;
    for (const auto& line : trace.Narrow())
        traced = traced || line.rfind("[ClusterCurl httpDataWriter data error(", 0) == 0;
    EXPECT_TRUE(traced);
}

TEST_F(ClusterCurlTest, AddHeaderAccumulatesLinesAndRefusesAnEmptyName)
{
    EXPECT_FALSE(curl.AddHeader("", "ignored"));
    EXPECT_TRUE(curl.AddHeader("X-First", "1"));
    EXPECT_TRUE(curl.AddHeader("X-Second", "two words"));
    curl.Get(Http("/echo"), &response);

    EchoedRequest sent = SplitEcho(response);
    EXPECT_NE(sent.head.find("\r\nX-First: 1\r\n"), std::string::npos) << sent.head;
    EXPECT_NE(sent.head.find("\r\nX-Second: two words\r\n"), std::string::npos) << sent.head;
    EXPECT_EQ(sent.head.find("ignored"), std::string::npos) << sent.head;
}

}  // namespace
