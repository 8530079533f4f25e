#include "Feedback.h"

#include <json/json.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "HttpClient.h"
#include "PathUtils.h"

namespace {

// jsoncpp writes \u escapes with lower-case hex digits; the report's
// receiver expects upper case.
void UpperCaseUnicodeEscapes(std::string& json)
{
    for (size_t i = 0; i + 1 < json.size(); ++i) {
        if (json[i] != '\\')
            continue;
        if (json[i + 1] == 'u') {
            for (size_t k = i + 2; k < i + 6 && k < json.size(); ++k) {
                if (json[k] >= 'a' && json[k] <= 'f')
                    json[k] = static_cast<char>(json[k] - 'a' + 'A');
            }
        }
        ++i;  // skip the escaped character, so "\\u" is not mistaken for "\u"
    }
}

}  // namespace

std::string FormatFeedbackJson(const UninstFeedback& report)
{
    Json::Value root(Json::objectValue);
    root["machineid"] = ToNarrow(report.machineId);
    root["version"] = ToNarrow(report.version);
    root["channel"] = ToNarrow(report.channel);
    root["function_not_good"] = report.functionNotGood;
    root["aways_close"] = report.alwaysClose;
    root["direct_uninstall"] = report.directUninstall;
    root["phone_or_email"] = ToNarrow(report.phoneOrEmail);
    root["feedback"] = ToNarrow(report.feedback);

    // Json::FastWriter would read the code-page bytes as UTF-8 and turn them
    // into \u escapes; the stream writer with emitUTF8 copies them unchanged
    // and, without indentation, is just as compact. Members come out sorted
    // by key bytes either way.
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    builder["emitUTF8"] = true;
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    std::ostringstream out;
    writer->write(root, &out);

    std::string json = out.str();
    UpperCaseUnicodeEscapes(json);
    json += '\n';
    return json;
}

std::string Base64(const std::string& bytes)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest == 1) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string FormatFeedbackBody(const UninstFeedback& report)
{
    return "info=" + Base64(FormatFeedbackJson(report));
}

int SendUninstallFeedback(HWND hWnd, const UninstFeedback& report, const wchar_t* reportBase)
{
    wchar_t szUrl[1024] = {};
    _snwprintf(szUrl, 1023, L"%ls%ls", reportBase ? reportBase : L"", Product::kReportPath);

    const std::string body = FormatFeedbackBody(report);
    const int id = HttpTaskManager::GetInstance()->PostAsync(ToNarrow(szUrl), body, hWnd, 0);

    std::wstring data = ToWide(body);
    wchar_t szTrace[4096] = {};
    _snwprintf(szTrace, 4095, L"stUrl=%ls stData=%ls", szUrl, data.c_str());
    OutputDebugStringW(szTrace);
    return id;
}
