// Helpers for tests of the handler classes: handlers made through the library's own class
// objects, the module's logging thread pointed at a test logger, and processes to name in events.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

#include <wrl/client.h>

#include "EventHandlerTestSupport.h"
#include "KyGSEvents.h"
#include "ObjectMap.h"
#include "ZELEventHandlerModule.h"
#include "ZelEventHandler.h"

namespace ZelTest {

// A handler created through its class's IClassFactory, as the service creates it; null on failure.
template <typename Interface>
Microsoft::WRL::ComPtr<Interface> CreateHandler(REFCLSID clsid) {
  Microsoft::WRL::ComPtr<IClassFactory> factory;
  Microsoft::WRL::ComPtr<Interface> handler;
  if (SUCCEEDED(GetEventHandlerClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()))))
    factory->CreateInstance(nullptr, __uuidof(Interface), reinterpret_cast<void**>(handler.GetAddressOf()));
  return handler;
}

// The library's module logs through a test logger of the test's own; the apartment is the
// service's, the multithreaded one.
class HandlerTest : public ::testing::Test {
 protected:
  HandlerTest() {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    LoggingThreadSettings settings;
    settings.loggerClass = logger_.Clsid();
    g_module.SetLoggingThreadSettings(settings);
  }
  ~HandlerTest() override { ::CoUninitialize(); }

  static std::wstring OwnSession() {
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    return std::to_wstring(session);
  }
  static std::wstring LogEvent(long type, const std::wstring& webPage, const std::wstring& content,
                               const std::wstring& session) {
    return L"LogEvent|" + std::to_wstring(type) + L"|" + webPage + L"|" + content + L"|" + session;
  }

  LogRecorder& log_ = LogRecorder::Install();
  RegisteredTestLogger logger_;
};

// The id of a process that has run and ended and can no longer be opened (the system may hold an
// ended process for a moment); 0 when there is none.
inline DWORD ExitedProcessId() {
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"cmd.exe /c exit 0";
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &process))
    return 0;
  ::WaitForSingleObject(process.hProcess, 30000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  for (int attempt = 0; attempt < 100; ++attempt) {
    Strata::UniqueHandle stillThere(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.dwProcessId));
    if (!stillThere) return process.dwProcessId;
    ::Sleep(50);
  }
  return 0;
}

// A program whose image path carries the product's own web-client mark, kept running for a test.
class RunningOwnClient {
 public:
  RunningOwnClient() {
    STARTUPINFOW startup{sizeof(startup)};
    std::wstring commandLine = L"\"" + SiblingPath(L"RQAPITestClient.exe") + L"\"";
    ::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                     &process_);
    ::CloseHandle(process_.hThread);
  }
  ~RunningOwnClient() {
    ::TerminateProcess(process_.hProcess, 0);
    ::WaitForSingleObject(process_.hProcess, 10000);
    ::CloseHandle(process_.hProcess);
  }
  RunningOwnClient(const RunningOwnClient&) = delete;
  RunningOwnClient& operator=(const RunningOwnClient&) = delete;
  DWORD ProcessId() const { return process_.dwProcessId; }

 private:
  PROCESS_INFORMATION process_{};
};

}  // namespace ZelTest
