// The users and sessions the user manager stand-in answers with, read from its state key
// (HKLM\Software\ZelStandIns\UserManager, or the calling process's subkey "Processes\<id>"):
//   Users\<logon name>   "DisplayName" (text), "Kind" (1 administrator), "Startup", "AdminFlag",
//                        "UserFlag" (DWORDs), "GroupSids" (multi-text), "NameResult" (the result
//                        code of the name queries, default 0)
//   Sessions\<id>        "User" (logon name), "Result" (result code of GetLoggedOnUser, default 0),
//                        "HResult" (its HRESULT, default S_OK), "NotLoggedOnTimes" (how many more
//                        questions answer 1245 first, as while the user has not logged on yet)
// A session without a key answers 1245 (not logged on); a session naming a user without a key
// answers 1317 (no such user).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace ZelStandIns {

struct UserRecord {
  std::wstring logonName;
  std::optional<std::wstring> displayName;
  DWORD kind = 0;
  DWORD startup = 0;
  DWORD adminFlag = 0;
  DWORD userFlag = 0;
  std::vector<std::wstring> groupSids;
  DWORD nameResult = 0;
};

struct SessionAnswer {
  HRESULT hr = S_OK;
  LONG result = 0;
  std::optional<UserRecord> user;  // only when the result's error part is 0
};

class UserDirectory {
 public:
  static constexpr LONG kErrorMask = 0x1FFFF;

  explicit UserDirectory(std::wstring stateKeyPath) : keyPath_(std::move(stateKeyPath)) {}

  std::optional<UserRecord> FindUser(const std::wstring& logonName) const;
  std::vector<std::wstring> UserNames() const;
  SessionAnswer LoggedOnUser(DWORD sessionId) const;
  // Adds or changes a user, as the account manager does.
  void StoreUser(const std::wstring& logonName, DWORD startup) const;

 private:
  const std::wstring keyPath_;
};

}  // namespace ZelStandIns
