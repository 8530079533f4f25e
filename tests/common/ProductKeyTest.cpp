// Runs in a private prefix: it reads and writes the product's fixed key.
#include <gtest/gtest.h>

#include <windows.h>

#include "Product.h"
#include "RegSettings.h"

namespace {

bool ProductKeyExists()
{
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Product::kRegProductKey, 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(h);
    return true;
}

TEST(ProductKey, ReadingCreatesTheEmptyKeyAndYieldsDefaults)
{
    ASSERT_FALSE(ProductKeyExists());
    EXPECT_EQ(ReadProductValue(Product::kValAppName), L"KeloPDF阅读器");
    EXPECT_TRUE(ProductKeyExists());
    EXPECT_EQ(ReadProductValue(Product::kValVersionStr), L"1.0.0.0");
    EXPECT_EQ(ReadProductValue(Product::kValChannel), L"");
    EXPECT_EQ(ReadProductValue(Product::kValMachineId), L"");
    EXPECT_EQ(ReadProductValue(Product::kValInstallDir), L"");

    std::wstring version(255, L'9');
    ASSERT_TRUE(WriteProductValue(Product::kValVersionStr, version.c_str()));
    EXPECT_EQ(ReadProductValue(Product::kValVersionStr), version);
    // "appname" is read into 128 characters.
    ASSERT_TRUE(WriteProductValue(Product::kValAppName, std::wstring(127, L'n').c_str()));
    EXPECT_EQ(ReadProductValue(Product::kValAppName), std::wstring(127, L'n'));

    CRegSettings software(HKEY_LOCAL_MACHINE, Product::kRegSoftware);
    EXPECT_EQ(software.DeleteKeyTree(Product::kRegProductName), 0);
    EXPECT_FALSE(ProductKeyExists());
}

}  // namespace
