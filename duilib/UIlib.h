// DuiLib: the suite's DirectUI library. Programs include this one header.
#pragma once

#include "UIDefine.h"
#include "UIString.h"
#include "UIBase.h"
#include "UIManager.h"
#include "UIRender.h"
#include "UIControl.h"
#include "UIContainer.h"
#include "UILabel.h"
#include "UIEdit.h"
#include "UIDlgBuilder.h"
#include "WinImplBase.h"
#include "WndShadow.h"
#include "StartupTrace.h"
