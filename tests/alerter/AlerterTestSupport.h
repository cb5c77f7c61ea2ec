// What the alerter tests read from and send to the alert library stand-in, whose state lives under
// one registry key (the test process's own, or the stand-in's machine-wide key when the alerter
// runs in a server process), and a wait for conditions met on other threads or processes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace AlerterTest {

class StandInAlerts {
 public:
  explicit StandInAlerts(std::wstring keyPath) : keyPath_(std::move(keyPath)) {}

  // Handles of the recorded alerts, in order.
  std::vector<DWORD> Handles() const;
  size_t Count() const { return Handles().size(); }
  std::optional<DWORD> ReadDword(DWORD handle, const wchar_t* name) const;
  std::optional<std::wstring> ReadText(DWORD handle, const wchar_t* name) const;
  // A multi-text value ("Buttons"), one entry a text; empty when absent.
  std::vector<std::wstring> ReadTexts(DWORD handle, const wchar_t* name) const;
  // Ends alert `handle` the way a user's click would.
  void Complete(DWORD handle, DWORD button, bool doNotShowAgain) const;
  void SetKnob(const wchar_t* name, DWORD value) const;
  void Clear() const;

 private:
  std::wstring AlertPath(DWORD handle) const;
  const std::wstring keyPath_;
};

// Polls `condition` until it holds or `timeoutMs` passes; returns its last answer.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// A BSTR owned for the length of a call.
class Text {
 public:
  explicit Text(const wchar_t* text) : value_(text ? ::SysAllocString(text) : nullptr) {}
  ~Text() { ::SysFreeString(value_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

}  // namespace AlerterTest
