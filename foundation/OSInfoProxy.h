// Facts about the running Windows, gathered once, behind a seam that tests can replace.
#pragma once

#include <windows.h>

#include <memory>

#include "OnceFlag.h"

namespace Strata {

// The system's version-condition check; tests derive from it to answer conditions themselves.
class WinOSVersionAPI {
 public:
  virtual ~WinOSVersionAPI() = default;
  virtual BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask);

  // The process-wide instance that asks the system.
  static WinOSVersionAPI& System();
};

namespace internal {

// Cheap to copy: copies share one set of facts, gathered on the first query (thread-safe).
class OSInfoProxy {
 public:
  // Shares the process-wide facts of the running system.
  OSInfoProxy();
  // Gathers its own facts through `api`, which must outlive every copy of this proxy.
  explicit OSInfoProxy(WinOSVersionAPI& api);

  // Version numbers from the "ProductVersion" of the system's "kernel32.dll"; 0 when unreadable.
  // They are taken from the file because the version calls report an older Windows to programs
  // that do not declare themselves compatible with the newer one.
  DWORD MajorVersion() const;
  DWORD MinorVersion() const;
  DWORD BuildNumber() const;
  bool IsAtLeast(DWORD major, DWORD minor) const;

  bool IsWorkstation() const;
  bool IsServer() const { return !IsWorkstation(); }
  WORD ServicePackMajor() const;
  // A 32-bit process on 64-bit Windows.
  bool IsWow64() const;

 private:
  class Facts;
  std::shared_ptr<Facts> facts_;
  // The system's facts, shared by every proxy made without an API of its own.
  static std::shared_ptr<Facts> systemFacts_;
  static Strata::OnceFlag systemFactsMade_;
};

}  // namespace internal
}  // namespace Strata
