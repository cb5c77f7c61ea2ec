// KyAlert.exe installed and registered by scripts/prefix, driven from this process as a product
// client would: registration switches, COM starting the server on demand, and the server ending
// when its clients and alerts are done, or when no client ever came.
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <wrl/client.h>

#include "AlerterTestSupport.h"
#include "Handles.h"
#include "KyAlert.h"
#include "ProcessFigures.h"
#include "TestSupport.h"

namespace {

using AlerterTest::Text;
using AlerterTest::WaitUntil;
using Microsoft::WRL::ComPtr;

constexpr wchar_t kServer[] = L"C:\\Program Files\\Varant\\ZEL\\KyAlert.exe";
constexpr wchar_t kServerName[] = L"KyAlert.exe";
constexpr wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{E9915456-A831-4B82-AFE3-30E7F45F9483}";
constexpr DWORD kServerEndMs = 30000;

bool KeyExists(HKEY root, const std::wstring& path) {
  Strata::UniqueHkey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path, const wchar_t* name) {
  wchar_t value[1024];
  DWORD bytes = sizeof(value);
  if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(value);
}

size_t RunningServers() {
  Strata::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  size_t found = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, kServerName) == 0) ++found;
  }
  return found;
}

// The running server, opened to learn how it ends.
Strata::UniqueHandle OpenServer() {
  Strata::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, kServerName) == 0)
      return Strata::UniqueHandle(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                                entry.th32ProcessID));
  }
  return Strata::UniqueHandle();
}

// How the server ended; ~0 when it did not end in time.
DWORD ExitCodeOf(const Strata::UniqueHandle& server, DWORD timeoutMs = kServerEndMs) {
  DWORD code = ~0u;
  if (::WaitForSingleObject(server.get(), timeoutMs) == WAIT_OBJECT_0) ::GetExitCodeProcess(server.get(), &code);
  return code;
}

// How often `text` occurs in the alerter's diagnostic log files (UTF-16).
size_t CountInAlerterLog(const std::wstring& text) {
  const std::wstring folder = L"C:\\ProgramData\\Varant\\KYLOGS\\KyAlert\\KyAlert\\";
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + L"KyAlert*.log").c_str(), &found);
  size_t count = 0;
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &found)) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    Strata::UniqueFile file(::CreateFileW((folder + found.cFileName).c_str(), GENERIC_READ, kShareAll, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size)) continue;
    std::wstring content(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ::ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size() * sizeof(wchar_t)), &read, nullptr);
    for (size_t at = content.find(text); at != std::wstring::npos; at = content.find(text, at + 1)) ++count;
  }
  if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
  return count;
}

// The committed private regions of a process's address space, added up (the memory counters
// answer 0 for them under Wine); 0 when the system will not say.
size_t PrivateBytesOf(const Strata::UniqueHandle& process) {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const BYTE* at = nullptr; ::VirtualQueryEx(process.get(), at, &region, sizeof(region)) == sizeof(region);
       at = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
  }
  return total;
}

// Leaves the alert library stand-in working again, however the test ends.
class WorkingLibraryAtEnd {
 public:
  explicit WorkingLibraryAtEnd(const AlerterTest::StandInAlerts& alerts) : alerts_(alerts) {}
  ~WorkingLibraryAtEnd() {
    alerts_.SetKnob(L"ShowResult", 0);
    alerts_.SetKnob(L"CompleteInShow", 0);
  }
  WorkingLibraryAtEnd(const WorkingLibraryAtEnd&) = delete;
  WorkingLibraryAtEnd& operator=(const WorkingLibraryAtEnd&) = delete;

 private:
  const AlerterTest::StandInAlerts& alerts_;
};

DWORD RunServer(const wchar_t* arguments) {
  return ZelTest::RunProcess(L"\"" + std::wstring(kServer) + L"\" " + arguments);
}

class AlerterServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_TRUE(WaitUntil([] { return RunningServers() == 0; }, kServerEndMs));
    alerts_.Clear();
  }
  void TearDown() override { ::CoUninitialize(); }

  HRESULT Show(IAlert* alert, const std::wstring& title, bool noRepeat) {
    Text language(L"en-US"), text(title.c_str()), content(L"Content"), app(L"ZEL"), type(L"ServerTest");
    return alert->ShowSimpleAlert(language, text, content, nullptr, app, type, 1, 1, 30,
                                  noRepeat ? VARIANT_TRUE : VARIANT_FALSE, VARIANT_FALSE);
  }
  std::optional<DWORD> AlertTitled(const std::wstring& title) const {
    for (DWORD handle : alerts_.Handles()) {
      if (alerts_.ReadText(handle, L"Title") == title) return handle;
    }
    return std::nullopt;
  }

  // The product's user interface as its installer registers it: in the product's folder, quoted.
  static void RegisterUserInterface() {
    const std::wstring program = L"C:\\Program Files\\Varant\\ZEL\\ZelUi.exe";
    ASSERT_TRUE(::CopyFileW(ZelTest::SiblingPath(L"ZelUi.exe").c_str(), program.c_str(), FALSE));
    const std::wstring value = L"\"" + program + L"\"";
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                                L"Software\\Classes\\CLSID\\{E0EC0F2B-773D-4dd7-BE6C-7D85D6AA6269}\\LocalServer32",
                                nullptr, REG_SZ, value.c_str(), bytes),
              ERROR_SUCCESS);
  }
  static std::optional<std::wstring> UserInterfaceStartedWith() {
    return ReadText(HKEY_LOCAL_MACHINE, L"Software\\ZelStandIns\\ProductUi", L"CommandLine");
  }

  AlerterTest::StandInAlerts alerts_{L"Software\\ZelStandIns\\KyPltAlt"};
};

TEST_F(AlerterServer, IsRegisteredToRunAsTheInteractiveUser) {
  // Quoted: the folder has a blank, and COM would try "C:\Program.exe" first for an unquoted path.
  const std::wstring quoted = L"\"" + std::wstring(kServer) + L"\"";
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, std::wstring(kClassKey) + L"\\LocalServer32", nullptr), quoted);
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, kClassKey, nullptr), L"Alert Class");
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, std::wstring(kClassKey) + L"\\ProgID", nullptr), L"Alerter.Alert.1");
  const std::optional<std::wstring> appId = ReadText(HKEY_LOCAL_MACHINE, kClassKey, L"AppID");
  ASSERT_TRUE(appId.has_value());
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\AppID\\" + *appId, L"RunAs"), L"Interactive User");
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\AppID\\KyAlert.EXE", L"AppID"), appId);
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Alerter.Alert", L"CurVer"), std::nullopt);
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Alerter.Alert\\CurVer", nullptr), L"Alerter.Alert.1");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                        L"Software\\Classes\\TypeLib\\{73ACA19B-8955-4CF1-88CF-D18B1E74BB4E}\\1.0"));
}

TEST_F(AlerterServer, EverySpellingOfTheSwitchesRegistersAndRemoves) {
  struct Case {
    const wchar_t* remove;
    const wchar_t* add;
    HKEY root;
  };
  const Case cases[] = {{L"-unregserver", L"/RegServer", HKEY_LOCAL_MACHINE},
                        {L"/UNREGSERVER", L"-regserver", HKEY_LOCAL_MACHINE},
                        {L"-UnregServer", L"/REGSERVER", HKEY_LOCAL_MACHINE}};
  for (const Case& c : cases) {
    const std::string name(c.remove, c.remove + wcslen(c.remove));
    EXPECT_EQ(RunServer(c.remove), 0u) << name;
    EXPECT_FALSE(KeyExists(c.root, kClassKey)) << name;
    EXPECT_TRUE(KeyExists(c.root, L"Software\\Classes\\AppID")) << name;
    EXPECT_EQ(RunServer(c.add), 0u) << name;
    EXPECT_TRUE(KeyExists(c.root, std::wstring(kClassKey) + L"\\LocalServer32")) << name;
  }
  EXPECT_EQ(RunServer(L"/RegServerPerUser"), 0u);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, std::wstring(kClassKey) + L"\\LocalServer32", nullptr),
            L"\"" + std::wstring(kServer) + L"\"");
  EXPECT_EQ(RunServer(L"-unregserverperuser"), 0u);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kClassKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kClassKey) + L"\\LocalServer32"));
}

TEST_F(AlerterServer, StartsOnDemandAndEndsAfterTheLastRelease) {
  Strata::UniqueHandle server;
  {
    ComPtr<IAlert> alert;
    ASSERT_EQ(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &alert), S_OK);
    EXPECT_EQ(RunningServers(), 1u);
    server = OpenServer();
    ASSERT_TRUE(server);
    EXPECT_EQ(Show(alert.Get(), L"On demand", false), S_OK);
    EXPECT_TRUE(AlertTitled(L"On demand").has_value());
    ComPtr<IAlert> second;
    ASSERT_EQ(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &second), S_OK);
    EXPECT_EQ(RunningServers(), 1u);
    // Through IDispatch, as script clients call.
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(second.As(&dispatch), S_OK);
    LPOLESTR name = const_cast<LPOLESTR>(L"ShowSimpleAlert");
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);
  }
  // A client that comes back within the delay reaches the same server.
  {
    ComPtr<IAlert> returning;
    ASSERT_EQ(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &returning), S_OK);
    EXPECT_EQ(Show(returning.Get(), L"Returning", false), S_OK);
    EXPECT_EQ(RunningServers(), 1u);
    EXPECT_EQ(::WaitForSingleObject(server.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  }
  // It ends after the delay, not at the last release.
  EXPECT_EQ(::WaitForSingleObject(server.get(), 2000), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the server ended at its last release";
  EXPECT_EQ(ExitCodeOf(server), 0u);
}

TEST_F(AlerterServer, ADisplayedAlertKeepsTheServerUntilItEnds) {
  {
    ComPtr<IAlert> alert;
    ASSERT_EQ(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &alert), S_OK);
    EXPECT_EQ(Show(alert.Get(), L"Displayed", true), S_OK);
  }
  std::optional<DWORD> handle = AlertTitled(L"Displayed");
  ASSERT_TRUE(handle.has_value());
  ::Sleep(8000);
  EXPECT_EQ(RunningServers(), 1u);
  alerts_.Complete(*handle, 0, false);
  EXPECT_TRUE(WaitUntil([&] { return alerts_.ReadDword(*handle, L"Completed") == 1u; }));
  EXPECT_TRUE(WaitUntil([] { return RunningServers() == 0; }, kServerEndMs));
}

// Script clients reach the alerter through IDispatch from the embedded type library. A script run
// by the platform's signed program is served; one run by a host the publisher check refuses (Wine's
// unsigned cscript) shows nothing, and its server still ends cleanly.
TEST_F(AlerterServer, ScriptClientsAreServedOnlyFromAVerifiedProgram) {
  struct Case {
    const wchar_t* file;
    bool verifiedHost;
    const char* script;
    const wchar_t* title;
    DWORD buttons;
    DWORD chosen = 0;                 // the button the user chooses
    const wchar_t* launched = nullptr;  // the user interface's arguments it starts
  };
  const Case cases[] = {
      {L"simple.js", true,
       "try {\n"
       "  var alerter = WScript.CreateObject(\"Alerter.Alert\");\n"
       "  alerter.ShowSimpleAlert(\"en-US\", \"From JScript\", \"c\", \"\", \"ZEL\", \"Script\", 1, 1, 30, false, false);\n"
       "  alerter = null;\n  CollectGarbage();\n  WScript.Quit(0);\n"
       "} catch (e) { WScript.Quit(1); }\n",
       L"From JScript", 0},
      {L"buttons.js", true,
       "try {\n"
       "  var alerter = WScript.CreateObject(\"Alerter.Alert\");\n"
       "  alerter.ShowAlertWithActionsToLaunchUI(\"en-US\", \"JScript buttons\", \"c\", \"\", \"ZEL\", \"Script\", 1, 1, 30,\n"
       "      [[\"Open\", \"--tab 2\"], [\"Later\", \"\"], [\"Help\", \"--help\"]], false, false);\n"
       "  alerter = null;\n  CollectGarbage();\n  WScript.Quit(0);\n"
       "} catch (e) { WScript.Quit(1); }\n",
       L"JScript buttons", 3},
      {L"buttons.vbs", true,
       "Set alerter = WScript.CreateObject(\"Alerter.Alert\")\n"
       "alerter.ShowAlertWithActionsToLaunchUI \"en-US\", \"From VBScript\", \"c\", \"\", \"ZEL\", \"Script\", 1, 1, 30, "
       "Array(Array(\"Open\", \"--tab 2\"), Array(\"Later\", \"\")), False, False\n"
       "Set alerter = Nothing\nWScript.Quit 0\n",
       L"From VBScript", 2},
      // A variable arrives by reference.
      {L"variable.vbs", true,
       "Set a = WScript.CreateObject(\"Alerter.Alert\")\n"
       "btns = Array(Array(\"Open\", \"--open 1\"), Array(\"Settings\", \"--tab 2\"))\n"
       "a.ShowAlertWithActionsToLaunchUI \"en-US\", \"VBScript variable\", \"c\", \"\", \"ZEL\", \"Script\", 1, 1, 30, "
       "btns, True, False\n"
       "Set a = Nothing\nWScript.Quit 0\n",
       L"VBScript variable", 2, 1, L"--open 1"},
      {L"unverified.js", false,
       "var alerter = null;\n"
       "try { alerter = new ActiveXObject(\"Alerter.Alert\"); }\n"
       "catch (e) { WScript.Quit(6); }\n"
       "try {\n"
       "  alerter.ShowSimpleAlert(\"en-US\", \"From cscript\", \"c\", \"\", \"ZEL\", \"Script\", 1, 1, 30, false, false);\n"
       "  alerter = null;\n  CollectGarbage();\n  WScript.Quit(0);\n"
       "} catch (e) { alerter = null; CollectGarbage(); WScript.Quit(e.number == -2147024891 ? 5 : 1); }\n",
       L"From cscript", 0},
  };
  const std::wstring runner = ZelTest::SiblingPath(L"ZelScriptRun.exe");
  RegisterUserInterface();
  ZelTest::TempFolder folder;
  for (const Case& c : cases) {
    const std::string name(c.file, c.file + wcslen(c.file));
    // The script's own server, started for it and ended after it.
    Strata::UniqueHandle server;
    std::thread watcher([&] { WaitUntil([&] { return (server = OpenServer()).valid(); }); });
    const std::wstring path = folder / c.file;
    Strata::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), c.script, static_cast<DWORD>(strlen(c.script)), &written, nullptr));
    file.reset();
    const std::wstring host = c.verifiedHost ? L"\"" + runner + L"\"" : L"cscript.exe //nologo";
    // A refused script fails at the creation already (6; JScript reports its own error number for
    // any failed creation), not only at its first call (5, E_ACCESSDENIED).
    EXPECT_EQ(ZelTest::RunProcess(host + L" \"" + path + L"\""), c.verifiedHost ? 0u : 6u) << name;
    watcher.join();
    std::optional<DWORD> handle = AlertTitled(c.title);
    EXPECT_EQ(handle.has_value(), c.verifiedHost) << name;
    if (handle) {
      EXPECT_EQ(alerts_.ReadDword(*handle, L"ButtonCount"), c.buttons) << name;
      if (c.launched) {
        const std::vector<std::wstring> labels{L"1=Open", L"2=Settings"};
        EXPECT_EQ(alerts_.ReadTexts(*handle, L"Buttons"), labels) << name;
      }
      // An alert with buttons is displayed until the user answers it, and keeps the server until then.
      if (c.buttons) alerts_.Complete(*handle, c.chosen, false);
      if (c.launched) {
        EXPECT_TRUE(WaitUntil([&] { return UserInterfaceStartedWith() == c.launched; })) << name;
      }
    }
    // A script host ends without releasing everything it was handed; the server still ends cleanly.
    EXPECT_EQ(ExitCodeOf(server), 0u) << name;
  }
}

// Product processes raising alerts all at once: every call is served, every alert reaches the
// library, and the server is left holding the handles it held before.
TEST_F(AlerterServer, ManyClientProcessesLeaveTheServerAsTheyFoundIt) {
  constexpr int kClients = 8;
  const std::wstring client = ZelTest::SiblingPath(L"alert_client.exe");
  auto round = [&](int alertsEach, const std::wstring& tag) {
    std::vector<DWORD> codes(kClients, ~0u);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
      clients.emplace_back([&, i] {
        codes[i] = ZelTest::RunProcess(L"\"" + client + L"\" " + std::to_wstring(alertsEach) + L" " + tag +
                                           std::to_wstring(i),
                                       nullptr, 300000);
      });
    }
    for (std::thread& thread : clients) thread.join();
    return codes;
  };
  auto handlesOf = [](const Strata::UniqueHandle& process) { return ZelStandIns::HandleCountOf(::GetProcessId(process.get())); };
  const std::vector<DWORD> allServed(kClients, 0u);

  ComPtr<IAlert> first;  // keeps the server up from one round to the next
  ASSERT_EQ(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &first), S_OK);
  Strata::UniqueHandle server = OpenServer();
  ASSERT_TRUE(server);
  // The first round lets the server and COM reach their working set of threads and handles.
  EXPECT_EQ(round(5, L"Warm"), allServed);
  ::Sleep(2000);
  const size_t before = handlesOf(server);
  ASSERT_GT(before, 0u);  // a count the system really measured
  EXPECT_EQ(round(200, L"Load"), allServed);
  EXPECT_EQ(alerts_.Count(), static_cast<size_t>(kClients * (5 + 200)));
  // Threads that served the clients end a little after them.
  EXPECT_TRUE(WaitUntil([&] { return handlesOf(server) <= before; }, 20000))
      << "before " << before << ", after " << handlesOf(server);
  first.Reset();
  EXPECT_EQ(ExitCodeOf(server), 0u);
}

// While the alert library fails every show, a client's distinct alerts that may be retried wait in
// the retry list, each holding its request, up to the list's bound; the rest are refused with a
// quota error, which the log reports once for the burst. When the library works again the list
// drains and the server ends.
TEST_F(AlerterServer, TheRetryListOfAFailingLibraryStaysBounded) {
  const std::wstring client = ZelTest::SiblingPath(L"alert_client.exe");
  ASSERT_EQ(ZelTest::RunProcess(L"\"C:\\Program Files\\Varant\\ZEL\\KyLogCfg.exe\" mechanism file"), 0u);
  WorkingLibraryAtEnd restore(alerts_);
  alerts_.SetKnob(L"ShowResult", 5);
  std::string output;
  // The first thousand fill the list; the server stays up for them after the client has gone.
  EXPECT_EQ(ZelTest::RunProcess(L"\"" + client + L"\" 1000 Fill retry", &output, 300000), 0u);
  EXPECT_NE(output.find("queued 1000 refused 0"), std::string::npos) << output;
  Strata::UniqueHandle server = OpenServer();
  ASSERT_TRUE(server);
  const size_t full = PrivateBytesOf(server);
  ASSERT_GT(full, 0u);
  output.clear();
  EXPECT_EQ(ZelTest::RunProcess(L"\"" + client + L"\" 500 Past retry", &output, 300000), 0u);
  EXPECT_NE(output.find("queued 0 refused 500"), std::string::npos) << output;
  // Each alert carries 32 KB of texts: 500 more held would be 16 MB. The heap grows in steps of
  // about 3 MB under Wine whatever it holds, so two steps are allowed.
  const size_t after = PrivateBytesOf(server);
  EXPECT_LT(after, full + 6 * 1024 * 1024) << "private bytes " << full << " then " << after;
  // The library works again; each replay ends at once, as if the user closed it.
  alerts_.SetKnob(L"CompleteInShow", 1);
  alerts_.SetKnob(L"ShowResult", 0);
  EXPECT_EQ(ExitCodeOf(server, 180000), 0u);
  EXPECT_EQ(alerts_.Count(), 1000u);
  EXPECT_EQ(CountInAlerterLog(L"The retry list was full: 500 alerts were refused"), 1u);
}

TEST_F(AlerterServer, AServerNoClientUsesEndsByItself) {
  const ULONGLONG started = ::GetTickCount64();
  EXPECT_EQ(ZelTest::RunProcess(L"\"" + std::wstring(kServer) + L"\" -Embedding", nullptr, 60000), 0u);
  EXPECT_LT(::GetTickCount64() - started, 60000u);
}

}  // namespace
