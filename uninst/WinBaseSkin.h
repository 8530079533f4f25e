// The window base's values for this program (see common/winbase/WinBaseEx.h).
#pragma once

#include "Product.h"

struct WinBaseSkin {
    static constexpr const wchar_t* kSkinFolder = Product::kUninstSkinFolder;
    static constexpr const wchar_t* kZipName = Product::kUninstSkinZip;
    static constexpr unsigned kZipResId = Product::kUninstSkinResId;
    static constexpr unsigned kIconId = Product::kUninstIconId;
};
