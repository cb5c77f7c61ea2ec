// The service's content events raised by the event-source stand-in in a process of its own, into
// the registered zelevh.dll, ending as logger calls on the test logger registered under the bridge
// logger's class id. The registrations are machine-wide: these tests run in a prefix of their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HandlerTestSupport.h"
#include "ZelTARN.h"

namespace {

using namespace ZelTest;
using Calls = std::vector<std::wstring>;

constexpr wchar_t kProductKey[] = L"Software\\Varant\\ZEL";

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring LoggerClassKey() {
  wchar_t text[40];
  ::StringFromGUID2(CLSID_ZelLogger, text, 40);
  return std::wstring(L"Software\\Classes\\CLSID\\") + text;
}

void SetText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  ::RegSetKeyValueW(root, path.c_str(), name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// zelevh.dll registered with the service stand-in, the product resource library found through
// "Install Dir" beside it, and the test logger serving the bridge logger's class.
class EventSourceTest : public ::testing::Test {
 protected:
  EventSourceTest() {
    RunProcess(L"regsvr32 /s " + Quoted(SiblingPath(L"zel.dll")));
    RunProcess(L"regsvr32 /s " + Quoted(SiblingPath(L"zelevh.dll")));
    SetText(HKEY_LOCAL_MACHINE, kProductKey, L"Install Dir", Folder(SiblingPath(L"ZelRes2.DLL")));
    SetText(HKEY_LOCAL_MACHINE, LoggerClassKey() + L"\\InprocServer32", nullptr, SiblingPath(kTestLoggerDll));
    SetText(HKEY_LOCAL_MACHINE, LoggerClassKey() + L"\\InprocServer32", L"ThreadingModel", L"Both");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, TestLoggerKeyPath(CLSID_ZelLogger).c_str());
  }
  ~EventSourceTest() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, LoggerClassKey().c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, LoggerClassKey().c_str());
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"Install Dir");
    RunProcess(L"regsvr32 /s /u " + Quoted(SiblingPath(L"zelevh.dll")));
    RunProcess(L"regsvr32 /s /u " + Quoted(SiblingPath(L"zel.dll")));
  }

  // Raises the events in order, "+"-separated as the stand-in takes them; its exit code.
  static DWORD Raise(const std::wstring& events) {
    std::string output;
    DWORD exitCode = RunProcess(Quoted(SiblingPath(L"GSEventSource.exe")) + L" " + events, &output);
    if (exitCode != 0) ADD_FAILURE() << output;
    return exitCode;
  }
  static Calls LoggerCalls() { return TestLoggerCalls(CLSID_ZelLogger); }
  static std::wstring LogEvent(long type, const std::wstring& webPage, const std::wstring& content,
                               const std::wstring& session = L"1") {
    return L"LogEvent|" + std::to_wstring(type) + L"|" + webPage + L"|" + content + L"|" + session;
  }

  const std::wstring self_ = std::to_wstring(::GetCurrentProcessId());
};

TEST_F(EventSourceTest, ContentEventsReachTheLoggerFilteredAndInOrder) {
  RunningOwnClient ownClient;
  const std::wstring client = std::to_wstring(ownClient.ProcessId());
  const std::wstring exited = std::to_wstring(ExitedProcessId());
  const std::wstring pid = L"pid=" + self_;
  ASSERT_EQ(Raise(L"AccessDenied " + pid + L" reason=2 url=http://not-allowed/"
                  L" + AccessDenied " + pid + L" reason=1 url=http://time/"
                  L" + AccessDenied " + pid + L" reason=6 url=http://category/"
                  L" + AccessDenied " + pid + L" reason=3 url=http://blocked/"
                  L" + ImageBlocked pid=" + exited + L" url=http://image/ rating=7"
                  L" + KeywordBlocked " + pid + L" content=0 pattern=web url=http://keyword/"
                  L" + KeywordBlocked " + pid + L" content=1 pattern=chat url=http://ignored/"
                  L" + KeywordBlocked " + pid + L" content=2 pattern=mail"
                  L" + KeywordBlocked " + pid + L" content=99 pattern=other url=http://ignored/"
                  L" + UrlVisited " + pid + L" domain=a.example path=/1"
                  L" + UrlVisited " + pid + L" domain=a.example path=/2"
                  L" + UrlVisited " + pid + L" domain=b.example path=/"
                  L" + UrlVisited " + pid + L" domain=a.example path=/3"
                  L" + UrlVisited pid=" + client + L" domain=api.zel.varant.com path=/"
                  L" + UrlVisited " + pid + L" domain=api.zel.varant.com path=/"
                  L" + SignIn + SignOut"),
            0u);
  EXPECT_EQ(LoggerCalls(), (Calls{
                               LogEvent(LogEvent_TimeLimit, L"http://time/", L""),
                               LogEvent(LogEvent_UrlBlocked, L"http://blocked/", L""),
                               LogEvent(LogEvent_ImageBlocked, L"http://image/", L"", L"4294967295"),
                               LogEvent(LogEvent_Keyword, L"http://keyword/", L"web"),
                               LogEvent(LogEvent_Keyword, L"a chat", L"chat"),
                               LogEvent(LogEvent_Keyword, L"an e-mail", L"mail"),
                               LogEvent(LogEvent_Keyword, L"", L"other"),
                               LogEvent(LogEvent_UrlVisited, L"a.example", L""),
                               LogEvent(LogEvent_UrlVisited, L"b.example", L""),
                               LogEvent(LogEvent_UrlVisited, L"a.example", L""),
                               LogEvent(LogEvent_UrlVisited, L"api.zel.varant.com", L""),
                           }));
}

}  // namespace
