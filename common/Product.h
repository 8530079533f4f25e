// Every fixed name, path and argument of the installed product and of the
// suite's own state. Nothing else in the suite spells these literals.
#pragma once

#include "BuildConfig.h"

namespace Product {

// Programs of the product, by exact executable name.
constexpr wchar_t kMainExe[]        = L"KeloPdfReader.exe";
constexpr wchar_t kUninstExe[]      = L"Uninst.exe";
constexpr wchar_t kUpdateExe[]      = L"Update.exe";
constexpr wchar_t kAdvertisingExe[] = L"KeloPdfAdvertising.exe";
constexpr wchar_t kSetupExe[]       = L"KeloPdfReaderSetup.exe";
constexpr wchar_t kIconFile[]       = L"icon.ico";

// The product's Windows service; the suite stops and removes it, never installs it.
constexpr wchar_t kServiceName[] = L"KeloPdfReaderSvr";

// Delivered beside the setup program.
constexpr wchar_t kPayloadFolder[] = L"KeloInstaller";
constexpr wchar_t kInstallIni[]    = L"install.ini";
// Runtime libraries copied from the setup program's folder, in this order.
constexpr const wchar_t* kRuntimeLibs[] = {L"DuiLib.dll", L"libcurl.dll", L"libeay32.dll", L"ssleay32.dll"};

// Default installation folder name under the program-files folder.
constexpr wchar_t kInstallFolderName[] = L"KeloPdfReader";

// Display name and publisher.
constexpr wchar_t kDefaultAppName[] = L"KeloPDF阅读器";
constexpr wchar_t kDefaultVersion[] = L"1.0.0.0";
constexpr wchar_t kDefaultChannel[] = L"10";
constexpr wchar_t kPublisher[]      = L"Xandel电子商务有限公司";
constexpr wchar_t kUrlInfoAbout[]   = KELO_URL_INFO_ABOUT;

// Registry (HKEY_LOCAL_MACHINE, 32-bit view).
constexpr wchar_t kRegSoftware[]      = L"SOFTWARE";
constexpr wchar_t kRegProductName[]   = L"KeloPdfReader";
constexpr wchar_t kRegProductKey[]    = L"SOFTWARE\\KeloPdfReader";
constexpr wchar_t kRegUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kRegUninstallKey[]  = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KeloPdfReader";

// Product key values.
constexpr wchar_t kValMachineId[]  = L"MachineId";
constexpr wchar_t kValVersionStr[] = L"version_str";
constexpr wchar_t kValChannel[]    = L"channel";
constexpr wchar_t kValInstallDir[] = L"installDir";
constexpr wchar_t kValAppName[]    = L"appname";
constexpr wchar_t kValVersion[]    = L"version";

// Uninstall entry values.
constexpr wchar_t kValDisplayIcon[]     = L"DisplayIcon";
constexpr wchar_t kValDisplayName[]     = L"DisplayName";
constexpr wchar_t kValDisplayVersion[]  = L"DisplayVersion";
constexpr wchar_t kValPublisher[]       = L"Publisher";
constexpr wchar_t kValUninstallString[] = L"UninstallString";
constexpr wchar_t kValUrlInfoAbout[]    = L"URLInfoAbout";

// INI files, sections and keys.
constexpr wchar_t kConfigIni[]     = L"config.ini";
constexpr wchar_t kUpdateIni[]     = L"update.ini";
constexpr wchar_t kSecConfig[]     = L"CONFIG";
constexpr wchar_t kSecMachine[]    = L"MACHINE";
constexpr wchar_t kKeyAppName[]    = L"appname";
constexpr wchar_t kKeyVersionStr[] = L"version_str";
constexpr wchar_t kKeyChannel[]    = L"channel";
constexpr wchar_t kKeyVersion[]    = L"version";
constexpr wchar_t kKeyMachineId[]  = L"MachineId";

// Update package, placed by the application in the installation folder.
constexpr wchar_t kUpdateFolder[]  = L"Update";
constexpr wchar_t kUpdateZip[]     = L"Update.zip";
constexpr wchar_t kRunUpdateArgs[] = L"-run update";

// Firewall rules: the display name is added; "Trevalo" is an older rule only removed.
constexpr wchar_t kOldFirewallRule[] = L"Trevalo";

// Logs in the temporary folder.
constexpr wchar_t kLogFolderName[] = L"KeloPdfReader";
constexpr wchar_t kInstallLog[]    = L"install.log";
constexpr wchar_t kUpdateLog[]     = L"update.log";

// Deferred self-deletion script name.
constexpr wchar_t kSelfDeleteScript[] = L"_uninstall_acc.bat";

// Single-instance guards: mutex names and the title suffixes of the main windows.
constexpr wchar_t kSetupMutex[]   = L"{1E4F7F1D-3D93-271E-9FFA-FAB13AEE2CF0}";
constexpr wchar_t kUninstMutex[]  = L"{E7C8B90D-34D3-56A7-D16B-12A67973BA2F}";
constexpr wchar_t kUpdateMutex[]  = L"{AEC6CCFD-6EFE-DFEE-591C-101BB89AF58B}";
constexpr wchar_t kSetupTitleSuffix[]  = L"安装程序";
constexpr wchar_t kUninstTitleSuffix[] = L"卸载程序";
constexpr wchar_t kUpdateTitleSuffix[] = L"升级程序";

// Feedback report.
constexpr wchar_t kReportHost[] = KELO_REPORT_HOST;
constexpr wchar_t kReportPath[] = L"/Soft/Sys/uninstall";

// Private folder under the temporary folder that holds one self-deletion
// script: this prefix plus a random GUID, created anew for every script.
constexpr wchar_t kSelfDeleteFolderPrefix[] = L"KeloSelfDelete-";

// Crash dump: the program file's full path plus this suffix.
constexpr wchar_t kDumpSuffix[] = L".dmp";

// Skinned windows: each program's skin folder, skin archive name, archive
// resource id (resource type "ZIPRES") and window icon group id.
constexpr wchar_t kSetupSkinFolder[]  = L"SetupSkin\\";
constexpr wchar_t kSetupSkinZip[]     = L"SetupSkin.zip";
constexpr unsigned kSetupSkinResId    = 105;
constexpr unsigned kSetupIconId       = 104;
constexpr wchar_t kUninstSkinFolder[] = L"UninstSkin\\";
constexpr wchar_t kUninstSkinZip[]    = L"UninstSkin.zip";
constexpr unsigned kUninstSkinResId   = 103;
constexpr unsigned kUninstIconId      = 102;
constexpr wchar_t kUpdateSkinFolder[] = L"UpdateSkin\\";
constexpr wchar_t kUpdateSkinZip[]    = L"UpdateSkin.zip";
constexpr unsigned kUpdateSkinResId   = 103;
constexpr unsigned kUpdateIconId      = 102;
// The drop shadow image every skin archive holds.
constexpr wchar_t kShadowImage[] = L"shadow.png";

}  // namespace Product
