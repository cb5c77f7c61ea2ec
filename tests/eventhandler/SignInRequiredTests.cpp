// The service's sign-in-required event against the service stand-in, a bridge that names the
// platform user of the session (or not yet, or fails), and the platform's account manager stand-in
// for the migration after an upgrade. Runs in the prefix of its own (run-in-own-prefix.sh).
#include <thread>

#include "AccountCallLog.h"
#include "GSSignInRequiredEventHandler.h"
#include "KyUserManager.h"
#include "ProcessKnobs.h"
#include "ServiceUsersTest.h"
#include "StandInKnobs.h"

namespace {

using namespace ZelTest;

constexpr DWORD kSession = 1;
constexpr wchar_t kUpgradeKey[] = L"Software\\Varant\\temp";
constexpr wchar_t kProductKey[] = L"Software\\Varant\\ZEL";

class SignInRequiredTest : public ServiceUsersTest {
 protected:
  SignInRequiredTest() {
    CGSSignInRequiredEventHandler::SetPlatformUserWait(1);
    RegisterInproc(CLSID_KyUserManager, SiblingPath(L"KyUserManager.dll"));
    DeleteTree(HKEY_LOCAL_MACHINE, kUpgradeKey);
    ComPtr<IClassFactory> factory;
    GetEventHandlerClassObject(CLSID_GSSignInRequiredEventHandler, IID_PPV_ARGS(&factory));
    if (factory) factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler_));
  }
  ~SignInRequiredTest() override {
    handler_.Reset();
    CGSSignInRequiredEventHandler::SetMarkerDeletion(&::RegDeleteKeyW);
    DeleteTree(HKEY_LOCAL_MACHINE, ClassKey(CLSID_KyUserManager));
    DeleteTree(HKEY_LOCAL_MACHINE, kUpgradeKey);
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"StartUp");
  }

  static void SetState(const wchar_t* name, DWORD value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kFakeBridgeState, name, REG_DWORD, &value, sizeof(value));
  }
  static void SetServiceKnob(const wchar_t* name, DWORD value) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ZelService::kServiceKey, name, REG_DWORD, &value, sizeof(value));
  }
  void AddServiceUser(const wchar_t* id, const wchar_t* name) {
    ASSERT_EQ(store_.WriteProperties(ZelService::ServiceStore::UserPath(id),
                                     {{ZelService::kUserName, ZelService::Variant::Text(name)}}),
              S_OK);
  }
  static void SetUpgradeMarker(DWORD value) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUpgradeKey, L"UpgradeUsers", REG_DWORD, &value, sizeof(value));
  }
  std::vector<std::wstring> AccountCalls() const {
    return ZelStandIns::AccountCallLog(
               ZelStandIns::StandInKnobs::ProcessKeyPath(L"UserManager", ::GetCurrentProcessId()))
        .ReadAll();
  }

  ComPtr<IKyGSSignInRequiredEvent> handler_;
  ProcessKnobs accountKnobs_{L"UserManager"};
};

TEST_F(SignInRequiredTest, ThePlatformUserIsSignedInCreatedFirstWhenTheServiceDoesNotKnowThem) {
  SetPlatformUser(L"Kid");
  ASSERT_TRUE(handler_);
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  EXPECT_EQ(ServiceUsers(), std::vector<std::wstring>{L"Kid"});
  EXPECT_EQ(store_.SessionUser(kSession), std::optional<std::wstring>(L"Kid"));
  EXPECT_EQ(log_.Count(L"Signed in successfully as user \"Kid\"\r\n"), 0u) << "the first sign-in failed";
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  EXPECT_EQ(log_.Count(L"Signed in successfully as user \"Kid\"\r\n"), 1u);
  EXPECT_EQ(ServiceUsers(), std::vector<std::wstring>{L"Kid"});
  size_t timed = 0;
  for (const LogLine& line : log_.Lines())
    timed += line.text.rfind(L"Handling SignInRequired took ", 0) == 0 &&
             line.text.find(L" seconds\r\n") != std::wstring::npos;
  EXPECT_EQ(timed, 2u) << "one elapsed-time line per event";
}

TEST_F(SignInRequiredTest, APlatformUserNotLoggedOnYetIsWaitedForUpToTheFortiethAttempt) {
  AddServiceUser(L"temp", L"adult_temp");
  SetPlatformUser(L"Kid");
  ASSERT_TRUE(handler_);
  struct Case {
    DWORD pending;           // answers "not logged on yet" before the name
    const wchar_t* attempts; // the attempts line, or null when there is none
    const wchar_t* signedIn;
  } const cases[] = {
      {3, L"Took 4 attempts (9 seconds) to get Tarn user\r\n", L"Kid"},
      {39, L"Took 40 attempts (117 seconds) to get Tarn user\r\n", L"Kid"},
      {40, nullptr, L"adult_temp"},  // the 41st attempt is refused: the temporary name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pending);
    store_.ClearSession(kSession);
    SetState(L"PendingAnswers", c.pending);
    EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
    EXPECT_EQ(store_.SessionUser(kSession), std::optional<std::wstring>(c.signedIn));
    if (c.attempts) EXPECT_EQ(log_.Count(c.attempts), 1u);
  }
  EXPECT_EQ(ServiceUsers(), (std::vector<std::wstring>{L"Kid", L"adult_temp"}));

  // The temporary name is never created: a service that does not know it refuses the sign-in.
  store_.DeleteUser(L"temp");
  SetState(L"PendingAnswers", 40);
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), E_FAIL);
}

TEST_F(SignInRequiredTest, ABridgeOrServiceThatWentAwayIsReacquiredOnce) {
  SetPlatformUser(L"Kid");
  AddServiceUser(L"kid", L"Kid");
  SetState(L"RpcFailures", 1);
  ASSERT_TRUE(handler_);
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  EXPECT_EQ(log_.Count(L"Attempting to release and reacquire ZelTARN...\r\n"), 1u);

  SetServiceKnob(L"SignIn.HResult", 0x800706BA);
  SetServiceKnob(L"SignIn.Times", 1);
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  EXPECT_EQ(log_.Count(L"Attempting to release and reacquire Zel...\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"Refetch and reacquire succeeded.\r\n"), 2u);
  EXPECT_EQ(store_.SessionUser(kSession), std::optional<std::wstring>(L"Kid"));
}

TEST_F(SignInRequiredTest, AnUpgradeMigratesTheServiceUsersOnceAndSignsNobodyIn) {
  AddServiceUser(L"1", L"al");
  AddServiceUser(L"2", L"bea");
  AddServiceUser(L"3", L"cy");
  AddServiceUser(L"4", L"Kid");
  SetUpgradeMarker(1);
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"StartUp", REG_SZ, L"BEA", sizeof(L"BEA"));
  Strata::UniqueHandle completed(::CreateEventW(nullptr, TRUE, FALSE, L"Global\\Zel8UpgradeCompleted"));
  SetPlatformUser(L"Kid");
  ASSERT_TRUE(handler_);

  // Two events at once: the one that consumes the marker migrates, the other signs in.
  HRESULT results[2] = {E_UNEXPECTED, E_UNEXPECTED};
  std::thread other([this, &results] {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    results[1] = handler_->OnSignInRequiredEvent(kSession + 1);
    ::CoUninitialize();
  });
  results[0] = handler_->OnSignInRequiredEvent(kSession);
  other.join();
  EXPECT_EQ(results[0], S_OK);
  EXPECT_EQ(results[1], S_OK);

  const std::vector<std::wstring> calls = AccountCalls();
  const std::vector<std::wstring> administratorFirst = {L"SetAdministratorInfo((null), (null), (null))",
                                                        L"GetAdministratorName()", L"SetLoginUserMode(2)"};
  ASSERT_GE(calls.size(), administratorFirst.size());
  EXPECT_EQ(std::vector<std::wstring>(calls.begin(), calls.begin() + administratorFirst.size()), administratorFirst);
  std::vector<std::wstring> created;
  for (const std::wstring& call : calls)
    if (call.rfind(L"CreateUser(", 0) == 0) created.push_back(call);
  EXPECT_EQ(created, (std::vector<std::wstring>{L"CreateUser(\"al\", 0, 2)", L"CreateUser(\"bea\", 1, 2)",
                                                L"CreateUser(\"cy\", 0, 2)", L"CreateUser(\"Kid\", 0, 2)"}));
  EXPECT_EQ(::WaitForSingleObject(completed.get(), 0), WAIT_OBJECT_0);
  Strata::UniqueHkey marker;
  EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUpgradeKey, 0, KEY_READ, marker.put()), ERROR_SUCCESS);
  EXPECT_NE(::RegGetValueW(HKEY_LOCAL_MACHINE, kProductKey, L"StartUp", RRF_RT_REG_SZ, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  // Exactly one of the two sessions was signed in, by the event that did not migrate.
  EXPECT_NE(store_.SessionUser(kSession).has_value(), store_.SessionUser(kSession + 1).has_value());
}

TEST_F(SignInRequiredTest, AMigrationThatFailsStopsThereAndIsNotRepeated) {
  AddServiceUser(L"1", L"al");
  AddServiceUser(L"2", L"bea");
  AddServiceUser(L"3", L"cy");
  SetUpgradeMarker(1);
  accountKnobs_.SetDword(L"AccountResult.CreateUser", 0x00020005);
  accountKnobs_.SetDword(L"AccountResult.CreateUser.After", 1);
  SetPlatformUser(L"al");
  ASSERT_TRUE(handler_);
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  std::vector<std::wstring> created;
  for (const std::wstring& call : AccountCalls())
    if (call.rfind(L"CreateUser(", 0) == 0) created.push_back(call);
  EXPECT_EQ(created, (std::vector<std::wstring>{L"CreateUser(\"al\", 0, 2)", L"CreateUser(\"bea\", 0, 2)"}));
  EXPECT_EQ(log_.Count(L"AddZELUsersToTARN - User could not be created [Error 0x00000000] lResult =00020005"), 1u);
  EXPECT_FALSE(store_.SessionUser(kSession));

  // The marker went with the first event: the next one signs in.
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  EXPECT_EQ(store_.SessionUser(kSession), std::optional<std::wstring>(L"al"));
}

TEST_F(SignInRequiredTest, AMarkerThatSaysNoIsConsumedAndALongStartupValueStays) {
  SetUpgradeMarker(0);
  SetPlatformUser(L"Kid");
  ASSERT_TRUE(handler_);
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  EXPECT_EQ(store_.SessionUser(kSession), std::optional<std::wstring>(L"Kid"));
  Strata::UniqueHkey marker;
  EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUpgradeKey, 0, KEY_READ, marker.put()), ERROR_SUCCESS);

  const std::wstring longName(32, L'x');
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"StartUp", REG_SZ, longName.c_str(),
                    static_cast<DWORD>((longName.size() + 1) * sizeof(wchar_t)));
  std::wstring startup = L"stale";
  EXPECT_FALSE(CGSSignInRequiredEventHandler::getStartupUserId(&startup));
  EXPECT_EQ(startup, L"");
  EXPECT_EQ(log_.Count(L"Failed to read startup user from registry (Err 234)\r\n"), 1u);
  EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, kProductKey, L"StartUp", RRF_RT_REG_SZ, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
}

TEST_F(SignInRequiredTest, AMigrationOverAnEnumerationThatDoesNotEndStopsAtTenThousandItems) {
  AddServiceUser(L"1", L"al");
  SetUpgradeMarker(1);
  ProcessKnobs service(ZelService::kStandInName);
  service.SetDword(L"EnumeratorExtraItems", 10050);
  SetPlatformUser(L"al");
  ASSERT_TRUE(handler_);
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  EXPECT_EQ(log_.Count(L"Stopped after 10000 ZEL users: the service's enumeration does not end\r\n"), 1u);
  std::vector<std::wstring> created;
  for (const std::wstring& call : AccountCalls())
    if (call.rfind(L"CreateUser(", 0) == 0) created.push_back(call);
  EXPECT_EQ(created, std::vector<std::wstring>{L"CreateUser(\"al\", 0, 2)"});
}

// A marker that cannot be deleted would migrate again on every event: nothing migrates, and the
// log says why.
TEST_F(SignInRequiredTest, AMarkerThatCannotBeConsumedMigratesNobodyAndSaysWhy) {
  AddServiceUser(L"1", L"al");
  SetUpgradeMarker(1);
  CGSSignInRequiredEventHandler::SetMarkerDeletion([](HKEY, LPCWSTR) -> LSTATUS { return ERROR_ACCESS_DENIED; });
  SetPlatformUser(L"al");
  ASSERT_TRUE(handler_);
  EXPECT_EQ(handler_->OnSignInRequiredEvent(kSession), S_OK);
  EXPECT_EQ(log_.Count(L"Failed to delete HKEY_LOCAL_MACHINE\\Software\\Varant\\temp (Err 5): the users are not "
                       L"migrated\r\n"),
            1u);
  EXPECT_EQ(log_.Count(L"bIsUpgradeNeeded = 0"), 1u);
  EXPECT_TRUE(AccountCalls().empty());
  EXPECT_EQ(store_.SessionUser(kSession), std::optional<std::wstring>(L"al"));
}

TEST_F(SignInRequiredTest, UserAndSignInEventsFromEightThreadsCreateTheUserOnce) {
  SetPlatformUser(L"twin");
  ASSERT_TRUE(handler_ && events_);
  std::vector<HRESULT> results(8, E_UNEXPECTED);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([this, i, &results] {
      ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      results[i] = i % 2 ? events_->NotifyEvent(2, L"twin") : handler_->OnSignInRequiredEvent(kSession);
      ::CoUninitialize();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (HRESULT hr : results) EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(ServiceUsers(), std::vector<std::wstring>{L"twin"});
  EXPECT_EQ(store_.SessionUser(kSession), std::optional<std::wstring>(L"twin"));
  handler_.Reset();
  events_.Reset();
  EXPECT_EQ(g_module.GetLockCount(), 0);
}

}  // namespace
