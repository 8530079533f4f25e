// CDialogBuilder: builds a control tree from a layout file of the skin.
//
// Layout format (UTF-8 XML):
//   <Window size="w,h" caption="l,t,r,b" mininfo="w,h" maxinfo="w,h"
//           roundcorner="x,y" layered="true" layeredimage="..." alpha="0..255">
//     <Font id="1" name="Microsoft YaHei" size="14" bold="true" default="true"/>
//     <Default name="Button" value="textcolor=&quot;#FF333333&quot;"/>
//     <VerticalLayout ...> controls ... </VerticalLayout>
//   </Window>
// Control tags: Control, Container, VerticalLayout, HorizontalLayout,
// TabLayout, Label, Text, Button, Option, CheckBox, Progress, Edit,
// RichEdit; other tags are offered to IDialogBuilderCallback::CreateControl.
#pragma once

#include "UIBase.h"

namespace DuiLib {

class UILIB_API CDialogBuilder {
public:
    CDialogBuilder();
    ~CDialogBuilder();
    CDialogBuilder(const CDialogBuilder&) = delete;
    CDialogBuilder& operator=(const CDialogBuilder&) = delete;

    // Reads the layout file from the skin (archive or resource path).
    CControlUI* Create(LPCTSTR pstrXmlFile, LPCTSTR pstrType = NULL, IDialogBuilderCallback* pCallback = NULL,
                       CPaintManagerUI* pManager = NULL, CControlUI* pParent = NULL);
    CControlUI* CreateFromBuffer(const BYTE* pData, DWORD dwSize, IDialogBuilderCallback* pCallback = NULL,
                                 CPaintManagerUI* pManager = NULL, CControlUI* pParent = NULL);
    // What went wrong in the last Create; empty after success.
    LPCTSTR GetLastErrorMessage() const;

    // A control of a built-in class by its layout tag, or NULL.
    static CControlUI* CreateBuiltinControl(LPCTSTR pstrClass);

private:
    struct Data;
    Data* m_p;
};

}  // namespace DuiLib
