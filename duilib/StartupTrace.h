// Where a program's start-up spends its time, for the start-up benchmark.
// Only when the environment variable KELO_STARTUP_TRACE names a file are
// times kept; at the end of the first paint they are written there, once, as
// lines "mark <name> <ms since the process was created>" and
// "phase <name> <ms>". A phase's time leaves out the phases nested in it (an
// image read from the skin archive counts as archive, not as image).
// Without the variable every call returns at once.
#pragma once

#include <windows.h>

#include "UIDefine.h"

namespace DuiLib {

enum StartupPhase {
    STARTUP_SKIN_ARCHIVE,  // opening the skin archive and reading files from it
    STARTUP_XML,           // parsing the layout and building its controls
    STARTUP_IMAGES,        // decoding images
    STARTUP_SHADOW,        // the drop shadow's window and image
    STARTUP_PAINT,         // painting the window
    STARTUP_PHASE_COUNT
};

// Times its lifetime as the phase.
class UILIB_API CStartupSpan {
public:
    explicit CStartupSpan(StartupPhase phase);
    ~CStartupSpan();
    CStartupSpan(const CStartupSpan&) = delete;
    CStartupSpan& operator=(const CStartupSpan&) = delete;

private:
    int m_nPhase;  // -1: not timed
    LONGLONG m_llStart;
    LONGLONG m_llNested;
    CStartupSpan* m_pOuter;
};

// Notes the time of a named moment ("entry", "shown").
UILIB_API void StartupMark(LPCWSTR pstrName);
// Notes "painted" and writes the file; later calls do nothing.
UILIB_API void StartupPainted();

}  // namespace DuiLib
