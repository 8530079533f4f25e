// HttpTaskManager: one thread per request, the answer posted to a window.
// The request ids count per process, so the first test here must be the
// first request of the program.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "HttpClient.h"
#include "HttpTestSupport.h"

using httptest::MessageSink;

namespace {

class HttpTaskTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    void SetUp() override
    {
        ports = httptest::ReadLoopbackPorts();
        ASSERT_NE(ports.http, 0);
    }

    // Waits for `count` WM_HTTP_RESULT records and takes them over.
    std::vector<std::unique_ptr<HttpTaskResult>> Collect(size_t count, DWORD timeoutMs = 20000)
    {
        sink.PumpUntil([&] { return sink.messages.size() >= count; }, timeoutMs);
        std::vector<std::unique_ptr<HttpTaskResult>> results;
        for (const auto& m : sink.messages) {
            EXPECT_EQ(m.msg, WM_HTTP_RESULT);
            EXPECT_EQ(m.lParam, 0);
            // The receiver owns the record and frees it.
            results.emplace_back(reinterpret_cast<HttpTaskResult*>(m.wParam));
        }
        sink.messages.clear();
        return results;
    }

    bool WaitUntilNoneRunning()
    {
        for (int i = 0; i < 200 && HttpTaskManager::GetInstance()->RunningCount() != 0; ++i)
            Sleep(25);
        return HttpTaskManager::GetInstance()->RunningCount() == 0;
    }

    std::string Http(const char* path) const { return httptest::HttpBase(ports) + path; }

    httptest::LoopbackPorts ports;
    MessageSink sink;
};

TEST_F(HttpTaskTest, FirstRequestsOfTheProcessGetIdsOneAndTwo)
{
    EXPECT_EQ(WM_HTTP_RESULT, 2026u);
    const int first = HttpTaskManager::GetInstance()->PostAsync(Http("/echo"), "n=1", sink.hwnd(), 7);
    const int second = HttpTaskManager::GetInstance()->PostAsync(Http("/echo"), "n=2", sink.hwnd(), 8);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);

    auto results = Collect(2);
    ASSERT_EQ(results.size(), 2u);
    for (const auto& r : results) {
        // Each record carries its own request's id, tag and answer.
        const std::string body = r->id == 1 ? "n=1" : "n=2";
        EXPECT_EQ(r->userTag, r->id == 1 ? 7 : 8);
        EXPECT_EQ(r->body.rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << r->body;
        EXPECT_EQ(r->body.substr(r->body.size() - body.size()), body);
    }
    EXPECT_TRUE(WaitUntilNoneRunning());
}

TEST_F(HttpTaskTest, SameInstanceEveryTime)
{
    EXPECT_EQ(HttpTaskManager::GetInstance(), HttpTaskManager::GetInstance());
}

TEST_F(HttpTaskTest, ClosedPortStillPostsTheResultWithAnEmptyBody)
{
    const int id =
        HttpTaskManager::GetInstance()->PostAsync(httptest::ClosedPortUrl("/echo"), "a=1", sink.hwnd(), 3);
    ASSERT_GT(id, 0);

    auto results = Collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]->id, id);
    EXPECT_EQ(results[0]->userTag, 3);
    EXPECT_EQ(results[0]->body, "");
    EXPECT_TRUE(WaitUntilNoneRunning());
}

TEST_F(HttpTaskTest, ErrorAnswerIsPostedWithItsBody)
{
    const int id = HttpTaskManager::GetInstance()->PostAsync(Http("/missing"), "", sink.hwnd(), 0);
    auto results = Collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]->id, id);
    EXPECT_EQ(results[0]->body, "not here");
}

TEST_F(HttpTaskTest, ManyParallelRequestsEachPostOneRecordAndLeaveTheTable)
{
    constexpr int kCount = 16;
    std::set<int> ids;
    int last = 0;
    for (int i = 0; i < kCount; ++i) {
        const int id = HttpTaskManager::GetInstance()->PostAsync(Http("/echo"), "i=" + std::to_string(i),
                                                                 sink.hwnd(), i);
        EXPECT_GT(id, last);  // ids keep counting up within the process
        last = id;
        ids.insert(id);
    }
    auto results = Collect(kCount);
    ASSERT_EQ(results.size(), static_cast<size_t>(kCount));
    std::set<int> seen;
    for (const auto& r : results) {
        seen.insert(r->id);
        const std::string body = "i=" + std::to_string(r->userTag);
        EXPECT_EQ(r->body.substr(r->body.size() - body.size()), body);
    }
    EXPECT_EQ(seen, ids);
    EXPECT_TRUE(WaitUntilNoneRunning());

    // Nothing more arrives later: one record per request.
    sink.PumpFor(300);
    EXPECT_TRUE(sink.messages.empty());
}

}  // namespace
