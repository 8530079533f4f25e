// Basic types shared by every part of DuiLib: the export macro, the
// notification and event records, and the names of the notifications.
#pragma once

#include <windows.h>
#include <tchar.h>

#ifdef UILIB_EXPORTS
#define UILIB_API __declspec(dllexport)
#else
#define UILIB_API __declspec(dllimport)
#endif

namespace DuiLib {

class CControlUI;
class CPaintManagerUI;

// Where a window's skin comes from (the window's resource type query).
enum UILIB_RESOURCETYPE {
    UILIB_FILE = 1,         // folder: resource path + skin folder
    UILIB_ZIP = 2,          // archive file under the resource path
    UILIB_RESOURCE = 3,     // not supported: same as UILIB_FILE
    UILIB_ZIPRESOURCE = 4,  // archive held in a "ZIPRES" resource of the program
};

// Notification types sent to INotifyUI listeners.
#define DUI_MSGTYPE_CLICK         (_T("click"))
#define DUI_MSGTYPE_SELECTCHANGED (_T("selectchanged"))
#define DUI_MSGTYPE_TABSELECT     (_T("tabselect"))
#define DUI_MSGTYPE_WINDOWINIT    (_T("windowinit"))
#define DUI_MSGTYPE_TEXTCHANGED   (_T("textchanged"))
#define DUI_MSGTYPE_VALUECHANGED  (_T("valuechanged"))
#define DUI_MSGTYPE_SETFOCUS      (_T("setfocus"))
#define DUI_MSGTYPE_KILLFOCUS     (_T("killfocus"))
#define DUI_MSGTYPE_TIMER         (_T("timer"))

// Control class names (layout tags without the "UI" suffix are the same).
#define DUI_CTR_CONTROL          (_T("Control"))
#define DUI_CTR_CONTAINER        (_T("Container"))
#define DUI_CTR_VERTICALLAYOUT   (_T("VerticalLayout"))
#define DUI_CTR_HORIZONTALLAYOUT (_T("HorizontalLayout"))
#define DUI_CTR_TABLAYOUT        (_T("TabLayout"))
#define DUI_CTR_LABEL            (_T("Label"))
#define DUI_CTR_TEXT             (_T("Text"))
#define DUI_CTR_BUTTON           (_T("Button"))
#define DUI_CTR_OPTION           (_T("Option"))
#define DUI_CTR_CHECKBOX         (_T("CheckBox"))
#define DUI_CTR_PROGRESS         (_T("Progress"))
#define DUI_CTR_EDIT             (_T("Edit"))
#define DUI_CTR_RICHEDIT         (_T("RichEdit"))

// Events the paint manager delivers to controls (CControlUI::DoEvent).
enum EVENTTYPE_UI {
    UIEVENT__FIRST = 1,
    UIEVENT_MOUSEMOVE,
    UIEVENT_MOUSELEAVE,
    UIEVENT_MOUSEENTER,
    UIEVENT_BUTTONDOWN,
    UIEVENT_BUTTONUP,
    UIEVENT_DBLCLICK,
    UIEVENT_RBUTTONDOWN,
    UIEVENT_SCROLLWHEEL,
    UIEVENT_KEYDOWN,
    UIEVENT_CHAR,
    UIEVENT_SETFOCUS,
    UIEVENT_KILLFOCUS,
    UIEVENT_SETCURSOR,
    UIEVENT_TIMER,
    UIEVENT__LAST,
};

// Flags of CControlUI::FindControl.
#define UIFIND_ALL         0x00000000
#define UIFIND_VISIBLE     0x00000001
#define UIFIND_ENABLED     0x00000002
#define UIFIND_HITTEST     0x00000004
#define UIFIND_TOP_FIRST   0x00000008
#define UIFIND_ME_FIRST    0x80000000

// Control states (CButtonUI and friends).
#define UISTATE_FOCUSED  0x00000001
#define UISTATE_SELECTED 0x00000002
#define UISTATE_DISABLED 0x00000004
#define UISTATE_HOT      0x00000008
#define UISTATE_PUSHED   0x00000010
#define UISTATE_CAPTURED 0x00000040

typedef CControlUI* (CALLBACK* FINDCONTROLPROC)(CControlUI*, LPVOID);

}  // namespace DuiLib
