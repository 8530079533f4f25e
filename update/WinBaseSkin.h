// The window base's values for this program (see common/winbase/WinBaseEx.h).
#pragma once

#include "Product.h"

struct WinBaseSkin {
    static constexpr const wchar_t* kSkinFolder = Product::kUpdateSkinFolder;
    static constexpr const wchar_t* kZipName = Product::kUpdateSkinZip;
    static constexpr unsigned kZipResId = Product::kUpdateSkinResId;
    static constexpr unsigned kIconId = Product::kUpdateIconId;
};
