// Writes a few diagnostics the way the deliverables do, with the back end chosen by the machine's
// "Logging Mechanism" switch, and prints where the file back end put them.
#include <windows.h>

#include <cstdio>

#include "LogInstance.h"
#include "Logging.h"

int wmain() {
  SetLogIdentity(nullptr, L"ZelDemo", nullptr, nullptr, 0);
  for (DWORD level = ETWLogging::kLevelNormal; level <= ETWLogging::kLevelCritical; ++level) {
    ZEL_LOG(level, L"LogDemo", L"wmain", L"A message at level %lu (%s)\r\n", level, ETWLogging::LevelName(level));
  }
  const wchar_t* userText = L"100% of a value from outside, %s %n included";
  ZEL_LOG(ETWLogging::kLevelError, L"LogDemo", L"wmain", L"Text from outside stays an argument: %s\r\n", userText);

  // The foundation's own classes report through the Strata slot and land in the same log.
  Strata::LogStrata(Strata::kStrataError, L"LogDemo", L"wmain", __LINE__, L"A Strata error report (code %d)", 87);

  CLogInstance* instance = GetLogInstance();
  auto* fileLogger = instance ? dynamic_cast<ETWLogging::CLogging*>(instance->Logger()) : nullptr;
  if (!fileLogger) {
    wprintf(L"The event-tracing back end is selected; nothing was written to files.\n");
    return 1;
  }
  wprintf(L"%ls\n", fileLogger->LogFolderPath().c_str());
  return 0;
}
