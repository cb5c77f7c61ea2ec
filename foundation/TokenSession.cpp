#include "TokenSession.h"

#include "Handles.h"
#include "LogInstance.h"

namespace Strata {

TokenSession SessionOfProcessToken(HANDLE process, const wchar_t* sourceFile, const wchar_t* function) {
  UniqueHandle token;
  if (!::OpenProcessToken(process, TOKEN_QUERY, token.put())) {
    ZEL_LOG(ETWLogging::kLevelError, sourceFile, function, L"Failed to open the process token (err %d)\r\n",
            ::GetLastError());
    return {TokenSession::Failure::OpenToken, 0};
  }
  DWORD session = 0;
  DWORD bytes = 0;
  if (!::GetTokenInformation(token.get(), TokenSessionId, &session, sizeof(session), &bytes)) {
    ZEL_LOG(ETWLogging::kLevelError, sourceFile, function, L"Failed to get token information (err %d)\r\n",
            ::GetLastError());
    return {TokenSession::Failure::ReadToken, 0};
  }
  return {TokenSession::Failure::None, session};
}

}  // namespace Strata
