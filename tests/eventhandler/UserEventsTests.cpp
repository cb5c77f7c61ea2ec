// The platform's user events against the service stand-in and a bridge that names the platform
// user. The service's root class and the bridge's configuration class are registered machine-wide,
// so these tests run in the prefix of their own (run-in-own-prefix.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "EventHandlerTestSupport.h"
#include "KyClassFactory.h"
#include "ObjectMap.h"
#include "ServiceResults.h"
#include "ServiceStore.h"
#include "UserEvents.h"
#include "ZelEventHandler.h"

namespace {

using namespace ZelTest;
using Microsoft::WRL::ComPtr;

constexpr wchar_t kFakeBridgeState[] = L"Software\\ZelTests\\FakeBridge";
constexpr DWORD kEverySession = 0xFFFFFFFE;

std::wstring ClassKey(REFCLSID clsid) {
  wchar_t text[64];
  ::StringFromGUID2(clsid, text, 64);
  return std::wstring(L"Software\\Classes\\CLSID\\") + text;
}

void RegisterInproc(REFCLSID clsid, const std::wstring& path) {
  const std::wstring key = ClassKey(clsid) + L"\\InprocServer32";
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, path.c_str(),
                    static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ThreadingModel", REG_SZ, L"Both", sizeof(L"Both"));
}

void DeleteTree(HKEY root, const std::wstring& key) {
  ::RegDeleteTreeW(root, key.c_str());
  ::RegDeleteKeyW(root, key.c_str());
}

class UserEventsTest : public ::testing::Test {
 protected:
  UserEventsTest() {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DeleteTree(HKEY_LOCAL_MACHINE, ZelService::kServiceKey);
    DeleteTree(HKEY_CURRENT_USER, kFakeBridgeState);
    DWORD registered = 1;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kFakeBridgeState, L"Registered", REG_DWORD, &registered, sizeof(registered));
    RegisterInproc(CLSID_KyGSService, SiblingPath(L"zel.dll"));
    RegisterInproc(CLSID_ZelConfig, SiblingPath(L"FakeZelTARN.dll"));
    LoggingThreadSettings settings;
    settings.loggerClass = logger_.Clsid();
    g_module.SetLoggingThreadSettings(settings);
    ComPtr<IUnknown> classObject;
    GetEventHandlerClassObject(CLSID_UserEvents, IID_PPV_ARGS(&classObject));
    ComPtr<IKyClassFactory> factory;
    if (classObject) classObject.As(&factory);
    if (factory) factory->CreateInstance(IID_IKyUserEvents, reinterpret_cast<IUnknown**>(events_.GetAddressOf()));
  }
  ~UserEventsTest() override {
    events_.Reset();
    DeleteTree(HKEY_LOCAL_MACHINE, ClassKey(CLSID_KyGSService));
    DeleteTree(HKEY_LOCAL_MACHINE, ClassKey(CLSID_ZelConfig));
    DeleteTree(HKEY_LOCAL_MACHINE, ZelService::kServiceKey);
    DeleteTree(HKEY_CURRENT_USER, kFakeBridgeState);
    ::CoUninitialize();
  }

  static void SetPlatformUser(const std::wstring& name) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kFakeBridgeState, L"CurrentUser", REG_SZ, name.c_str(),
                      static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
  }
  // The service's users by name, in no particular order.
  std::vector<std::wstring> ServiceUsers() const {
    std::vector<std::wstring> names;
    for (const std::wstring& id : store_.UserIds()) {
      ZelService::PropertyMap properties = store_.ReadProperties(ZelService::ServiceStore::UserPath(id));
      auto name = properties.find(ZelService::kUserName);
      if (name != properties.end() && V_VT(&name->second.Get()) == VT_BSTR) names.push_back(V_BSTR(&name->second.Get()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // What reached the report log once the logging thread drained (the last object is released).
  std::vector<std::wstring> ReportedAfterRelease() {
    events_.Reset();
    return logger_.Calls();
  }

  LogRecorder& log_ = LogRecorder::Install();
  RegisteredTestLogger logger_;
  ZelService::ServiceStore store_;
  ComPtr<IKyUserEvents> events_;
};

TEST_F(UserEventsTest, NullTextsAndUnknownIdsChangeNothing) {
  ASSERT_TRUE(events_);
  EXPECT_EQ(events_->NotifyEvent(1, nullptr), E_INVALIDARG);
  EXPECT_EQ(events_->NotifyEvent(0, L"jamie"), S_FALSE);
  EXPECT_EQ(events_->NotifyEvent(5, L"jamie"), S_FALSE);
  EXPECT_EQ(events_->NotifyEvent(4, L"jamie"), S_OK);
  EXPECT_EQ(log_.Count(L"Unrecognized user event id 5 (info \"jamie\")\r\n"), 1u);
  EXPECT_TRUE(ServiceUsers().empty());
}

TEST_F(UserEventsTest, LogonSignsInAndCreatesOnlyAUserTheServiceDoesNotKnow) {
  SetPlatformUser(L"Parent");
  ASSERT_TRUE(events_);
  EXPECT_EQ(events_->NotifyEvent(1, L"jamie"), S_OK);
  EXPECT_EQ(store_.SessionUser(kEverySession), std::optional<std::wstring>(L"jamie"));
  EXPECT_EQ(events_->NotifyEvent(1, L"jamie"), S_OK);
  // Letter case or a trailing blank make it a plain logon of a user of that name.
  EXPECT_EQ(events_->NotifyEvent(1, L"logon mode switched"), S_OK);
  EXPECT_EQ(ServiceUsers(), (std::vector<std::wstring>{L"jamie", L"logon mode switched"}));
  EXPECT_EQ(log_.Count(L"Failed to login ZEL user \"jamie\" [Error 0x00000000][Result 0x08020003]\r\n"), 1u);
}

TEST_F(UserEventsTest, LogonModeSwitchedSignsInTheCurrentPlatformUser) {
  SetPlatformUser(L"Dana");
  ASSERT_TRUE(events_);
  EXPECT_EQ(events_->NotifyEvent(1, L"Logon Mode Switched"), S_OK);
  EXPECT_EQ(ServiceUsers(), std::vector<std::wstring>{L"Dana"});
  DWORD session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
  EXPECT_EQ(store_.SessionUser(session), std::optional<std::wstring>(L"Dana"));
  DeleteTree(HKEY_CURRENT_USER, kFakeBridgeState);
  EXPECT_EQ(events_->NotifyEvent(1, L"Logon Mode Switched"), E_FAIL);
}

TEST_F(UserEventsTest, NewAndDeletedUsersAreReportedUnlessTheyAreThePlatformUser) {
  SetPlatformUser(L"Parent");
  ASSERT_TRUE(events_);
  struct Step {
    DWORD event;
    const wchar_t* name;
    HRESULT expected;
  } const steps[] = {
      {2, L"kid", S_OK},          // reported: created by the parent
      {2, L"kid", S_OK},          // exists: nothing created, nothing reported
      {2, L"PARENT", S_OK},       // the platform user itself: created, not reported
      {2, L"adult_temp", S_FALSE},  // the reserved name is never created
      {3, L"kid", S_OK},          // removed and reported
      {3, L"kid", S_FALSE},       // unknown: nothing to remove
  };
  for (const Step& step : steps) EXPECT_EQ(events_->NotifyEvent(step.event, step.name), step.expected) << step.name;
  EXPECT_EQ(ServiceUsers(), std::vector<std::wstring>{L"PARENT"});
  EXPECT_EQ(ReportedAfterRelease(),
            (std::vector<std::wstring>{L"LogInfoUser|1|kid|Parent", L"LogInfoUser|0|kid|Parent"}));
}

TEST_F(UserEventsTest, AUserWhoseNameCannotBeReadHidesNoOther) {
  VARIANT number;
  V_VT(&number) = VT_I4;
  V_I4(&number) = 42;
  ASSERT_EQ(store_.WriteProperties(ZelService::ServiceStore::UserPath(L"broken"),
                                   {{ZelService::kUserName, ZelService::Variant(number)}}),
            S_OK);
  ASSERT_TRUE(events_);
  EXPECT_EQ(events_->NotifyEvent(2, L"kid"), S_OK);
  EXPECT_EQ(events_->NotifyEvent(2, L"kid"), S_OK);
  EXPECT_EQ(ServiceUsers(), std::vector<std::wstring>{L"kid"});
  EXPECT_EQ(events_->NotifyEvent(3, L"kid"), S_OK);
  EXPECT_TRUE(ServiceUsers().empty());
}

TEST_F(UserEventsTest, ConcurrentEventsForOneNewUserCreateItOnce) {
  SetPlatformUser(L"Parent");
  ASSERT_TRUE(events_);
  std::vector<std::thread> threads;
  std::vector<HRESULT> results(8, E_UNEXPECTED);
  for (size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([this, i, &results] {
      ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      results[i] = events_->NotifyEvent(i % 2 ? 2 : 1, L"twin");
      ::CoUninitialize();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (HRESULT hr : results) EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(ServiceUsers(), std::vector<std::wstring>{L"twin"});
  EXPECT_EQ(ReportedAfterRelease(), std::vector<std::wstring>{L"LogInfoUser|1|twin|Parent"});
  EXPECT_EQ(g_module.GetLockCount(), 0);
}

}  // namespace
