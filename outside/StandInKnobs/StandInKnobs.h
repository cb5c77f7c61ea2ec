// The registry knobs through which tests steer a stand-in and read what it recorded.
//
// Each stand-in owns HKEY_LOCAL_MACHINE\Software\ZelStandIns\<stand-in>. A value there holds for
// every process; a value under its subkey "Processes\<decimal process id>" holds for that process
// only and wins. Tests running side by side in one prefix use the per-process subkey, so their
// settings never meet, and delete it when they are done.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace ZelStandIns {

class StandInKnobs {
 public:
  // `standIn` names the stand-in's own key, e.g. L"KyRtMui".
  explicit StandInKnobs(const wchar_t* standIn);

  // The DWORD knob `name`, from the per-process subkey first, else the stand-in's key; nothing
  // when neither holds a DWORD of that name.
  std::optional<DWORD> ReadDword(const wchar_t* name) const;

  // Adds one to the DWORD counter `name` in the per-process subkey, when that subkey exists: a
  // process no test is watching leaves no trace in the registry.
  void CountCall(const wchar_t* name) const;

  // "Software\ZelStandIns\<stand-in>" and its subkey for one process, below HKEY_LOCAL_MACHINE.
  static std::wstring KeyPath(const wchar_t* standIn);
  static std::wstring ProcessKeyPath(const wchar_t* standIn, DWORD processId);

 private:
  std::wstring keyPath_;
  std::wstring processKeyPath_;
};

}  // namespace ZelStandIns
