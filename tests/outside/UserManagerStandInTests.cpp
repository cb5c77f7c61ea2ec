// The user manager stand-in through its real registration and the suite factory: users by session
// with every result code the callers branch on, configured creation failures, enumeration, and the
// account manager's record of each call.
#include <windows.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include "AccountCallLog.h"
#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyClassFactory.h"
#include "KyUserManager.h"
#include "ProcessKnobs.h"
#include "StandInKnobs.h"
#include "TestSupport.h"

namespace {

using Microsoft::WRL::ComPtr;

constexpr DWORD kContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

struct TaskText {
  void operator()(wchar_t* text) const { ::CoTaskMemFree(text); }
};
using UniqueTaskText = std::unique_ptr<wchar_t, TaskText>;

class UserManagerStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(knobs_.Created());
    ASSERT_EQ(ZelTest::RegisterSiblingLibrary(L"KyUserManager.dll"), S_OK);
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
  void TearDown() override { ::CoUninitialize(); }

  std::wstring StatePath(const std::wstring& below) const { return knobs_.Path(below); }
  void SetText(const std::wstring& below, const wchar_t* name, const std::wstring& text) const {
    ASSERT_EQ(knobs_.SetText(below, name, text), ERROR_SUCCESS);
  }
  void SetDword(const std::wstring& below, const wchar_t* name, DWORD value) const {
    ASSERT_EQ(knobs_.SetDword(below, name, value), ERROR_SUCCESS);
  }
  void AddUser(const std::wstring& logonName, const std::wstring& displayName, DWORD kind) const {
    SetText(L"Users\\" + logonName, L"DisplayName", displayName);
    SetDword(L"Users\\" + logonName, L"Kind", kind);
  }
  void SignOn(DWORD session, const std::wstring& logonName) const {
    SetText(L"Sessions\\" + std::to_wstring(session), L"User", logonName);
  }

  ComPtr<IKyUserManager> CreateManager() const {
    ComPtr<IKyUserManager> manager;
    EXPECT_EQ(Ky::CreateInstanceViaFactory(CLSID_KyUserManager, kContext, IID_IKyUserManager, &manager), S_OK);
    return manager;
  }

  static std::wstring LogonName(IKyUser* user) {
    wchar_t* name = nullptr;
    LONG result = -1;
    EXPECT_EQ(user->GetLogonName(&name, &result), S_OK);
    EXPECT_EQ(result, 0);
    UniqueTaskText owned(name);
    return owned ? owned.get() : L"(null)";
  }

  ZelTest::ProcessKnobs knobs_{L"UserManager"};
};

TEST_F(UserManagerStandIn, LoggedOnUserOfASessionCarriesEveryConfiguredDetail) {
  AddUser(L"jamie", L"Jamie Doe", 1);
  SetDword(L"Users\\jamie", L"Startup", 1);
  SetDword(L"Users\\jamie", L"AdminFlag", 1);
  std::wstring sids(L"S-1-5-32-545\0S-1-5-21-1-2-3-1001\0", 34);
  ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, StatePath(L"Users\\jamie").c_str(), L"GroupSids", REG_MULTI_SZ,
                              sids.data(), static_cast<DWORD>(sids.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
  SignOn(3, L"jamie");

  ComPtr<IKyUserManager> manager = CreateManager();
  ComPtr<IKyUser> user;
  LONG result = -1;
  ASSERT_EQ(manager->GetLoggedOnUser(3, &user, &result), S_OK);
  EXPECT_EQ(result, 0);
  ASSERT_TRUE(user);
  EXPECT_EQ(LogonName(user.Get()), L"jamie");
  wchar_t* display = nullptr;
  ASSERT_EQ(user->GetDisplayName(&display, &result), S_OK);
  EXPECT_STREQ(UniqueTaskText(display).get(), L"Jamie Doe");
  LONG value = 0;
  EXPECT_EQ(user->GetUserType(&value, &result), S_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(user->IsStartupUser(&value, &result), S_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(user->GetAdminFlag(&value, &result), S_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(user->GetUserFlag(&value, &result), S_OK);
  EXPECT_EQ(value, 0);
  SAFEARRAY* groups = nullptr;
  ASSERT_EQ(user->GetGroupSids(&groups, &result), S_OK);
  ASSERT_TRUE(groups);
  LONG upper = -1;
  ::SafeArrayGetUBound(groups, 1, &upper);
  EXPECT_EQ(upper, 1);
  BSTR* texts = nullptr;
  ASSERT_EQ(::SafeArrayAccessData(groups, reinterpret_cast<void**>(&texts)), S_OK);
  EXPECT_STREQ(texts[0], L"S-1-5-32-545");
  EXPECT_STREQ(texts[1], L"S-1-5-21-1-2-3-1001");
  ::SafeArrayUnaccessData(groups);
  ::SafeArrayDestroy(groups);
}

TEST_F(UserManagerStandIn, EachConfiguredResultCodeComesBackWithoutAUser) {
  AddUser(L"sam", L"Sam", 2);
  for (DWORD code : {DWORD{ERROR_FILE_NOT_FOUND}, DWORD{ERROR_NO_TOKEN}, DWORD{ERROR_NOT_LOGGED_ON}, DWORD{0x00020005}}) {
    SignOn(4, L"sam");
    SetDword(L"Sessions\\4", L"Result", code);
    ComPtr<IKyUser> user;
    LONG result = 0;
    EXPECT_EQ(CreateManager()->GetLoggedOnUser(4, &user, &result), S_OK);
    EXPECT_EQ(static_cast<DWORD>(result), code);
    EXPECT_FALSE(user) << code;
  }
}

TEST_F(UserManagerStandIn, ResultBitsAboveTheErrorPartStillCarryTheUser) {
  AddUser(L"sam", L"Sam", 2);
  SignOn(5, L"sam");
  SetDword(L"Sessions\\5", L"Result", 0x00020000);
  ComPtr<IKyUser> user;
  LONG result = 0;
  ASSERT_EQ(CreateManager()->GetLoggedOnUser(5, &user, &result), S_OK);
  EXPECT_EQ(result, 0x00020000);
  ASSERT_TRUE(user);
  EXPECT_EQ(LogonName(user.Get()), L"sam");
}

TEST_F(UserManagerStandIn, SessionsNobodySignedOnToAnswerNotLoggedOn) {
  ComPtr<IKyUser> user;
  LONG result = 0;
  EXPECT_EQ(CreateManager()->GetLoggedOnUser(77, &user, &result), S_OK);
  EXPECT_EQ(result, ERROR_NOT_LOGGED_ON);
  EXPECT_FALSE(user);
  SignOn(78, L"nobody-configured");
  EXPECT_EQ(CreateManager()->GetLoggedOnUser(78, &user, &result), S_OK);
  EXPECT_EQ(result, ERROR_NO_SUCH_USER);
}

TEST_F(UserManagerStandIn, CreationAnswersTheConfiguredFailureWithNoObject) {
  knobs_.SetDword(L"CreateHResult", static_cast<DWORD>(CO_E_SERVER_STOPPING));
  ComPtr<IKyUserManager> manager;
  EXPECT_EQ(Ky::CreateInstanceViaFactory(CLSID_KyUserManager, kContext, IID_IKyUserManager, &manager),
            CO_E_SERVER_STOPPING);
  EXPECT_FALSE(manager);
}

TEST_F(UserManagerStandIn, CreationCanSucceedWithANullObject) {
  knobs_.SetDword(L"CreateNullObject", 1);
  ComPtr<IKyClassFactory> factory;
  ASSERT_EQ(::CoGetClassObject(CLSID_KyUserManager, kContext, nullptr, IID_IKyClassFactory, &factory), S_OK);
  ComPtr<IUnknown> manager;
  EXPECT_EQ(factory->CreateInstance(IID_IKyUserManager, &manager), S_OK);
  EXPECT_FALSE(manager);
}

TEST_F(UserManagerStandIn, EnumeratesUsersInLogonNameOrderIncludingCreatedOnes) {
  AddUser(L"bea", L"Bea", 2);
  AddUser(L"al", L"Al", 1);
  ComPtr<IKyUserManager> manager = CreateManager();
  ComPtr<IKyUserAccountManager> accounts;
  ASSERT_EQ(manager.As(&accounts), S_OK);
  wchar_t newName[] = L"cy";
  tagKYUSER_ACCOUNT_INFO info{newName, 0, 2};
  LONG result = -1;
  ASSERT_EQ(accounts->CreateUser(&info, &result), S_OK);

  ComPtr<IKyUserEnumerator> users;
  ASSERT_EQ(manager->EnumUsers(&users, &result), S_OK);
  std::vector<std::wstring> names;
  for (ComPtr<IKyUser> user; users->Next(&user, &result) == S_OK && user; user.Reset()) names.push_back(LogonName(user.Get()));
  EXPECT_EQ(names, (std::vector<std::wstring>{L"al", L"bea", L"cy"}));
  ComPtr<IKyUser> past;
  EXPECT_EQ(users->Next(&past, &result), S_FALSE);
  EXPECT_FALSE(past);
}

TEST_F(UserManagerStandIn, AccountManagerRecordsEveryCallWithItsArguments) {
  ComPtr<IKyUserAccountManager> accounts;
  ASSERT_EQ(Ky::CreateInstanceViaFactory(CLSID_KyUserManager, kContext, IID_IKyUserAccountManager, &accounts), S_OK);
  knobs_.SetDword(L"AccountResult.LogIn", 0x00020005);
  wchar_t name[] = L"jamie";
  tagKYUSER_ACCOUNT_INFO info{name, 1, 2};
  LONG result = -1;
  EXPECT_EQ(accounts->CreateUser(&info, &result), S_OK);
  EXPECT_EQ(result, 0);
  BSTR startup = ::SysAllocString(L"Admin");
  EXPECT_EQ(accounts->SetStartupUser(&startup, &result), S_OK);
  EXPECT_STREQ(startup, L"Admin");
  ::SysFreeString(startup);
  const BYTE password[] = {0x00, 0x7F, 0xFF};
  EXPECT_EQ(accounts->SetPassword(L"jamie", password, 3, &result), S_OK);
  EXPECT_EQ(accounts->LogIn(L"jamie", nullptr, &result), S_OK);
  EXPECT_EQ(result, 0x00020005);
  EXPECT_EQ(accounts->SetLoginUserMode(2, &result), S_OK);
  EXPECT_EQ(accounts->SetAdministratorInfo(L"Dana", L"dana@example.test", L"", &result), S_OK);
  BSTR administrator = nullptr;
  EXPECT_EQ(accounts->GetAdministratorName(&administrator, &result), S_OK);
  EXPECT_STREQ(administrator, L"Dana");
  ::SysFreeString(administrator);

  std::wstring key = ZelStandIns::StandInKnobs::ProcessKeyPath(L"UserManager", ::GetCurrentProcessId());
  EXPECT_EQ(ZelStandIns::AccountCallLog(key).ReadAll(),
            (std::vector<std::wstring>{L"CreateUser(\"jamie\", 1, 2)", L"SetStartupUser(\"Admin\")",
                                       L"SetPassword(\"jamie\", [007FFF], 3)", L"LogIn(\"jamie\", (null))",
                                       L"SetLoginUserMode(2)",
                                       L"SetAdministratorInfo(\"Dana\", \"dana@example.test\", \"\")",
                                       L"GetAdministratorName()"}));
}

}  // namespace
