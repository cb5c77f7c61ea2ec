// The corpus through every method of the bridge's configuration object and logger and of the
// alerter, from JScript and VBScript run by the platform's signed script host stand-in, in a prefix
// with the system installed. Every call returns or is refused, the host never crashes, and what
// the calls stored is whole: a setting, record or alert holds a corpus string entirely or not at
// all, only calls that said they wrote a record left one, and no bad secret is taken for the right one.
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BoundedRun.h"
#include "Handles.h"
#include "KyAlert.h"
#include "ScriptCallGenerator.h"
#include "ServiceResults.h"
#include "ServiceStore.h"
#include "StandInKnobs.h"
#include "StoredTexts.h"
#include "TestSupport.h"

namespace {

using namespace BadInput;
using Microsoft::WRL::ComPtr;

constexpr DWORD kScriptTimeoutMs = 120000;
const std::wstring kReportLogRecords = ZelStandIns::StandInKnobs::KeyPath(L"ReportLog") + L"\\Records";
const std::wstring kAlerts = L"Software\\ZelStandIns\\KyPltAlt\\Alerts";
constexpr wchar_t kPluginKey[] = L"Software\\Varant\\KyProxy\\Plugins\\{08533142-6DAA-40C0-829F-098475E66646}";

const std::vector<ScriptMethod> kConfigMethods = {
    {"GetGlobalConfigsValue", {"7001", "r"}},
    {"SetGlobalConfigsValue", {"7001", "\"on\""}},
    {"GetTARNUserList", {}},
    {"GetCurrentTarnUserNameAndType", {"r", "r2", "r3"}},
    {"GetInstallDir", {}},
    {"GetSessionCurrentTarnUserNameAndType", {"1", "r"}},
    {"GetUserConfigValue", {"\"Kid\"", "7101"}},
    {"SetUserConfigValue", {"\"Kid\"", "7101", "\"a\""}},
    {"DoesUserExist", {"\"Kid\""}},
    {"SetUserConfigValues", {"\"Kid\"", "props", "vals", "2"}},
    {"GetResourceDir", {}},
    {"GetAdminSettingsConfigValue", {"7002", "r"}},
    {"SetAdminSettingsConfigValue", {"7002", "5"}},
    {"VerifyAdminPassword", {"\"s3cret\""}, Answer::kYes},
    {"IsAdminPasswordAbsent", {}, Answer::kYes},
    {"VerifyAdminSecurityAnswer", {"\"blue\""}, Answer::kYes},
    {"GetAgeGroupConfigsValue", {"3", "7301", "r"}},
    {"GetSupportedCategoryList", {}},
    {"IsUserProtected", {"\"Kid\""}, Answer::kYes},
    {"SetUserProtected", {"\"Kid\"", "false"}},
    {"RegisterZelPlugin", {}},
    {"IsZelPluginRegistered", {}},
    {"CreateNewZelUser", {"\"NewKid\""}},
};

const std::vector<ScriptMethod> kLoggerMethods = {
    {"LogInfoUser", {"1", "\"Kid\"", "\"Parent\""}, Answer::kDone},
    {"LogBlockingFeature", {"1", "2"}, Answer::kDone},
    {"LogWebsite", {"1", "0", "\"http://site.test/\""}, Answer::kDone},
    {"LogPersonalInfo", {"1", "\"phone\""}, Answer::kDone},
    {"LogKeyword", {"\"teen\"", "\"word\""}, Answer::kDone},
    {"LogEvent", {"3", "\"http://page.test/\"", "\"word\"", "1"}, Answer::kDone},
    {"LogInetTimeLimit", {"\"Kid\"", "vals", "vals", "vals"}, Answer::kDone},
};

std::vector<const char*> AlertArguments(std::vector<const char*> between, std::vector<const char*> after) {
  std::vector<const char*> arguments = {"\"en-US\"", "\"Bad input\"", "\"c\"", "\"\"", "\"ZEL\"", "\"BadInput\"",
                                        "1",         "1",             "30"};
  arguments.insert(arguments.end(), between.begin(), between.end());
  arguments.insert(arguments.end(), {"false", "false"});
  arguments.insert(arguments.end(), after.begin(), after.end());
  return arguments;
}

const std::vector<ScriptMethod> kAlertMethods = {
    {"ShowSimpleAlert", AlertArguments({}, {})},
    {"ShowAlertWithActionsToLaunchUI", AlertArguments({"null"}, {})},
    {"ShowAlertWithDoNotShowAgainOption", AlertArguments({}, {"none", "\"Do not show\""})},
};

const char* LanguageName(Language language) { return language == Language::kJScript ? "JScript" : "VBScript"; }

void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Written and closed before the host starts, by a handle no child process inherits.
bool WriteScript(const std::wstring& path, const std::string& script) {
  Strata::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), script.data(), static_cast<DWORD>(script.size()), &written, nullptr) &&
         written == script.size();
}

std::optional<DWORD> RunningProcess(const wchar_t* image) {
  Strata::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
    if (::lstrcmpiW(entry.szExeFile, image) == 0) return entry.th32ProcessID;
  return std::nullopt;
}

class ScriptedMethods : public ::testing::Test {
 protected:
  void SetUp() override {
    SetText(ZelService::kServiceKey, L"AdminPassword", L"s3cret");
    SetText(ZelService::kServiceKey, L"SecurityAnswer", L"blue");
    // The service is reached only once its web-proxy plug-in is registered.
    Strata::UniqueHkey plugin;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, nullptr, 0, KEY_WRITE, nullptr, plugin.put(), nullptr),
              ERROR_SUCCESS);
    // What the valid arguments read, so that only the bad value in a call can make it fail.
    using ZelService::Variant;
    ASSERT_EQ(store_.WriteProperties(L"Global", {{7001, Variant::Text(L"on")}}), S_OK);
    ASSERT_EQ(store_.WriteProperties(L"AdminSettings", {{7002, Variant::Text(L"5")}}), S_OK);
    ASSERT_EQ(store_.WriteProperties(L"AgeGroups\\3", {{7301, Variant::Text(L"teen value")}}), S_OK);
    ASSERT_EQ(store_.WriteProperties(ZelService::ServiceStore::UserPath(L"kid"),
                                     {{ZelService::kUserName, Variant::Text(L"Kid")}, {7101, Variant::Text(L"a")}}),
              S_OK);
    const std::wstring users = ZelStandIns::StandInKnobs::KeyPath(L"UserManager");
    SetText(users + L"\\Users\\Kid", L"DisplayName", L"Kid");
    SetText(users + L"\\Sessions\\1", L"User", L"Kid");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kReportLogRecords.c_str());
  }

  // Runs the corpus through `methods` in both languages; the counts each script printed.
  std::map<std::string, MethodCount> RunCorpus(const char* progId, bool viaScriptHost,
                                               const std::vector<ScriptMethod>& methods) {
    std::map<std::string, MethodCount> totals;
    for (Language language : {Language::kJScript, Language::kVBScript}) {
      const ScriptCallGenerator generator(language);
      const std::string script = generator.Render(progId, viaScriptHost, methods);
      const std::wstring path = folder_ / (language == Language::kJScript ? L"corpus.js" : L"corpus.vbs");
      EXPECT_TRUE(WriteScript(path, script)) << LanguageName(language);
      const ULONGLONG started = ::GetTickCount64();
      const RunOutcome run = RunBounded(L"\"" + ZelTest::SiblingPath(L"ZelScriptRun.exe") + L"\" \"" + path + L"\"",
                                        kScriptTimeoutMs);
      std::printf("%s run: %.1f s\n", LanguageName(language), (::GetTickCount64() - started) / 1000.0);
      EXPECT_TRUE(run.finished) << LanguageName(language) << " script did not end in time";
      EXPECT_FALSE(IsCrash(run.exitCode)) << std::hex << run.exitCode;
      EXPECT_EQ(run.exitCode, 0u) << run.output.substr(0, 4000);
      EXPECT_NE(run.output.find("DONE"), std::string::npos) << run.output.substr(0, 4000);
      const size_t crashes = IsCrash(run.exitCode) || !run.finished ? 1 : 0;
      std::vector<MethodCount> counts = ScriptCallGenerator::ReadCounts(run.output);
      EXPECT_EQ(counts.size(), methods.size()) << LanguageName(language);
      for (size_t i = 0; i < methods.size() && i < counts.size(); ++i) {
        EXPECT_EQ(counts[i].method, methods[i].name);
        EXPECT_EQ(counts[i].tried, generator.CallsOf(methods[i])) << methods[i].name;
        std::printf("%s (%s): %zu inputs, %zu refused with an HRESULT, %zu crashes\n", methods[i].name,
                    LanguageName(language), counts[i].tried, counts[i].refused, crashes);
        MethodCount& total = totals[methods[i].name];
        total.tried += counts[i].tried;
        total.refused += counts[i].refused;
        total.counted += counts[i].counted;
      }
    }
    return totals;
  }

  ZelService::ServiceStore store_;
  ZelTest::TempFolder folder_;
};

TEST_F(ScriptedMethods, ConfigurationTakesNoBadSecretAndStoresSettingsWholeOrNotAtAll) {
  std::map<std::string, MethodCount> counts = RunCorpus("ZelTARN.ZelConfig", true, kConfigMethods);
  for (const ScriptMethod& method : kConfigMethods)
    if (method.counted == Answer::kYes) {
      EXPECT_EQ(counts[method.name].counted, 0u) << method.name << " said yes";
    }
  const std::vector<std::wstring> stored = StoredTexts(ZelService::kServiceKey);
  ExpectNoCutCorpusText(stored, "a setting");
  // A bad text is still a text a user may hold: the calls with everything else valid stored each whole.
  EXPECT_EQ(CorpusTextsMissing(stored), std::vector<std::string>());
}

TEST_F(ScriptedMethods, LoggerLeavesAWholeRecordForEachCallItReportsDoneAndNoOther) {
  std::map<std::string, MethodCount> counts = RunCorpus("ZelTARN.ZelLogger", true, kLoggerMethods);
  size_t done = 0;
  for (const auto& [name, count] : counts) done += count.counted;
  EXPECT_EQ(ZelTest::SubkeyCount(HKEY_LOCAL_MACHINE, kReportLogRecords), done);
  const std::vector<std::wstring> stored = StoredTexts(kReportLogRecords);
  ExpectNoCutCorpusText(stored, "a record");
  EXPECT_EQ(CorpusTextsMissing(stored), std::vector<std::string>());
}

TEST_F(ScriptedMethods, AlerterSurvivesTheCorpusAndStillShowsAGoodAlert) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  {
    // Held across the scripts, so that the server they talk to is the one asked afterwards.
    ComPtr<IAlert> alert;
    ASSERT_EQ(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &alert), S_OK);
    const std::optional<DWORD> server = RunningProcess(L"KyAlert.exe");
    ASSERT_TRUE(server.has_value());
    RunCorpus("Alerter.Alert", false, kAlertMethods);
    EXPECT_EQ(RunningProcess(L"KyAlert.exe"), server);
    ExpectNoCutCorpusText(StoredTexts(kAlerts), "an alert");
    Strata::UniqueBstr language(::SysAllocString(L"en-US")), title(::SysAllocString(L"Good after bad")),
        content(::SysAllocString(L"c")), app(::SysAllocString(L"ZEL")), type(::SysAllocString(L"Good"));
    EXPECT_EQ(alert->ShowSimpleAlert(language.get(), title.get(), content.get(), nullptr, app.get(), type.get(), 1, 1,
                                     30, VARIANT_FALSE, VARIANT_FALSE),
              S_OK);
  }
  ::CoUninitialize();
}

}  // namespace
