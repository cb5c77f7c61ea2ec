// The platform's user events against the service stand-in and a bridge that names the platform
// user. The service's root class and the bridge's configuration class are registered machine-wide,
// so these tests run in the prefix of their own (run-in-own-prefix.sh).
#include <cstdio>
#include <cwchar>
#include <thread>

#include "Handles.h"
#include "ProcessKnobs.h"
#include "ServiceUsersTest.h"
#include "StandInKnobs.h"

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

  // Any other refusal creates nobody, and a sign-in counts only with the service's own success code.
  for (const DWORD answer : {kRefused, DWORD{0}}) {
    SCOPED_TRACE(answer);
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ZelService::kServiceKey, L"SignIn.Result", REG_DWORD, &answer,
                      sizeof(answer));
    EXPECT_EQ(events_->NotifyEvent(1, L"robin"), E_FAIL);
    EXPECT_EQ(ServiceUsers(), (std::vector<std::wstring>{L"jamie", L"logon mode switched"}));
  }
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

// The service's process restarted under a long-lived sink: every object handed out before is dead.
TEST_F(UserEventsTest, AServiceRestartCostsOneReconnectionAndNoEvent) {
  constexpr wchar_t kReconnecting[] = L"ZEL gave RPC error 0x800706BA: releasing and reacquiring Zel\r\n";
  ProcessKnobs service(ZelService::kStandInName);
  SetPlatformUser(L"Parent");
  ASSERT_TRUE(events_);
  ASSERT_EQ(events_->NotifyEvent(2, L"kid"), S_OK);
  const DWORD creations = service.ReadDword(L"Create.Calls").value_or(0);

  service.SetDword(L"Kills", 1);
  EXPECT_EQ(events_->NotifyEvent(1, L"kid"), S_OK);
  EXPECT_EQ(store_.SessionUser(kEverySession), std::optional<std::wstring>(L"kid"));
  EXPECT_EQ(events_->NotifyEvent(2, L"robin"), S_OK);
  EXPECT_EQ(ServiceUsers(), (std::vector<std::wstring>{L"kid", L"robin"}));
  EXPECT_EQ(service.ReadDword(L"Create.Calls").value_or(0), creations + 1);
  EXPECT_EQ(log_.Count(kReconnecting), 1u);

  // Still gone after the reconnection: the event fails once more and says so.
  service.SetDword(L"SignOut.HResult", 0x800706BA);
  service.SetDword(L"SignOut.Times", 2);
  EXPECT_EQ(events_->NotifyEvent(1, L"robin"), static_cast<HRESULT>(0x800706BA));
  EXPECT_EQ(log_.Count(kReconnecting), 2u);
  EXPECT_EQ(log_.Count(L"Failed to logon TARN user \"robin\" in ZEL [Error 0x800706BA]\r\n"), 1u);
  EXPECT_EQ(store_.SessionUser(kEverySession), std::optional<std::wstring>(L"kid"));
}

// The platform's user-events class as the service stand-in creates it by ProgID: this program's own
// class object, so that an event raised into it meets the same module and locks as the test's.
class RegisteredUserEventsClass {
 public:
  RegisteredUserEventsClass() {
    ComPtr<IUnknown> classObject;
    if (FAILED(GetEventHandlerClassObject(CLSID_UserEvents, IID_PPV_ARGS(&classObject)))) return;
    ::CoRegisterClassObject(CLSID_UserEvents, classObject.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    wchar_t clsid[40];
    ::StringFromGUID2(CLSID_UserEvents, clsid, ARRAYSIZE(clsid));
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProgIdKey, nullptr, REG_SZ, clsid,
                      static_cast<DWORD>((std::wcslen(clsid) + 1) * sizeof(wchar_t)));
  }
  ~RegisteredUserEventsClass() {
    if (cookie_) ::CoRevokeClassObject(cookie_);
    DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Classes\\ZelEventHandler.UserEvents");
  }
  bool Registered() const { return cookie_ != 0; }

 private:
  static constexpr wchar_t kProgIdKey[] = L"Software\\Classes\\ZelEventHandler.UserEvents\\CLSID";
  DWORD cookie_ = 0;
};

TEST_F(UserEventsTest, AnEventTheServiceRaisesFromInsideItsApplyIsHandledOnTheSameThread) {
  RegisteredUserEventsClass userEventsClass;
  ASSERT_TRUE(userEventsClass.Registered());
  ProcessKnobs service(ZelService::kStandInName);
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                    ZelStandIns::StandInKnobs::ProcessKeyPath(ZelService::kStandInName, ::GetCurrentProcessId()).c_str(),
                    L"ApplyRaisesUserEvent", REG_SZ, L"2 robin", sizeof(L"2 robin"));
  SetPlatformUser(L"Parent");
  ASSERT_TRUE(events_);

  // On a thread of its own, so that a thread that blocks itself fails the test instead of hanging it.
  HRESULT outer = E_PENDING;
  Strata::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(done);
  std::thread platform([&] {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    outer = events_->NotifyEvent(2, L"kid");
    ::CoUninitialize();
    ::SetEvent(done.get());
  });
  if (::WaitForSingleObject(done.get(), 30000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "NotifyEvent(2, \"kid\") did not return within 30 s: the event the service raised from "
                     "inside its Apply on the same thread (NotifyEvent(2, \"robin\")) deadlocked it";
    std::fflush(stdout);
    ::ExitProcess(1);
  }
  platform.join();
  EXPECT_EQ(outer, S_OK);
  EXPECT_EQ(service.ReadDword(L"ApplyRaisedUserEvent.HResult"), std::optional<DWORD>(S_OK));
  EXPECT_EQ(ServiceUsers(), (std::vector<std::wstring>{L"kid", L"robin"}));
}

TEST_F(UserEventsTest, ThePlatformUsersStartupFlagIsReadAsTheBridgeWritesIt) {
  SetPlatformUser(L"Parent");
  ASSERT_TRUE(events_);
  for (DWORD flag : {1u, 0u}) {
    SCOPED_TRACE(flag);
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kFakeBridgeState, L"StartupUser", REG_DWORD, &flag, sizeof(flag));
    TarnUser user;
    ASSERT_TRUE(CUserEvents::getCurrentTarnUserNameAndType(&user));
    EXPECT_EQ(user.name, L"Parent");
    EXPECT_EQ(user.kind, 1);
    EXPECT_EQ(user.isStartupUser, static_cast<short>(flag));
  }
}

TEST_F(UserEventsTest, AnEnumerationThatDoesNotEndIsCutAtTenThousandUsers) {
  ProcessKnobs service(ZelService::kStandInName);
  service.SetDword(L"EnumeratorExtraItems", 10050);
  ASSERT_TRUE(events_);
  EXPECT_EQ(events_->NotifyEvent(3, L"nobody"), S_FALSE);
  EXPECT_EQ(log_.Count(L"Stopped after 10000 ZEL users: the service's enumeration does not end\r\n"), 1u);
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
