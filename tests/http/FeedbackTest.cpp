// The feedback report: its JSON document byte for byte, Base64, and the POST
// that reaches the loopback server.
#include <gtest/gtest.h>

#include <memory>

#include "Base64Decode.h"
#include "Feedback.h"
#include "HttpClient.h"
#include "HttpTestSupport.h"

namespace {

UninstFeedback FullReport()
{
    UninstFeedback r;
    r.version = L"2.3.4.5";
    r.channel = L"baidu_01";
    r.machineId = L"0A1B2C3D-4E5F6";
    r.functionNotGood = true;
    r.alwaysClose = false;
    r.directUninstall = true;
    r.phoneOrEmail = L"user@example.com";
    r.feedback = L"太慢了 \"PDF\"\r\n第二行/a\\b";
    return r;
}

// 太慢了 = CC AB C2 FD C1 CB and 第二行 = B5 DA B6 FE D0 D0 in code page 936.
const char kFullReportJson[] =
    "{\"aways_close\":false,\"channel\":\"baidu_01\",\"direct_uninstall\":true,"
    "\"feedback\":\"\xCC\xAB\xC2\xFD\xC1\xCB \\\"PDF\\\"\\r\\n\xB5\xDA\xB6\xFE\xD0\xD0/a\\\\b\","
    "\"function_not_good\":true,\"machineid\":\"0A1B2C3D-4E5F6\","
    "\"phone_or_email\":\"user@example.com\",\"version\":\"2.3.4.5\"}\n";

struct JsonCase {
    const char* name;
    UninstFeedback report;
    std::string json;
};

std::vector<JsonCase> JsonCases()
{
    std::vector<JsonCase> cases;
    cases.push_back({"NothingTickedNothingTyped", UninstFeedback{},
                     "{\"aways_close\":false,\"channel\":\"\",\"direct_uninstall\":false,\"feedback\":\"\","
                     "\"function_not_good\":false,\"machineid\":\"\",\"phone_or_email\":\"\",\"version\":\"\"}\n"});
    cases.push_back({"FullReport", FullReport(), kFullReportJson});

    UninstFeedback control;
    control.alwaysClose = true;
    control.feedback = std::wstring(L"\b\f\n\r\t") + L'\x01' + L'\x1F' + L'\x7F' + L"/";
    control.phoneOrEmail = L"\\u00ab";  // typed text that looks like an escape stays as typed
    cases.push_back({"ControlCharacters", control,
                     "{\"aways_close\":true,\"channel\":\"\",\"direct_uninstall\":false,"
                     "\"feedback\":\"\\b\\f\\n\\r\\t\\u0001\\u001F\x7F/\",\"function_not_good\":false,"
                     "\"machineid\":\"\",\"phone_or_email\":\"\\\\u00ab\",\"version\":\"\"}\n"});

    UninstFeedback chinese;
    chinese.channel = L"中文";
    chinese.phoneOrEmail = L"邮箱";
    cases.push_back({"ChineseAsCodePageBytes", chinese,
                     "{\"aways_close\":false,\"channel\":\"\xD6\xD0\xCE\xC4\",\"direct_uninstall\":false,"
                     "\"feedback\":\"\",\"function_not_good\":false,\"machineid\":\"\","
                     "\"phone_or_email\":\"\xD3\xCA\xCF\xE4\",\"version\":\"\"}\n"});
    return cases;
}

class FeedbackJsonTest : public ::testing::TestWithParam<JsonCase> {};

TEST_P(FeedbackJsonTest, DocumentIsExactlyTheseBytes)
{
    ASSERT_EQ(GetACP(), 936u) << "the tests run with the Chinese code page";
    EXPECT_EQ(FormatFeedbackJson(GetParam().report), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Reports, FeedbackJsonTest, ::testing::ValuesIn(JsonCases()),
                         [](const ::testing::TestParamInfo<JsonCase>& info) { return info.param.name; });

TEST(FeedbackBase64, PadsAndUsesTheStandardAlphabet)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF", "+/8="},
        {"\xFB\xEF\xBE", "++++"},
        {"\xFF\xFF\xFF", "////"},
        {std::string("\0\0\0", 3), "AAAA"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Base64(c.in), c.out) << "input of " << c.in.size() << " bytes";
}

TEST(FeedbackBody, IsInfoFollowedByTheRawBase64OfTheDocument)
{
    const std::string body = FormatFeedbackBody(FullReport());
    ASSERT_EQ(body.rfind("info=", 0), 0u);
    EXPECT_EQ(body.find('%'), std::string::npos);
    EXPECT_EQ(DecodeBase64(body.substr(5)), kFullReportJson);
    // 220 bytes of document: not a multiple of 3, so the text ends with "==".
    const size_t rest = (sizeof(kFullReportJson) - 1) % 3;
    ASSERT_NE(rest, 0u);
    EXPECT_EQ(body.substr(body.size() - (3 - rest)), std::string(3 - rest, '='));
}

class FeedbackSendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

TEST_F(FeedbackSendTest, ReportArrivesAsOneFormPostAtTheReportPath)
{
    const httptest::LoopbackPorts ports = httptest::ReadLoopbackPorts();
    ASSERT_NE(ports.http, 0);
    httptest::DebugOutputCapture trace;
    httptest::MessageSink sink;
    const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(ports.http);

    const int id = SendUninstallFeedback(sink.hwnd(), FullReport(), base.c_str());
    ASSERT_GT(id, 0);
    ASSERT_TRUE(sink.PumpUntil([&] { return !sink.messages.empty(); }, 20000));
    ASSERT_EQ(sink.messages[0].msg, WM_HTTP_RESULT);
    std::unique_ptr<HttpTaskResult> result(reinterpret_cast<HttpTaskResult*>(sink.messages[0].wParam));
    EXPECT_EQ(result->id, id);
    EXPECT_EQ(result->userTag, 0);

    // The server echoes the request it received.
    const std::string& got = result->body;
    const size_t split = got.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos) << got;
    const std::string head = got.substr(0, split + 2);
    const std::string body = got.substr(split + 4);
    EXPECT_EQ(head.rfind("POST /Soft/Sys/uninstall HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"), std::string::npos) << head;
    ASSERT_EQ(body.rfind("info=", 0), 0u) << body;
    EXPECT_EQ(body.find('%'), std::string::npos);
    EXPECT_EQ(DecodeBase64(body.substr(5)), kFullReportJson);

    // The request is also written to the debugger output, not the log.
    const std::wstring expectedTrace = L"stUrl=" + base + L"/Soft/Sys/uninstall stData=" +
                                       std::wstring(body.begin(), body.end());
    bool traced = false;
    for (const auto& line : trace.Wide())
        traced = traced || line == expectedTrace;
    for (const auto& line : trace.Narrow())
        traced = traced || std::wstring(line.begin(), line.end()) == expectedTrace;
    EXPECT_TRUE(traced);
}

TEST_F(FeedbackSendTest, EmptyReportIsStillSent)
{
    const httptest::LoopbackPorts ports = httptest::ReadLoopbackPorts();
    ASSERT_NE(ports.http, 0);
    httptest::MessageSink sink;
    const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(ports.http);

    SendUninstallFeedback(sink.hwnd(), UninstFeedback{}, base.c_str());
    ASSERT_TRUE(sink.PumpUntil([&] { return !sink.messages.empty(); }, 20000));
    std::unique_ptr<HttpTaskResult> result(reinterpret_cast<HttpTaskResult*>(sink.messages[0].wParam));
    const size_t split = result->body.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos);
    EXPECT_EQ(DecodeBase64(result->body.substr(split + 4 + 5)), FormatFeedbackJson(UninstFeedback{}));
}

}  // namespace
