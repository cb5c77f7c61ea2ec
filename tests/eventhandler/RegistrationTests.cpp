// Registration of zelevh.dll with regsvr32 against the service stand-in's event registry, and its
// refusal without one. The service's classes and the library's own are registered machine-wide,
// so these tests run in a prefix of their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <wrl/client.h>

#include "EventHandlerTestSupport.h"
#include "ServerRegistration.h"
#include "ZelEventHandler.h"

namespace {

using namespace ZelTest;

struct ClassKeys {
  const CLSID* clsid;
  const wchar_t* progId;
  const wchar_t* versionIndependentProgId;
  const wchar_t* description;
};

const ClassKeys kClasses[] = {
    {&CLSID_UserEvents, L"ZelEventHandler.UserEvents.1", L"ZelEventHandler.UserEvents", L"UserEvents Class"},
    {&CLSID_GSAccessDeniedEventHandler, L"ZelEventHandler.GSAccessDeniedEventHa.1",
     L"ZelEventHandler.GSAccessDeniedEventHand", L"GSAccessDeniedEventHandler Class"},
    {&CLSID_GSImageBlockedEventHandler, L"ZelEventHandler.GSImageBlockedEventHa.1",
     L"ZelEventHandler.GSImageBlockedEventHand", L"GSImageBlockedEventHandler Class"},
    {&CLSID_GSKeywordBlockedEventHandler, L"ZelEventHandler.GSKeywordDetec.1", L"ZelEventHandler.GSKeywordDetecti",
     L"GSKeywordBlockedEventHandler Class"},
    {&CLSID_GSSignInEventHandler, L"ZelEventHandler.GSSignInEventHandler.1", L"ZelEventHandler.GSSignInEventHandler",
     L"GSSignInEventHandler Class"},
    {&CLSID_GSSignInRequiredEventHandler, L"ZelEventHandler.GSSignInRequiredEvent.1",
     L"ZelEventHandler.GSSignInRequiredEventHa", L"GSSignInRequiredEventHandler Class"},
    {&CLSID_GSSignOutEventHandler, L"ZelEventHandler.GSSignOutEventHandler.1",
     L"ZelEventHandler.GSSignOutEventHandler", L"GSSignOutEventHandler Class"},
    {&CLSID_GSUrlVisitedEventHandler, L"ZelEventHandler.GSUrlVisitedEventHand.1",
     L"ZelEventHandler.GSUrlVisitedEventHandle", L"GSUrlVisitedEventHandler Class"},
};

constexpr wchar_t kAppId[] = L"{9621B5DF-9559-4959-BB32-87F61D4EEC21}";
constexpr wchar_t kBindingsKey[] = L"Software\\ZelStandIns\\Service\\EventBindings\\ZEL";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  ::StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ClassKey(REFCLSID clsid) { return L"CLSID\\" + GuidText(clsid); }

bool KeyExists(HKEY root, const std::wstring& path) {
  Strata::UniqueHkey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// A REG_SZ value, or "<absent>".
std::wstring Text(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t value[1024];
  DWORD bytes = sizeof(value);
  if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
    return L"<absent>";
  return value;
}

DWORD Regsvr32(const std::wstring& arguments) { return RunProcess(L"regsvr32 /s " + arguments); }
std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

class RegistrationTest : public ::testing::Test {
 protected:
  RegistrationTest() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~RegistrationTest() override {
    Regsvr32(L"/u " + Quoted(zelevh_));
    Regsvr32(L"/u " + Quoted(SiblingPath(L"zel.dll")));
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kBindingsKey);
    ::CoUninitialize();
  }

  void ExpectNoClassesRegistered() {
    for (const ClassKeys& keys : kClasses) {
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(*keys.clsid))) << keys.description;
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, keys.progId));
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, keys.versionIndependentProgId));
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"AppID\\") + kAppId));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\zelevh.dll"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidText(LIBID_ZelEventHandlerLib)));
  }

  const std::wstring zelevh_ = SiblingPath(L"zelevh.dll");
};

TEST_F(RegistrationTest, RegisteringBindsEveryEventAndRegistersEveryClassThenUnregisteringUndoesIt) {
  ASSERT_EQ(Regsvr32(Quoted(SiblingPath(L"zel.dll"))), 0u);
  ASSERT_EQ(Regsvr32(Quoted(zelevh_)), 0u);

  const std::pair<const wchar_t*, const CLSID*> bindings[] = {
      {L"{C4C934D0-4BD7-44CB-B6A3-84B06A6C8D7A}", &CLSID_GSSignInRequiredEventHandler},
      {L"{EFE55865-5455-402C-93F1-4973A0EB26D2}", &CLSID_GSSignInEventHandler},
      {L"{47B95115-84B0-46CA-A4E5-8F8E537510BE}", &CLSID_GSSignOutEventHandler},
      {L"{DAE60262-42CB-4406-BAF4-24B7E29D7772}", &CLSID_GSAccessDeniedEventHandler},
      {L"{0A5E1C69-91C4-4E4B-85A8-3B56EDC04217}", &CLSID_GSPIIDetectedEventHandler},
      {L"{F1DB377E-6701-411C-B31B-53A187FAAF15}", &CLSID_GSKeywordBlockedEventHandler},
      {L"{662FEFCB-D7F9-47FE-A4AB-328E123594BF}", &CLSID_GSImageBlockedEventHandler},
      {L"{F976049B-8A30-4267-BDCA-69C36AC94E10}", &CLSID_GSUrlVisitedEventHandler},
  };
  for (const auto& [eventIid, handler] : bindings)
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kBindingsKey, eventIid), GuidText(*handler)) << eventIid;

  for (const ClassKeys& keys : kClasses) {
    const std::wstring classKey = ClassKey(*keys.clsid);
    const std::wstring clsid = GuidText(*keys.clsid);
    const bool userEvents = *keys.clsid == CLSID_UserEvents;
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, classKey), keys.description);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, classKey + L"\\ProgID"), keys.progId);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, classKey + L"\\VersionIndependentProgID"), keys.versionIndependentProgId);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32"), zelevh_);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, classKey, L"AppID"), kAppId);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, classKey + L"\\TypeLib"),
              userEvents ? L"{}" : GuidText(LIBID_ZelEventHandlerLib));
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, classKey + L"\\Programmable"), !userEvents) << keys.description;
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, keys.progId), keys.description);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::wstring(keys.progId) + L"\\CLSID"), clsid);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, keys.versionIndependentProgId), keys.description);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::wstring(keys.versionIndependentProgId) + L"\\CLSID"), clsid);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::wstring(keys.versionIndependentProgId) + L"\\CurVer"), keys.progId);
  }
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::wstring(L"AppID\\") + kAppId, L"RunAs"), L"Interactive User");
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, L"AppID\\zelevh.dll", L"AppID"), kAppId);

  // The registered type library describes the event interfaces and their records.
  Microsoft::WRL::ComPtr<ITypeLib> typeLibrary;
  ASSERT_EQ(::LoadRegTypeLib(LIBID_ZelEventHandlerLib, 1, 0, 0, typeLibrary.GetAddressOf()), S_OK);
  Microsoft::WRL::ComPtr<ITypeInfo> info;
  EXPECT_EQ(typeLibrary->GetTypeInfoOfGuid(IID_IKyGSUrlVisitedEvent, info.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(typeLibrary->GetTypeInfoOfGuid(IID_IKyGSPIIDetectedEventAction, info.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(typeLibrary->GetTypeInfoOfGuid(CLSID_GSPIIDetectedEventHandler, info.ReleaseAndGetAddressOf()), S_OK);
  wchar_t recordName[] = L"KYGS_KEYWORD_DETAILS";
  MEMBERID member = 0;
  USHORT found = 1;
  EXPECT_EQ(typeLibrary->FindName(recordName, 0, info.ReleaseAndGetAddressOf(), &member, &found), S_OK);
  EXPECT_EQ(found, 1u);
  typeLibrary.Reset();
  info.Reset();

  ASSERT_EQ(Regsvr32(L"/u " + Quoted(zelevh_)), 0u);
  Strata::UniqueHkey bindingsKey;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBindingsKey, 0, KEY_READ, bindingsKey.put()), ERROR_SUCCESS);
  DWORD values = ~0u;
  ::RegQueryInfoKeyW(bindingsKey.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
  EXPECT_EQ(values, 0u);
  ExpectNoClassesRegistered();
}

TEST_F(RegistrationTest, WithoutTheEventRegistryNothingIsRegisteredAndTheCallerLearnsSFalse) {
  Regsvr32(L"/u " + Quoted(SiblingPath(L"zel.dll")));
  Strata::UniqueModule library(::LoadLibraryW(zelevh_.c_str()));
  ASSERT_TRUE(library);
  auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(library.get(), "DllRegisterServer"));
  auto unregisterServer =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(library.get(), "DllUnregisterServer"));
  ASSERT_TRUE(registerServer && unregisterServer);
  EXPECT_EQ(registerServer(), S_FALSE);
  ExpectNoClassesRegistered();
  EXPECT_EQ(unregisterServer(), S_FALSE);
}

TEST_F(RegistrationTest, WithoutTheEventRegistryTheFailureIsLogged) {
  Regsvr32(L"/u " + Quoted(SiblingPath(L"zel.dll")));
  LogRecorder& log = LogRecorder::Install();
  EXPECT_EQ(RegisterServer(), S_FALSE);
  EXPECT_EQ(UnregisterServer(), S_FALSE);
  const LogLine* registering = log.Find(L"ZelEventHandler: Failed to register event handlers!\r\n");
  const LogLine* unregistering = log.Find(L"ZelEventHandler: Failed to unregister event handlers!\r\n");
  ASSERT_NE(registering, nullptr);
  ASSERT_NE(unregistering, nullptr);
  EXPECT_EQ(registering->level, ETWLogging::kLevelError);
  EXPECT_EQ(registering->function, L"DllRegisterServer");
  EXPECT_EQ(unregistering->function, L"DllUnregisterServer");
}

}  // namespace
