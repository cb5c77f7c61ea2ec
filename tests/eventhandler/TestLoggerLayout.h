// Where the test logger keeps its orders and its records: one key per class id, so that tests
// running side by side in one prefix each register a class of their own and never meet.
//
// HKCU\Software\ZelTests\TestLogger\{clsid}
//   FailCreations  REG_DWORD  creations still to refuse with E_FAIL (counted down)
//   Answers        REG_MULTI_SZ  one order per logger call, in call order; calls past the list
//                  answer "ok". Orders: "ok", "hang" (sleeps 15 s), "fault" (access violation),
//                  "result <hex>" (S_OK with that result code), "hr <hex>" (that HRESULT),
//                  "wait" (until the event kTestLoggerGo is set, 30 s at the most)
//   Created, Released  REG_DWORD  logger objects made and destroyed
//   Calls\NNNNNN   REG_SZ  one record per call, in call order:
//                  "LogEvent|<type>|<web page>|<content>|<session>" or
//                  "LogInfoUser|<action>|<target>|<responsible>"; a null BSTR reads "(null)"
#pragma once

#include <windows.h>

#include <string>

namespace ZelTest {

constexpr wchar_t kTestLoggerGo[] = L"Local\\ZelTestLoggerGo";

constexpr wchar_t kTestLoggerRoot[] = L"Software\\ZelTests\\TestLogger";
constexpr wchar_t kTestLoggerDll[] = L"EventHandlerTestLogger.dll";

inline std::wstring TestLoggerKeyPath(REFCLSID clsid) {
  wchar_t text[64];
  ::StringFromGUID2(clsid, text, 64);
  return std::wstring(kTestLoggerRoot) + L"\\" + text;
}

}  // namespace ZelTest
