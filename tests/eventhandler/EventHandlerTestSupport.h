// Helpers for the event-handler tests: the test logger registered under a class id of the test's
// own (and the diagnostic log's recorder, LogRecorder.h).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "LogRecorder.h"
#include "TestLoggerLayout.h"
#include "TestSupport.h"

namespace ZelTest {

// The records of the test logger serving class `clsid`, in call order.
inline std::vector<std::wstring> TestLoggerCalls(REFCLSID clsid) {
  std::vector<std::wstring> calls;
  Strata::UniqueHkey key;
  const std::wstring path = TestLoggerKeyPath(clsid) + L"\\Calls";
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return calls;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16];
    swprintf(name, 16, L"%06lu", index);
    wchar_t value[1024];
    DWORD bytes = sizeof(value);
    if (::RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS) break;
    calls.push_back(value);
  }
  return calls;
}

// The test logger server registered under a fresh class id (in HKLM\Software\Classes: Wine's COM
// does not look in HKCU's); the registration and the logger's records go at destruction.
class RegisteredTestLogger {
 public:
  RegisteredTestLogger() {
    std::wstring text = L"{" + NewGuidText() + L"}";
    ::CLSIDFromString(text.c_str(), &clsid_);
    classKey_ = L"Software\\Classes\\CLSID\\" + text;
    Strata::UniqueHkey server;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (classKey_ + L"\\InprocServer32").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, server.put(), nullptr);
    SetText(server.get(), nullptr, SiblingPath(kTestLoggerDll));
    SetText(server.get(), L"ThreadingModel", L"Both");
    ::RegCreateKeyExW(HKEY_CURRENT_USER, TestLoggerKeyPath(clsid_).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      orders_.put(), nullptr);
  }
  ~RegisteredTestLogger() {
    orders_.reset();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey_.c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, classKey_.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, TestLoggerKeyPath(clsid_).c_str());
  }
  RegisteredTestLogger(const RegisteredTestLogger&) = delete;
  RegisteredTestLogger& operator=(const RegisteredTestLogger&) = delete;

  REFCLSID Clsid() const { return clsid_; }

  // One order per call, in call order (see TestLoggerLayout.h).
  void SetAnswers(const std::vector<std::wstring>& answers) {
    std::wstring texts;
    for (const std::wstring& answer : answers) texts += answer + L'\0';
    texts += L'\0';
    ::RegSetValueExW(orders_.get(), L"Answers", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(texts.data()),
                     static_cast<DWORD>(texts.size() * sizeof(wchar_t)));
  }
  void FailCreations(DWORD count) {
    ::RegSetValueExW(orders_.get(), L"FailCreations", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                     sizeof(count));
  }

  std::vector<std::wstring> Calls() const { return TestLoggerCalls(clsid_); }
  DWORD Created() const { return ReadDword(L"Created"); }
  DWORD Released() const { return ReadDword(L"Released"); }

 private:
  static void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  DWORD ReadDword(const wchar_t* name) const {
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    ::RegGetValueW(orders_.get(), nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes);
    return value;
  }

  CLSID clsid_{};
  std::wstring classKey_;
  Strata::UniqueHkey orders_;
};

}  // namespace ZelTest
