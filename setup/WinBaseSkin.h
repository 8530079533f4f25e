// The window base's values for this program (see common/winbase/WinBaseEx.h).
#pragma once

#include "Product.h"

struct WinBaseSkin {
    static constexpr const wchar_t* kSkinFolder = Product::kSetupSkinFolder;
    static constexpr const wchar_t* kZipName = Product::kSetupSkinZip;
    static constexpr unsigned kZipResId = Product::kSetupSkinResId;
    static constexpr unsigned kIconId = Product::kSetupIconId;
};
