// The request threads' whole-transfer time-out of 15 s: a server that keeps
// trickling its answer for 40 s is cut off, and what came until then is posted.
// A program of its own, so that ctest can run its wait beside other tests.
#include <gtest/gtest.h>

#include <memory>

#include "HttpClient.h"
#include "HttpTestSupport.h"

TEST(HttpTaskTimeout, TransferLongerThanFifteenSecondsIsCutOffAndItsPartPosted)
{
    const httptest::LoopbackPorts ports = httptest::ReadLoopbackPorts();
    ASSERT_NE(ports.http, 0);
    httptest::DebugOutputCapture trace;
    httptest::MessageSink sink;

    const DWORD start = GetTickCount();
    const int id = HttpTaskManager::GetInstance()->PostAsync(httptest::HttpBase(ports) + "/slow?seconds=40", "",
                                                             sink.hwnd(), 5);
    ASSERT_EQ(id, 1);
    ASSERT_TRUE(sink.PumpUntil([&] { return !sink.messages.empty(); }, 35000));
    const DWORD elapsed = sink.messages[0].tick - start;
    std::unique_ptr<HttpTaskResult> result(reinterpret_cast<HttpTaskResult*>(sink.messages[0].wParam));

    // Ended by the 15 s limit: not before it, and long before the server's 40 s.
    EXPECT_GE(elapsed, 14500u);
    EXPECT_LT(elapsed, 30000u);
    EXPECT_EQ(result->id, 1);
    EXPECT_EQ(result->userTag, 5);
    EXPECT_FALSE(result->body.empty());
    EXPECT_LT(result->body.size(), 40u);
    EXPECT_EQ(result->body.find_first_not_of('x'), std::string::npos);
    // The thread traced libcurl's time-out code.
    char expected[128];
    snprintf(expected, sizeof(expected), "[curl send msg error: pRes=%s, lResCode=%d \n]",
             curl_easy_strerror(CURLE_OPERATION_TIMEDOUT), static_cast<int>(CURLE_OPERATION_TIMEDOUT));
    EXPECT_TRUE(trace.HasNarrow(expected));
}
