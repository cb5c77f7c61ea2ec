// The platform's user events against the service stand-in and a bridge that names the platform
// user. The service's root class and the bridge's configuration class are registered machine-wide,
// so these tests run in the prefix of their own (run-in-own-prefix.sh).
#include <thread>

#include "ServiceUsersTest.h"

namespace {

using namespace ZelTest;

using UserEventsTest = ServiceUsersTest;

constexpr DWORD kRefused = 0x08020001;

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

  // Any other refusal creates nobody.
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ZelService::kServiceKey, L"SignIn.Result", REG_DWORD, &kRefused,
                    sizeof(kRefused));
  EXPECT_EQ(events_->NotifyEvent(1, L"robin"), E_FAIL);
  EXPECT_EQ(ServiceUsers(), (std::vector<std::wstring>{L"jamie", L"logon mode switched"}));
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
      {2, L"kid", S_OK},            // reported: created by the parent
      {2, L"kid", S_OK},            // exists: nothing created, nothing reported
      {2, L"PARENT", S_OK},         // the platform user itself: created, not reported
      {2, L"adult_temp", S_FALSE},  // the reserved name is never created
      {3, L"kid", S_OK},            // removed and reported
      {3, L"kid", S_FALSE},         // unknown: nothing to remove
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
