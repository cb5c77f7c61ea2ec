// Appends numbered lines to the process log through the file back end, so that a test can run two
// of these at once against the same files.
//   LogAppender.exe GROUP TAG COUNT
#include <windows.h>

#include <cwchar>
#include <cwctype>

#include "LogInstance.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  SetLogIdentity(nullptr, argv[1], nullptr, nullptr, ETWLogging::kMechanismFile);
  int count = _wtoi(argv[3]);
  for (int i = 0; i < count; ++i) {
    ZEL_LOG(ETWLogging::kLevelError, L"LogAppender", L"wmain", L"%s line %d end\r\n", argv[2], i);
  }
  return GetLogInstance() && GetLogInstance()->Logger() ? 0 : 1;
}
