// The alerter program's entry point.
#include <windows.h>

#include "AlerterModule.h"
#include "ComGuard.h"
#include "LogInstance.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return static_cast<int>(GuardHResult([] {
    // The identity first: the first line logged fixes the log instance, and with it the group.
    SetLogIdentity(nullptr, L"KyAlert", nullptr, nullptr, ETWLogging::kMechanismFromRegistry);
    if (!::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
      ZEL_LOG(ETWLogging::kLevelError, L"Alerter", L"wWinMain", L"InitSecureDllLoading Failed");
    }
    CAlerterModule module;
    return module.Run(::GetCommandLineW());
  }));
}
