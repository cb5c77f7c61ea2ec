// The per-process knob key of a stand-in,
// HKEY_LOCAL_MACHINE\Software\ZelStandIns\<stand-in>\Processes\<this process id>: created
// empty, deleted with its values at destruction. Each test case runs as its own process, so
// cases running side by side never share one.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace ZelTest {

class ProcessKnobs {
 public:
  explicit ProcessKnobs(const wchar_t* standIn);
  ~ProcessKnobs();
  ProcessKnobs(const ProcessKnobs&) = delete;
  ProcessKnobs& operator=(const ProcessKnobs&) = delete;

  bool Created() const { return created_; }
  void SetDword(const wchar_t* name, DWORD value) const;
  std::optional<DWORD> ReadDword(const wchar_t* name) const;

  // The path below HKEY_LOCAL_MACHINE of subkey `below` of the key, where a stand-in keeps state
  // of its own (users, sessions); values are written there with the registry's answer, the subkey
  // made on need.
  std::wstring Path(const std::wstring& below) const;
  LSTATUS SetText(const std::wstring& below, const wchar_t* name, const std::wstring& text) const;
  LSTATUS SetDword(const std::wstring& below, const wchar_t* name, DWORD value) const;

 private:
  std::wstring path_;
  bool created_;
};

}  // namespace ZelTest
