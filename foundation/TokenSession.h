// The session a process runs in, read from its token. A failure is logged under the caller's
// source file and function, and the step that failed comes back, as callers answer each their own
// way.
#pragma once

#include <windows.h>

namespace Strata {

struct TokenSession {
  enum class Failure { None, OpenToken, ReadToken };
  Failure failure;
  DWORD session;
};

// `process` needs PROCESS_QUERY_INFORMATION (or is the current-process pseudo handle).
TokenSession SessionOfProcessToken(HANDLE process, const wchar_t* sourceFile, const wchar_t* function);

}  // namespace Strata
