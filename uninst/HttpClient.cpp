#include "HttpClient.h"

#include <process.h>

#include <cstdarg>
#include <cstdio>
#include <memory>

namespace {

constexpr char kUserAgent[] =
    "Mozilla/5.0 (Windows; U; Windows NT 5.1; zh-CN; rv:1.9.2.3) Gecko/20100401 Firefox/3.6.3";
constexpr char kFormContentTypeName[] = "Content-Type";
constexpr char kFormContentTypeValue[] = "application/x-www-form-urlencoded";

// Time-outs of every report request: connect, then the whole transfer.
constexpr int kTaskConnectTimeoutSec = 5;
constexpr int kTaskTimeoutSec = 15;

}  // namespace

MyLock::CMutex g_mutexHttpInstance;
MyLock::CMutex g_mutexHttpTasks;

std::atomic<HttpTaskManager*> HttpTaskManager::s_pInstance{nullptr};

void CurlTrace(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(sizeof(text)))
        text[sizeof(text) - 1] = '\0';

    char line[1024 + 3];
    _snprintf(line, sizeof(line), "[%s]", text);
    line[sizeof(line) - 1] = '\0';
    OutputDebugStringA(line);
}

ClusterCurl::ClusterCurl()
{
    m_pCurl = curl_easy_init();
    if (!m_pCurl)
        CurlTrace("curl_easy_init() failed: %d\n", static_cast<int>(GetLastError()));
}

ClusterCurl::~ClusterCurl()
{
    if (headers)
        curl_slist_free_all(headers);
    if (m_pCurl)
        curl_easy_cleanup(m_pCurl);
}

size_t ClusterCurl::httpDataWriter(char* data, size_t size, size_t count, void* response)
{
    auto* out = static_cast<std::string*>(response);
    if (!out) {
        CurlTrace("ClusterCurl httpDataWriter data error(%d) \n", static_cast<int>(GetLastError()));
        return 0;
    }
    out->append(data, size * count);
    return size * count;
}

bool ClusterCurl::AddHeader(const std::string& name, const std::string& value)
{
    if (name.empty() || !m_pCurl)
        return false;
    std::string line = name + ": " + value;
    curl_slist* list = curl_slist_append(headers, line.c_str());
    if (!list)
        return false;
    headers = list;
    return curl_easy_setopt(m_pCurl, CURLOPT_HTTPHEADER, headers) == CURLE_OK;
}

void ClusterCurl::SetCommonOptions()
{
    curl_easy_setopt(m_pCurl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(m_pCurl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(m_pCurl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeoutSec));
    curl_easy_setopt(m_pCurl, CURLOPT_TIMEOUT, static_cast<long>(timeoutSec));
}

HttpResult ClusterCurl::Perform(std::string* response)
{
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEFUNCTION, &ClusterCurl::httpDataWriter);
    curl_easy_setopt(m_pCurl, CURLOPT_WRITEDATA, response);
    CURLcode code = curl_easy_perform(m_pCurl);

    HttpResult result;
    result.message = curl_easy_strerror(code);
    long http = 0;
    curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &http);
    if (code != CURLE_OK || http != 200) {
        // A transfer that broke off after a 200 answer (time-out, write
        // error) must not read as a success: then the libcurl code is kept.
        if (http != 0 && !(code != CURLE_OK && http == 200))
            result.status = static_cast<int>(http);
        else
            result.status = static_cast<int>(code);
        CurlTrace("curl send msg error: pRes=%s, lResCode=%ld \n", result.message.c_str(),
                  static_cast<long>(result.status));
    } else {
        result.status = 200;
    }
    return result;
}

HttpResult ClusterCurl::Post(const std::string& url, const std::string& body, std::string* response)
{
    if (!m_pCurl) {
        CurlTrace("curl_easy_init() failed: m_pCurl == NULL\n");
        return HttpResult{-1, "m_pCurl == NULL"};
    }
    curl_easy_setopt(m_pCurl, CURLOPT_POST, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_URL, url.c_str());
    AddHeader(kFormContentTypeName, kFormContentTypeValue);
    SetCommonOptions();
    if (!body.empty()) {
        curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    } else {
        // Without POSTFIELDS libcurl would read the body from stdin.
        curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDS, "");
    }
    return Perform(response);
}

HttpResult ClusterCurl::Get(const std::string& url, std::string* response)
{
    if (!m_pCurl) {
        CurlTrace("curl_easy_init() failed: m_pCurl == NULL\n");
        return HttpResult{-1, "m_pCurl == NULL"};
    }
    curl_easy_setopt(m_pCurl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_URL, url.c_str());
    SetCommonOptions();
    return Perform(response);
}

HttpTaskManager* HttpTaskManager::GetInstance()
{
    HttpTaskManager* instance = s_pInstance.load(std::memory_order_acquire);
    if (!instance) {
        MyLock::MutexGuard guard(&g_mutexHttpInstance);
        instance = s_pInstance.load(std::memory_order_relaxed);
        if (!instance) {
            // Lives until the process ends: request threads may still use it.
            instance = new HttpTaskManager();
            s_pInstance.store(instance, std::memory_order_release);
        }
    }
    return instance;
}

int HttpTaskManager::PostAsync(const std::string& url, const std::string& body, HWND notifyWindow,
                               int userTag)
{
    ++m_nRequestId;
    auto* task = new HttpTask;
    task->url = url;
    task->body = body;
    task->id = m_nRequestId;
    task->isGet = false;
    task->userTag = userTag;
    task->notifyWindow = notifyWindow;

    HANDLE thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &HttpTaskManager::HttpTaskThread, task, CREATE_SUSPENDED, nullptr));
    if (!thread) {
        delete task;
        return -1;
    }
    {
        // Entered while the thread is still suspended, so it always finds it.
        MyLock::MutexGuard guard(&g_mutexHttpTasks);
        m_mapTasks[task->id] = thread;
    }
    const int id = m_nRequestId;
    ResumeThread(thread);
    return id;
}

size_t HttpTaskManager::RunningCount()
{
    MyLock::MutexGuard guard(&g_mutexHttpTasks);
    return m_mapTasks.size();
}

unsigned __stdcall HttpTaskManager::HttpTaskThread(void* param)
{
    std::unique_ptr<HttpTask> task(static_cast<HttpTask*>(param));
    {
        ClusterCurl curl;
        curl.connectTimeoutSec = kTaskConnectTimeoutSec;
        curl.timeoutSec = kTaskTimeoutSec;
        std::string response;
        if (task->isGet)
            curl.Get(task->url, &response);
        else
            curl.Post(task->url, task->body, &response);

        auto* result = new HttpTaskResult;
        result->body = response;
        result->id = task->id;
        result->userTag = task->userTag;
        // A null window would post to this thread's own queue, which dies
        // with it; a failed post leaves the record with nobody to free it.
        if (!task->notifyWindow ||
            !PostMessageW(task->notifyWindow, WM_HTTP_RESULT, reinterpret_cast<WPARAM>(result), 0))
            delete result;
    }

    HANDLE thread = nullptr;
    HttpTaskManager* manager = GetInstance();
    {
        MyLock::MutexGuard guard(&g_mutexHttpTasks);
        auto it = manager->m_mapTasks.find(task->id);
        if (it != manager->m_mapTasks.end()) {
            thread = it->second;
            manager->m_mapTasks.erase(it);
        }
    }
    if (thread)
        CloseHandle(thread);
    return 0;
}
