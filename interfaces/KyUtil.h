// The suite platform's utility library "KyUtil.dll", as this system binds it.
//
// The system loads the library by file and looks up its whole export table by name, the fifty
// entries of KYUTIL_EXPORTS in this order; an export the library lacks stays null. Of these it
// calls only KyGetOSVersion2. The other forty-nine are the platform's own business: their
// signatures are not part of this contract and the system never calls them.
//
//   DWORD KyGetOSVersion2(int* version)   (WINAPI)
//     Stores the Windows generation of the machine (KyOSGeneration) in *version and returns 0;
//     returns a Win32 error and leaves *version alone on failure (ERROR_INVALID_PARAMETER for a
//     null pointer).
#pragma once

#include <windows.h>

enum KyOSGeneration : int {
  KyOSGeneration_Unknown = 0,
  KyOSGeneration_XP = 1,          // 5.x
  KyOSGeneration_Vista = 2,       // 6.0
  KyOSGeneration_Windows7 = 3,    // 6.1
  KyOSGeneration_Windows8Up = 4,  // 6.2 and later
};

using KyGetOSVersion2Fn = DWORD WINAPI(int* version);

// X(name) for every export of the table, in table order: KyGetOSVersion2, then the ones the
// system resolves and never calls.
#define KYUTIL_EXPORTS(X) X(KyGetOSVersion2) KYUTIL_UNCALLED_EXPORTS(X)
#define KYUTIL_UNCALLED_EXPORTS(X)                                                                    \
  X(KyGetOSVersion) X(KyIsWow64Process) X(KyGetPlatformInstallDir) X(KyGetCommonFilesDir)            \
  X(KyGetProductInstallDir) X(KyIsUserAdmin) X(KyIsProcessElevated) X(KyGetSessionId)                \
  X(KyGetActiveConsoleSessionId) X(KyGetProcessImagePath) X(KyGetModuleVersion) X(KyGetFileVersion)  \
  X(KyCompareVersions) X(KyCreateDirectoryTree) X(KyDeleteDirectoryTree) X(KyFileExists)             \
  X(KyDirectoryExists) X(KyGetShortPath) X(KyGetLongPath) X(KyExpandPath) X(KyGetTempFolder)         \
  X(KyGetProgramDataFolder) X(KyRegReadString) X(KyRegReadDword) X(KyRegWriteString)                 \
  X(KyRegWriteDword) X(KyRegDeleteValue) X(KyRegDeleteTree) X(KyStringToGuid) X(KyGuidToString)      \
  X(KyGetMachineGuid) X(KyGetComputerName) X(KyGetUserName) X(KyGetUserSid) X(KyGetLocale)           \
  X(KyGetUILanguage) X(KyVerifyFileSignature) X(KyIsServiceRunning) X(KyStartService)                \
  X(KyStopService) X(KyLaunchProcessAsUser) X(KyWaitForProcess) X(KyTerminateProcessByName)          \
  X(KyGetDefaultBrowser) X(KyOpenUrl) X(KyGetTickCount64) X(KyGetSystemUptime)                       \
  X(KyIsNetworkAvailable) X(KyFreeBuffer)

// Positions in the export table.
enum KyUtilExport : int {
#define KYUTIL_EXPORT_INDEX(name) KyUtilExport_##name,
  KYUTIL_EXPORTS(KYUTIL_EXPORT_INDEX)
#undef KYUTIL_EXPORT_INDEX
  KyUtilExportCount
};
static_assert(KyUtilExportCount == 50, "the utility library's export table has fifty entries");

// Export names by position, for GetProcAddress.
inline constexpr const char* kKyUtilExportNames[KyUtilExportCount] = {
#define KYUTIL_EXPORT_NAME(name) #name,
    KYUTIL_EXPORTS(KYUTIL_EXPORT_NAME)
#undef KYUTIL_EXPORT_NAME
};
