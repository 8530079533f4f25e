// The feedback report that the uninstaller sends once the uninstall has
// finished: the farewell form's answers with version, channel and machine id,
// as one form field "info" holding Base64 of a JSON object.
#pragma once

#include <windows.h>

#include <string>

#include "Product.h"

// Answers of the farewell form and the identity of the installation.
struct UninstFeedback {
    std::wstring version;
    std::wstring channel;
    std::wstring machineId;
    bool functionNotGood = false;
    bool alwaysClose = false;
    bool directUninstall = false;
    std::wstring phoneOrEmail;
    std::wstring feedback;
};

// The report document: a compact JSON object with its members in byte order
// of their keys and one trailing line feed. Strings are in the ANSI code
// page; only \" \\ \b \f \n \r \t and \u00XX (other bytes below 0x20) are
// escaped, bytes from 0x80 up are copied as they are.
std::string FormatFeedbackJson(const UninstFeedback& report);

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string Base64(const std::string& bytes);

// Form body of the report: "info=" + Base64 of the document, not
// percent-encoded.
std::string FormatFeedbackBody(const UninstFeedback& report);

// Builds the report and starts its POST to reportBase + "/Soft/Sys/uninstall"
// through HttpTaskManager; the result comes back to hWnd as WM_HTTP_RESULT.
// reportBase is the scheme and host of the report service, normally the
// build's KELO_REPORT_HOST; tests pass their loopback server
// ("http://127.0.0.1:<port>"). Returns PostAsync's request id, or -1.
int SendUninstallFeedback(HWND hWnd, const UninstFeedback& report,
                          const wchar_t* reportBase = Product::kReportHost);
