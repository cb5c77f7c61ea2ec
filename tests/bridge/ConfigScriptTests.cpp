// The configuration object as the platform's script user interface drives it: a VBScript and a
// JScript, run by cscript in the installed prefix, get the object from the script host stand-in
// and read and change the service's settings and users; what they hand over wrongly is refused and
// leaves the service as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <string>

#include "Handles.h"
#include "ServiceResults.h"
#include "ServiceStore.h"
#include "StandInKnobs.h"
#include "TestSupport.h"

namespace {

constexpr wchar_t kPluginKey[] = L"Software\\Varant\\KyProxy\\Plugins\\{08533142-6DAA-40C0-829F-098475E66646}";
constexpr wchar_t kPluginAcknowledged[] = L"Local\\{117497F9-4481-DA00-7A12-89BAF027BCE3}";
constexpr wchar_t kCategories[] = L"Software\\Varant\\ZEL\\Settings\\default\\Categories";

class ConfigScript : public ::testing::Test {
 protected:
  void SetUp() override {
    Strata::UniqueHkey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    SetText(ZelService::kServiceKey, L"AdminPassword", L"s3cret");
    SetText(ZelService::kServiceKey, L"SecurityAnswer", L"blue");
    ASSERT_EQ(store_.WriteProperties(L"AgeGroups\\3", {{7301, ZelService::Variant::Text(L"teen value")}}), S_OK);
    SetText(kCategories, L"Games", L"10");
    // The platform's users: one regular account without a display name, one outside the built-in
    // groups.
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (PlatformUsers()).c_str());
    SetGroups(L"Scripted", L"S-1-5-32-545");
    SetGroups(L"Outsider", L"S-1-5-32-999");
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPluginKey);
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, ZelService::kServiceKey, L"AdminPassword");
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, ZelService::kServiceKey, L"SecurityAnswer");
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCategories, L"Games");
  }

  static std::wstring PlatformUsers() { return ZelStandIns::StandInKnobs::KeyPath(L"UserManager") + L"\\Users"; }
  static void SetGroups(const std::wstring& user, const std::wstring& sid) {
    const std::wstring groups = sid + L'\0';
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (PlatformUsers() + L"\\" + user).c_str(), L"GroupSids", REG_MULTI_SZ,
                      groups.c_str(), static_cast<DWORD>((groups.size() + 1) * sizeof(wchar_t)));
  }

  static void SetText(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, text.c_str(),
                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  // Runs `body` with `config` set to the configuration object; the exit code is the number of the
  // first failed check (0 when all held).
  static DWORD Run(const wchar_t* extension, const std::string& body, std::string* output) {
    ZelTest::TempFolder folder;
    const std::wstring script = folder.Path() + L"\\config" + extension;
    std::ofstream(std::string(script.begin(), script.end())) << body;
    return ZelTest::RunProcess(L"cscript.exe //nologo \"" + script + L"\"", output);
  }

  std::optional<std::wstring> UserProperty(const std::wstring& name, long property) const {
    std::optional<std::wstring> id = store_.FindUserByName(name);
    if (!id) return std::nullopt;
    ZelService::PropertyMap properties = store_.ReadProperties(ZelService::ServiceStore::UserPath(*id));
    auto found = properties.find(property);
    if (found == properties.end() || V_VT(&found->second.Get()) != VT_BSTR) return std::nullopt;
    return std::wstring(V_BSTR(&found->second.Get()));
  }

  ZelService::ServiceStore store_;
};

TEST_F(ConfigScript, VBScriptReadsAndChangesSettingsAndUsersAndBadInputChangesNothing) {
  // The service's plug-in acknowledges its registration while the script waits for it.
  std::atomic<bool> done{false};
  std::thread acknowledger([&done] {
    while (!done) {
      Strata::UniqueHandle acknowledgement(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kPluginAcknowledged));
      if (acknowledgement) ::SetEvent(acknowledgement.get());
      ::Sleep(100);
    }
  });
  std::string output;
  EXPECT_EQ(Run(L".vbs", R"(
Sub Check(condition, code)
  If Not condition Then
    WScript.Echo "check " & code & " failed: " & Err.Number
    WScript.Quit code
  End If
End Sub
' A service result code means success when its error part, the low 17 bits, is zero.
Function Ok(code)
  Ok = ((code And &H1FFFF) = 0)
End Function
Dim host, config, result, value, categories
Set host = CreateObject("ZelStandIns.ScriptHost")
Set config = host.Create("ZelTARN.ZelConfig")
Check config.IsZelPluginRegistered(), 1
Check Ok(config.SetGlobalConfigsValue(7001, "on")), 2
result = 99
value = config.GetGlobalConfigsValue(7001, result)
Check value = "on" And Ok(result), 3
Check Ok(config.SetAdminSettingsConfigValue("7002", 5)), 4
Check config.GetAdminSettingsConfigValue(7002, result) = 5, 5
Check config.VerifyAdminPassword("s3cret"), 6
Check Not config.VerifyAdminPassword("S3CRET"), 7
Check Not config.VerifyAdminPassword(""), 8
Check Not config.IsAdminPasswordAbsent(), 9
Check config.VerifyAdminSecurityAnswer("blue"), 26
Check Not config.VerifyAdminSecurityAnswer("red"), 27
result = 99
Check config.GetAgeGroupConfigsValue(3, 7301, result) = "teen value" And Ok(result), 28
Check Ok(config.CreateNewZelUser("ScriptKid")), 10
Check config.DoesUserExist("scriptkid") = 1, 11
Check config.DoesUserExist("nobody") = 0, 12
Check Ok(config.SetUserConfigValues("ScriptKid", Array(7101, 7102), Array("a", "b"), 2)), 13
Check config.GetUserConfigValue("SCRIPTKID", 7102) = "b", 14
categories = config.GetSupportedCategoryList()
Check IsArray(categories), 15
Check UBound(categories) >= 0, 16
Dim users
users = config.GetTARNUserList()
Check IsArray(users), 17
Check UBound(users) = 0, 18
Check users(0)(0) = "Scripted" And users(0)(1) = "Scripted", 19
Check config.RegisterZelPlugin() = 0, 25
On Error Resume Next
config.SetUserConfigValues "ScriptKid", Array(7103, 7104), Array("c"), 2
Check Err.Number <> 0, 20
Err.Clear
Dim square(1, 1)
config.SetUserConfigValues "ScriptKid", square, square, 1
Check Err.Number <> 0, 21
Err.Clear
config.SetGlobalConfigsValue Array(1, 2), "x"
Check Err.Number <> 0, 22
Err.Clear
config.SetUserConfigValues "ScriptKid", Array(7105), Array("d"), 1000000000
Check Err.Number <> 0, 23
Set config = Nothing
Set host = Nothing
WScript.Quit 0
)", &output),
            0u)
      << output;
  done = true;
  acknowledger.join();
  EXPECT_EQ(UserProperty(L"ScriptKid", 7101), std::optional<std::wstring>(L"a"));
  EXPECT_EQ(UserProperty(L"ScriptKid", 7102), std::optional<std::wstring>(L"b"));
  for (long untouched : {7103L, 7104L, 7105L}) EXPECT_EQ(UserProperty(L"ScriptKid", untouched), std::nullopt);
}

TEST_F(ConfigScript, JScriptChecksSecretsAndCreatesUsers) {
  // A platform without users of its own.
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, PlatformUsers().c_str());
  std::string output;
  EXPECT_EQ(Run(L".js", R"(
function check(condition, code) { if (!condition) { WScript.Echo("check " + code + " failed"); WScript.Quit(code); } }
// A service result code means success when its error part, the low 17 bits, is zero.
function ok(code) { return (code & 0x1FFFF) == 0; }
try {
  var host = new ActiveXObject("ZelStandIns.ScriptHost");
  var config = host.Create("ZelTARN.ZelConfig");
  check(config.VerifyAdminPassword("s3cret"), 1);
  check(!config.VerifyAdminPassword("wrong"), 2);
  check(ok(config.CreateNewZelUser("JsKid")), 4);
  check(config.DoesUserExist("JSKID") == 1, 5);
  check(ok(config.SetUserConfigValue("JsKid", 7201, "seen")), 6);
  check(config.GetUserConfigValue("JsKid", 7201) == "seen", 7);
  var refused = false;
  try { config.SetUserConfigValues("JsKid", [7202, 7203], ["1"], 2); } catch (e) { refused = true; }
  check(refused, 8);
  check(ok(config.SetUserConfigValues("JsKid", [7204, 7205], ["x", "y"], 2)), 12);
  check(!config.VerifyAdminSecurityAnswer("green"), 10);
  check(config.GetTARNUserList() === undefined, 11);  // "No user found!"
  // Nothing acknowledges the plug-in's registration: the wait ends after 10 s with 1460.
  check(config.RegisterZelPlugin() == 1460, 9);
  config = null;
  host = null;
  CollectGarbage();
  WScript.Quit(0);
} catch (e) {
  WScript.Echo("error " + e.number);
  WScript.Quit(100);
}
)", &output),
            0u)
      << output;
  EXPECT_EQ(UserProperty(L"JsKid", 7201), std::optional<std::wstring>(L"seen"));
  EXPECT_EQ(UserProperty(L"JsKid", 7204), std::optional<std::wstring>(L"x"));
  EXPECT_EQ(UserProperty(L"JsKid", 7205), std::optional<std::wstring>(L"y"));
}

}  // namespace
