// What the account manager stand-in was asked: one numbered entry per call under
// <state key>\AccountCalls, value "Call" holding the method and its arguments as text, e.g.
// CreateUser("Jamie", 1, 2). Texts are quoted, a null text is (null), a byte buffer is hex in
// brackets.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ZelStandIns {

class AccountCallLog {
 public:
  explicit AccountCallLog(std::wstring stateKeyPath) : keyPath_(std::move(stateKeyPath)) {}

  void Record(const std::wstring& call) const;
  std::vector<std::wstring> ReadAll() const;

  static std::wstring Quoted(const wchar_t* text);
  static std::wstring Hex(const BYTE* bytes, ULONG count);

 private:
  const std::wstring keyPath_;
};

}  // namespace ZelStandIns
