// The bridge library as scripts/prefix installs it, in a fresh prefix of its own: service events
// raised by the event-source stand-in, logger calls from this process and from a JScript run by
// cscript, all stored by the out-of-process report-log stand-in exactly as the same records built
// here; the report-log server killed between two events; the viewer printing what was stored.
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <fstream>
#include <string>
#include <vector>

#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyLogInfoEvent.h"
#include "KyLogInfoInetTimeLimit.h"
#include "KyLogInfoKinds.h"
#include "ReportLogStore.h"
#include "ServiceStore.h"
#include "StandInKnobs.h"
#include "TarnRecordContext.h"
#include "TestSupport.h"
#include "ZelTARN.h"

namespace {

using Microsoft::WRL::ComPtr;
using ZelStandIns::StoredRecord;

const std::wstring kPlatform = L"C:\\Program Files\\Common Files\\Varant\\Platform\\";
const std::wstring kProduct = L"C:\\Program Files\\Varant\\ZEL\\";
constexpr wchar_t kChild[] = L"Kid";

void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::vector<StoredRecord> StoredRecords() {
  return ZelStandIns::ReportLogStore(ZelStandIns::StandInKnobs::KeyPath(L"ReportLog")).ReadAll();
}

std::wstring Text(const wchar_t* text) { return text ? text : L"(null)"; }
std::wstring Text(const std::optional<std::wstring>& text) { return text ? *text : L"(null)"; }

// The stored record carries exactly what the record built here holds.
void ExpectStoredAs(const StoredRecord& stored, const CKyLogInfo& expected) {
  const tagKYLOG_INFO& info = expected.Info();
  EXPECT_EQ(Text(stored.category), Text(info.pwszLogCategoryID));
  EXPECT_EQ(stored.detailsTemplateId, info.dwDetailsTemplateID);
  ASSERT_EQ(stored.fields.size(), info.dwFieldCount);
  for (DWORD i = 0; i < info.dwFieldCount; ++i) {
    EXPECT_EQ(stored.fields[i].id, info.pFields[i].dwFieldID);
    EXPECT_EQ(Text(stored.fields[i].data), Text(info.pFields[i].pwszData)) << "field " << info.pFields[i].dwFieldID;
  }
  ASSERT_EQ(stored.details.size(), info.dwDetailsDataCount);
  for (DWORD i = 0; i < info.dwDetailsDataCount; ++i) {
    EXPECT_EQ(Text(stored.details[i].token), Text(info.pDetailsData[i].pwszToken));
    EXPECT_EQ(Text(stored.details[i].value), Text(info.pDetailsData[i].pwszValue));
  }
}

std::wstring UserField(const StoredRecord& record) {
  for (const auto& field : record.fields)
    if (field.id == 601) return Text(field.data);
  return L"(none)";
}

// Ends every process of this prefix running `image`, by id.
void EndProcesses(const wchar_t* image) {
  Strata::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {sizeof(entry)};
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, image) != 0) continue;
    Strata::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process) continue;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
}

BSTR Bstr(const wchar_t* text) { return ::SysAllocString(text); }

class InstalledBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (ZelStandIns::StandInKnobs::KeyPath(L"ReportLog") + L"\\Records").c_str());
    const std::wstring users = ZelStandIns::StandInKnobs::KeyPath(L"UserManager");
    SetText(users + L"\\Users\\" + kChild, L"DisplayName", kChild);
    SetText(users + L"\\Sessions\\1", L"User", kChild);
  }
  void TearDown() override { ::CoUninitialize(); }

  ComPtr<IZelLogger> CreateLogger() {
    ComPtr<IZelLogger> logger;
    EXPECT_EQ(Ky::CreateInstanceViaFactory(CLSID_ZelLogger, CLSCTX_INPROC_SERVER, IID_IZelLogger, &logger), S_OK);
    return logger;
  }

  HRESULT LogEvent(IZelLogger* logger, LONG type, const wchar_t* page, const wchar_t* content) {
    Strata::UniqueBstr pageText(Bstr(page));
    Strata::UniqueBstr contentText(Bstr(content));
    LONG result = -1;
    HRESULT hr = logger->LogEvent(&type, pageText.get(), contentText.get(), 1, &result);
    EXPECT_EQ(result & 0x1FFFF, 0);
    return hr;
  }

  // Records as this process builds them, with the same user helper and texts as the library.
  CTarnUserHelper users_;
  CTarnRecordContext context_{users_};
};

TEST_F(InstalledBridge, LoggedEventsAreStoredOutOfProcessExactlyAsBuilt) {
  ComPtr<IZelLogger> logger = CreateLogger();
  ASSERT_TRUE(logger);
  struct Event {
    LONG type;
    const wchar_t* page;
    const wchar_t* content;
  };
  const Event events[] = {{3, L"http://example.test/chat", L"badword"},
                          {1, L"http://example.test/late", L""},
                          {0, L"http://blocked.test/", L""},
                          {4, L"http://images.test/a.jpg", L""},
                          {5, L"http://visited.test/", L""},
                          {2, L"http://forms.test/", L"phone number"}};
  for (const Event& event : events) EXPECT_EQ(LogEvent(logger.Get(), event.type, event.page, event.content), S_OK);

  std::vector<StoredRecord> stored = StoredRecords();
  ASSERT_EQ(stored.size(), std::size(events));
  for (size_t i = 0; i < stored.size(); ++i) {
    SCOPED_TRACE(events[i].type);
    EXPECT_EQ(UserField(stored[i]), kChild);
    if (events[i].type == 2) {
      ExpectStoredAs(stored[i], CKyLogInfoPIEvent(context_, 2, events[i].page, events[i].content, 1));
    } else {
      ExpectStoredAs(stored[i], CKyLogInfoWebEvent(context_, events[i].type, events[i].page, events[i].content, 1));
    }
  }
  // The texts came from the product resource library.
  EXPECT_FALSE(Text(stored[0].fields[1].data).empty());
  EXPECT_NE(Text(stored[0].fields[1].data), L"(null)");
}

TEST_F(InstalledBridge, ServiceEventsReachTheReportLogThroughTheEventHandlers) {
  const std::wstring pid = L" pid=" + std::to_wstring(::GetCurrentProcessId());
  std::string output;
  DWORD exitCode = ZelTest::RunProcess(
      L"\"" + kProduct + L"GSEventSource.exe\" KeywordBlocked" + pid + L" content=0 pattern=badword url=http://web.test/" +
          L" + KeywordBlocked" + pid + L" content=1 pattern=rude url=http://chat.test/" +
          L" + AccessDenied" + pid + L" content=0 reason=1 url=http://late.test/" +
          L" + AccessDenied" + pid + L" content=0 reason=3 url=http://blocked.test/" +
          L" + ImageBlocked" + pid + L" content=0 url=http://images.test/a.jpg rating=5" +
          L" + UrlVisited" + pid + L" domain=visited.test path=/home",
      &output);
  EXPECT_EQ(exitCode, 0u) << output;

  // What the handlers pass on: the keyword's page is the URL for the web and a label for chat.
  const std::wstring chatLabel = context_.ProductString(6017);
  struct Expected {
    long type;
    std::wstring page;
    std::wstring content;
  };
  const Expected expected[] = {{3, L"http://web.test/", L"badword"}, {3, chatLabel, L"rude"},
                               {1, L"http://late.test/", L""},      {0, L"http://blocked.test/", L""},
                               {4, L"http://images.test/a.jpg", L""}, {5, L"visited.test", L""}};
  std::vector<StoredRecord> stored = StoredRecords();
  ASSERT_EQ(stored.size(), std::size(expected)) << output;
  for (size_t i = 0; i < stored.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(UserField(stored[i]), kChild);
    ExpectStoredAs(stored[i], CKyLogInfoWebEvent(context_, expected[i].type, expected[i].page, expected[i].content, 1));
  }
  EXPECT_FALSE(chatLabel.empty());
}

TEST_F(InstalledBridge, ScriptDrivesTheLoggerThroughTheScriptHost) {
  ZelTest::TempFolder folder;
  const std::wstring script = folder.Path() + L"\\logger.js";
  std::ofstream(std::string(script.begin(), script.end())) << R"(
try {
  var host = new ActiveXObject("ZelStandIns.ScriptHost");
  var logger = host.Create("ZelTARN.ZelLogger");
  var results = [
    logger.LogInetTimeLimit("Robin", ["Mon", "Tue", "Wed"], ["8:00", "9:00", "10:00"], ["17:00", "18:00", "19:00"]),
    logger.LogInetTimeLimit("Robin", undefined, undefined, undefined),
    logger.LogKeyword("teen", "badword"),
    logger.LogWebsite(1, 0, "http://allowed.test/"),
    logger.LogBlockingFeature(1, 205),
    logger.LogPersonalInfo(1, "phone"),
    logger.LogInfoUser(1, "Robin", "Parent")];
  logger = null;
  host = null;
  CollectGarbage();
  for (var i = 0; i < results.length; ++i) if (results[i] != 0) WScript.Quit(10 + i);
  WScript.Quit(0);
} catch (e) {
  WScript.Echo(e.number);
  WScript.Quit(1);
}
)";
  std::string output;
  ASSERT_EQ(ZelTest::RunProcess(L"cscript.exe //nologo \"" + script + L"\"", &output), 0u) << output;

  std::vector<StoredRecord> stored = StoredRecords();
  ASSERT_EQ(stored.size(), 7u);
  auto list = [](std::initializer_list<const wchar_t*> items) {
    VariantList values;
    for (const wchar_t* item : items) {
      VARIANT text;
      V_VT(&text) = VT_BSTR;
      V_BSTR(&text) = Bstr(item);
      values.emplace_back().CopyFrom(text);
      ::VariantClear(&text);
    }
    return values;
  };
  ExpectStoredAs(stored[0], CKyLogInfoInetTimeLimit(context_, L"Robin", list({L"Mon", L"Tue", L"Wed"}),
                                                    list({L"8:00", L"9:00", L"10:00"}),
                                                    list({L"17:00", L"18:00", L"19:00"})));
  ExpectStoredAs(stored[1], CKyLogInfoInetTimeLimit(context_, L"Robin", {}, {}, {}));
  ExpectStoredAs(stored[2], CKyLogInfoKeyword(context_, L"teen", L"badword"));
  ExpectStoredAs(stored[3], CKyLogInfoWebsite(context_, 1, 0, L"http://allowed.test/"));
  ExpectStoredAs(stored[4], CKyLogInfoBlockingFeature(context_, CKyLogInfoBlockingFeature::kCategory,
                                                      CKyLogInfoBlockingFeature::kTemplateId, 1, 205));
  ExpectStoredAs(stored[5], CKyLogInfoPersonalInfo(context_, 1, L"phone"));
  ExpectStoredAs(stored[6], CKyLogInfoUser(context_, 1, L"Robin", L"Parent"));
}

// The platform and the service call the product from processes of their own: a new platform user
// becomes a service user and a report entry naming who was signed on, the service's sign-in
// request signs the session's platform user in, and a deleted platform user goes with an entry too.
TEST_F(InstalledBridge, PlatformAndServiceEventsKeepUsersInStepAndReachTheReportLog) {
  const std::wstring userEvents = L"\"" + kPlatform + L"KyUserEventSource.exe\" ";
  std::string output;
  ASSERT_EQ(ZelTest::RunProcess(userEvents + L"2 Newcomer", &output), 0u) << output;
  ZelService::ServiceStore service;
  EXPECT_TRUE(service.FindUserByName(L"Newcomer"));

  // The session's user logs on to the platform only after the service asked twice.
  const DWORD notYet = 2;
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (ZelStandIns::StandInKnobs::KeyPath(L"UserManager") + L"\\Sessions\\1").c_str(),
                    L"NotLoggedOnTimes", REG_DWORD, &notYet, sizeof(notYet));
  ASSERT_EQ(ZelTest::RunProcess(L"\"" + kProduct + L"GSEventSource.exe\" SignInRequired session=1", &output), 0u)
      << output;
  EXPECT_EQ(service.SessionUser(1), std::optional<std::wstring>(kChild));

  ASSERT_EQ(ZelTest::RunProcess(userEvents + L"3 Newcomer", &output), 0u) << output;
  EXPECT_FALSE(service.FindUserByName(L"Newcomer"));

  std::vector<StoredRecord> stored = StoredRecords();
  ASSERT_EQ(stored.size(), 2u);
  ExpectStoredAs(stored[0], CKyLogInfoUser(context_, 1, L"Newcomer", kChild));
  ExpectStoredAs(stored[1], CKyLogInfoUser(context_, 0, L"Newcomer", kChild));
  std::string printed;
  ASSERT_EQ(ZelTest::RunProcess(L"\"" + kPlatform + L"KyReportLogViewer.exe\"", &printed), 0u);
  EXPECT_NE(printed.find("Newcomer"), std::string::npos) << printed;
}

// Last: it ends the prefix's COM service process.
TEST_F(InstalledBridge, KilledReportLogServerIsStartedAgainAndNothingIsLost) {
  ComPtr<IZelLogger> logger = CreateLogger();
  ASSERT_TRUE(logger);
  ASSERT_EQ(LogEvent(logger.Get(), 3, L"http://first.test/", L"one"), S_OK);

  EndProcesses(L"KyReportLogServer.exe");
  // Wine's COM service would otherwise keep the dead server's registration.
  EndProcesses(L"rpcss.exe");

  ASSERT_EQ(LogEvent(logger.Get(), 3, L"http://second.test/", L"two"), S_OK);
  std::vector<StoredRecord> stored = StoredRecords();
  ASSERT_EQ(stored.size(), 2u);
  ExpectStoredAs(stored[1], CKyLogInfoWebEvent(context_, 3, L"http://second.test/", L"two", 1));

  std::string printed;
  ASSERT_EQ(ZelTest::RunProcess(L"\"" + kPlatform + L"KyReportLogViewer.exe\"", &printed), 0u);
  EXPECT_NE(printed.find("second.test"), std::string::npos) << printed;
}

}  // namespace
