// Stand-in for the platform's utility library "KyUtil.dll" (contract in KyUtil.h).
//
// KyGetOSVersion2 answers from its knobs under HKEY_LOCAL_MACHINE\Software\ZelStandIns\KyUtil
// (see StandInKnobs.h), else from the running Windows:
//   "OSVersion2"        DWORD   the generation to report
//   "OSVersion2Result"  DWORD   the Win32 error to return instead (0 reports the generation)
// Every other export of the table exists so that the binding finds the whole table, and answers
// ERROR_CALL_NOT_IMPLEMENTED: the system never calls them.
#include <windows.h>
#include <versionhelpers.h>

#include <type_traits>

#include "KyUtil.h"
#include "StandInKnobs.h"

namespace {

int RunningGeneration() {
  if (::IsWindows8OrGreater()) return KyOSGeneration_Windows8Up;
  if (::IsWindows7OrGreater()) return KyOSGeneration_Windows7;
  if (::IsWindowsVistaOrGreater()) return KyOSGeneration_Vista;
  if (::IsWindowsXPOrGreater()) return KyOSGeneration_XP;
  return KyOSGeneration_Unknown;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI KyGetOSVersion2(int* version) {
  if (!version) return ERROR_INVALID_PARAMETER;
  const ZelStandIns::StandInKnobs knobs(L"KyUtil");
  if (DWORD failure = knobs.ReadDword(L"OSVersion2Result").value_or(ERROR_SUCCESS)) return failure;
  std::optional<DWORD> configured = knobs.ReadDword(L"OSVersion2");
  *version = configured ? static_cast<int>(*configured) : RunningGeneration();
  return ERROR_SUCCESS;
}
static_assert(std::is_same_v<decltype(KyGetOSVersion2), KyGetOSVersion2Fn>, "KyGetOSVersion2 differs from KyUtil.h");

#define KYUTIL_UNCALLED_EXPORT(name) \
  __declspec(dllexport) DWORD WINAPI name() { return ERROR_CALL_NOT_IMPLEMENTED; }
KYUTIL_UNCALLED_EXPORTS(KYUTIL_UNCALLED_EXPORT)
#undef KYUTIL_UNCALLED_EXPORT

}  // extern "C"
