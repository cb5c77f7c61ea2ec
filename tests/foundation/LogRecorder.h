// A recorder in place of the process's diagnostic log, for tests that check what a library wrote.
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LogInstance.h"

namespace ZelTest {

struct LogLine {
  DWORD level;
  std::wstring function;
  std::wstring text;
};

// A logger that keeps nothing and answers as a ready one with every level enabled; a test's logger
// overrides what it watches. `Interface` chooses the plain or the extended logger interface.
template <typename Interface>
class InertLogger : public Interface {
 public:
  DWORD Initialize(const wchar_t*, const wchar_t*, const wchar_t*, ETWLogging::LoggingConfigListenerIf*) override {
    return 0;
  }
  DWORD EnsureReady() override { return 0; }
  DWORD GetModuleLogName(std::wstring*) override { return 0; }
  DWORD GetGroupName(std::wstring*) override { return 0; }
  DWORD Uninitialize() override { return 0; }
  void SetEnabled(bool) override {}
  bool IsEnabled() const override { return true; }
  DWORD LogFormat(DWORD, const wchar_t*, const wchar_t*, int, const wchar_t*, ...) override { return 0; }
  DWORD LogText(const wchar_t*, const wchar_t*, int, DWORD, const wchar_t*) override { return 0; }
  bool IsLevelEnabled(DWORD) const override { return true; }
  void SetMaxEntries(DWORD) override {}
  DWORD GetMaxEntries() const override { return 0; }
  void SetMaxSize(DWORD) override {}
  DWORD GetMaxSize() const override { return 0; }
  void SetSeverity(DWORD) override {}
  DWORD GetSeverity() const override { return 1; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 0; }
};

// Takes the place of the process's diagnostic logger and keeps every line, from any thread.
class LogRecorder : public InertLogger<ETWLogging::CLoggingIf> {
 public:
  // Installs a recorder into the process's log instance, which owns it from then on.
  static LogRecorder& Install() {
    auto* recorder = new LogRecorder();
    GetLogInstance()->SetLogger(std::unique_ptr<ETWLogging::CLoggingIf>(recorder));
    return *recorder;
  }

  std::vector<LogLine> Lines() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
  }
  // How many lines carry exactly this text.
  size_t Count(const std::wstring& text) const {
    std::vector<LogLine> lines = Lines();
    return std::count_if(lines.begin(), lines.end(), [&](const LogLine& line) { return line.text == text; });
  }
  const LogLine* Find(const std::wstring& text) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const LogLine& line : lines_)
      if (line.text == text) return &line;
    return nullptr;
  }

  DWORD LogText(const wchar_t*, const wchar_t* function, int, DWORD level, const wchar_t* text) override {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.push_back({level, function, text});
    return 0;
  }

 private:
  mutable std::mutex lock_;
  std::vector<LogLine> lines_;
};

}  // namespace ZelTest
