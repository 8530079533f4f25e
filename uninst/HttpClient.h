// The uninstaller's HTTP layer: a small synchronous client over one libcurl
// easy handle, and a manager that runs each request on a thread of its own
// and posts the answer to a window.
#pragma once

#include <windows.h>

#include <curl/curl.h>

#include <atomic>
#include <map>
#include <string>

#include "LockHelper.h"

// Posted to the window named in PostAsync when a request has ended.
// wParam: HttpTaskResult* (the receiver owns and deletes it); lParam: 0.
constexpr UINT WM_HTTP_RESULT = WM_USER + 1002;

// Outcome of one ClusterCurl request.
struct HttpResult {
    // 200 on success; otherwise the HTTP code when the server answered, else
    // the libcurl result code; -1 when the client has no easy handle.
    int status = -1;
    // curl_easy_strerror text of the libcurl result, or "m_pCurl == NULL".
    std::string message;
};

// Synchronous HTTP client. Used by one thread for one request and destroyed.
// Redirects are followed, TLS certificates are not checked. The caller owns
// libcurl's global initialisation.
class ClusterCurl {
public:
    ClusterCurl();
    ~ClusterCurl();
    ClusterCurl(const ClusterCurl&) = delete;
    ClusterCurl& operator=(const ClusterCurl&) = delete;

    // GET of url; the response body is appended to *response.
    HttpResult Get(const std::string& url, std::string* response);
    // Form POST of body to url (an empty body posts an empty form); the
    // response body is appended to *response.
    HttpResult Post(const std::string& url, const std::string& body, std::string* response);
    // Adds the request header line "name: value". False for an empty name or
    // when libcurl refuses the header list.
    bool AddHeader(const std::string& name, const std::string& value);

    // libcurl write callback: appends to the std::string given as WRITEDATA.
    // Without one it returns 0, which aborts the transfer with a write error.
    static size_t httpDataWriter(char* data, size_t size, size_t count, void* response);

    int connectTimeoutSec = 0;  // CURLOPT_CONNECTTIMEOUT; 0 is libcurl's default
    int timeoutSec = 0;         // CURLOPT_TIMEOUT for the whole transfer; 0 is none

private:
    void SetCommonOptions();
    HttpResult Perform(std::string* response);

    CURL* m_pCurl = nullptr;
    curl_slist* headers = nullptr;
};

// Writes "[<formatted text>]" to the debugger output; never to the log.
void CurlTrace(const char* format, ...);

// What a request thread posts with WM_HTTP_RESULT.
struct HttpTaskResult {
    std::string body;  // response body as far as it was received
    int id = 0;        // id that PostAsync returned
    int userTag = 0;   // passed through from PostAsync
};

// One request, owned by the thread that performs it.
struct HttpTask {
    std::string url;
    std::string body;
    int id = 0;
    bool isGet = false;
    int userTag = 0;
    HWND notifyWindow = nullptr;
};

// Runs requests asynchronously, one short-lived thread per request.
class HttpTaskManager {
public:
    static HttpTaskManager* GetInstance();

    // Starts a POST of body to url on a new thread and returns its id (1 for
    // the first request of the process, then 2, ...), or -1 when the thread
    // cannot be created. The thread posts WM_HTTP_RESULT to notifyWindow.
    // Called on one thread only (the user-interface thread).
    int PostAsync(const std::string& url, const std::string& body, HWND notifyWindow, int userTag);

    // Number of requests whose thread has not yet finished.
    size_t RunningCount();

private:
    HttpTaskManager() = default;
    static unsigned __stdcall HttpTaskThread(void* param);

    int m_nRequestId = 0;
    std::map<int, HANDLE> m_mapTasks;  // request id -> its thread, while it runs

    static std::atomic<HttpTaskManager*> s_pInstance;
};

// Guards the creation of the one HttpTaskManager.
extern MyLock::CMutex g_mutexHttpInstance;
// Guards HttpTaskManager's table of running requests.
extern MyLock::CMutex g_mutexHttpTasks;
