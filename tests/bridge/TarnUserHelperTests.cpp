// The platform user helper against the user manager stand-in, registered for real and steered
// through this process's knobs: each result code the helper branches on, the logged-on flag, the
// lasting refusal after CO_E_SERVER_STOPPING, a null user manager, and a name longer than the
// caller's buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ProcessKnobs.h"
#include "TarnUserHelper.h"
#include "TestSupport.h"

namespace {

constexpr DWORD kSession = 5;

class TarnUserHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(userManager_.Created());
    ASSERT_TRUE(utility_.Created());
    ASSERT_EQ(ZelTest::RegisterSiblingLibrary(L"KyUserManager.dll"), S_OK);
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
  void TearDown() override { ::CoUninitialize(); }

  void SignOn(DWORD session, const std::wstring& logonName, DWORD startup = 0) const {
    userManager_.SetDword(L"Users\\" + logonName, L"Kind", 0);
    userManager_.SetDword(L"Users\\" + logonName, L"Startup", startup);
    userManager_.SetText(L"Sessions\\" + std::to_wstring(session), L"User", logonName);
  }
  void AnswerSession(DWORD session, DWORD result) const {
    userManager_.SetDword(L"Sessions\\" + std::to_wstring(session), L"Result", result);
  }

  struct Answer {
    bool found;
    std::wstring name;
    long kind;
    long startup;
    bool loggedOn;
  };
  Answer Ask(CTarnUserHelper& helper, DWORD session, size_t capacity = CTarnUserHelper::kUserNameCapacity) {
    std::wstring buffer(capacity + 4, L'#');
    Answer answer{false, L"", -1, -1, false};
    answer.found = helper.GetCurrentlyLoggedOnUser(session, &buffer[0], capacity, &answer.kind, &answer.startup,
                                                   &answer.loggedOn);
    EXPECT_EQ(buffer.substr(capacity), L"####") << "written past the buffer";
    if (answer.found) answer.name = buffer.c_str();
    return answer;
  }

  ZelTest::ProcessKnobs userManager_{L"UserManager"};
  ZelTest::ProcessKnobs utility_{L"KyUtil"};
};

TEST_F(TarnUserHelperTest, SignedOnUserComesWithNameKindAndStartupFlag) {
  SignOn(kSession, L"Robin", 1);
  CTarnUserHelper helper;
  Answer answer = Ask(helper, kSession);
  EXPECT_TRUE(answer.found);
  EXPECT_EQ(answer.name, L"Robin");
  EXPECT_EQ(answer.kind, 1);
  EXPECT_EQ(answer.startup, 1);
  EXPECT_TRUE(answer.loggedOn);
  EXPECT_TRUE(helper.IsSessionCurrentUserAdmin(kSession));
}

// A service frees unused libraries while a logging thread it left behind still builds records.
// Between two questions no manager is alive, and a library unloaded then can be unmapped under a
// thread that is just finding or releasing a manager: it stays while the helper lives.
TEST_F(TarnUserHelperTest, TheUserManagersLibraryStaysLoadedWhileTheHelperLives) {
  SignOn(kSession, L"Robin");
  {
    CTarnUserHelper helper;
    for (int question = 0; question < 3; ++question) {
      EXPECT_TRUE(Ask(helper, kSession).found) << question;
      ::CoFreeUnusedLibrariesEx(0, 0);
      EXPECT_NE(::GetModuleHandleW(L"KyUserManager.dll"), nullptr) << question;
    }
  }
  ::CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_EQ(::GetModuleHandleW(L"KyUserManager.dll"), nullptr) << "the helper kept the library past its end";
}

TEST_F(TarnUserHelperTest, NotLoggedOnClearsTheLoggedOnFlag) {
  CTarnUserHelper helper;
  Answer answer = Ask(helper, 9);  // a session the stand-in does not know answers 1245
  EXPECT_FALSE(answer.found);
  EXPECT_FALSE(answer.loggedOn);
  EXPECT_FALSE(helper.IsSessionCurrentUserAdmin(9));
}

TEST_F(TarnUserHelperTest, FileNotFoundMeansNotLoggedOnOnlyOnTheNewestWindowsGeneration) {
  SignOn(kSession, L"Robin");
  AnswerSession(kSession, ERROR_FILE_NOT_FOUND);
  CTarnUserHelper helper;

  utility_.SetDword(L"OSVersion2", 3);
  Answer older = Ask(helper, kSession);
  EXPECT_FALSE(older.found);
  EXPECT_TRUE(older.loggedOn);

  utility_.SetDword(L"OSVersion2", 4);
  Answer newest = Ask(helper, kSession);
  EXPECT_FALSE(newest.found);
  EXPECT_FALSE(newest.loggedOn);
}

TEST_F(TarnUserHelperTest, NoTokenAndOtherResultsFailWithTheFlagSet) {
  SignOn(kSession, L"Robin");
  CTarnUserHelper helper;
  for (DWORD result : {DWORD{ERROR_NO_TOKEN}, DWORD{5}, DWORD{0x0001FFFF}}) {
    AnswerSession(kSession, result);
    Answer answer = Ask(helper, kSession);
    EXPECT_FALSE(answer.found) << result;
    EXPECT_TRUE(answer.loggedOn) << result;
  }
}

TEST_F(TarnUserHelperTest, OnlyTheLowSeventeenBitsOfTheResultCount) {
  SignOn(kSession, L"Robin");
  AnswerSession(kSession, 0x00020000);
  CTarnUserHelper helper;
  Answer answer = Ask(helper, kSession);
  EXPECT_TRUE(answer.found);
  EXPECT_EQ(answer.name, L"Robin");
}

TEST_F(TarnUserHelperTest, FailedNameQueryFailsTheLookup) {
  SignOn(kSession, L"Robin");
  userManager_.SetDword(L"Users\\Robin", L"NameResult", 13);
  CTarnUserHelper helper;
  Answer answer = Ask(helper, kSession);
  EXPECT_FALSE(answer.found);
  EXPECT_TRUE(answer.loggedOn);
}

TEST_F(TarnUserHelperTest, LongNameIsTruncatedToTheBufferAndTerminated) {
  SignOn(kSession, L"Alexandrina");
  CTarnUserHelper helper;
  Answer answer = Ask(helper, kSession, 5);
  EXPECT_TRUE(answer.found);
  EXPECT_EQ(answer.name, L"Alex");
}

TEST_F(TarnUserHelperTest, ServerStoppingIsFinalForTheHelper) {
  SignOn(kSession, L"Robin");
  userManager_.SetDword(L"CreateHResult", static_cast<DWORD>(CO_E_SERVER_STOPPING));
  CTarnUserHelper helper;
  EXPECT_FALSE(Ask(helper, kSession).found);
  EXPECT_EQ(helper.LastCreationResult(), CO_E_SERVER_STOPPING);

  // The platform would answer now, but the helper no longer asks.
  userManager_.SetDword(L"CreateHResult", S_OK);
  Microsoft::WRL::ComPtr<IKyUserManager> manager;
  EXPECT_EQ(helper.acquireUserManager(&manager), CO_E_SERVER_STOPPING);
  EXPECT_FALSE(manager);
  EXPECT_FALSE(Ask(helper, kSession).found);

  CTarnUserHelper fresh;
  EXPECT_TRUE(Ask(fresh, kSession).found);
}

TEST_F(TarnUserHelperTest, OtherCreationFailuresAreRetriedOnTheNextCall) {
  SignOn(kSession, L"Robin");
  userManager_.SetDword(L"CreateHResult", static_cast<DWORD>(CO_E_SERVER_EXEC_FAILURE));
  CTarnUserHelper helper;
  EXPECT_FALSE(Ask(helper, kSession).found);
  userManager_.SetDword(L"CreateHResult", S_OK);
  EXPECT_TRUE(Ask(helper, kSession).found);
}

TEST_F(TarnUserHelperTest, NullUserManagerCountsAsFailure) {
  SignOn(kSession, L"Robin");
  userManager_.SetDword(L"CreateNullObject", 1);
  CTarnUserHelper helper;
  Answer answer = Ask(helper, kSession);
  EXPECT_FALSE(answer.found);
  EXPECT_TRUE(answer.loggedOn);
  EXPECT_EQ(helper.LastCreationResult(), E_FAIL);
}

TEST_F(TarnUserHelperTest, VariantFormFillsNameKindAndStartupOrClearsThem) {
  SignOn(kSession, L"Robin", 1);
  CTarnUserHelper helper;
  VARIANT name, kind, startup;
  ::VariantInit(&name);
  ::VariantInit(&kind);
  ::VariantInit(&startup);
  bool loggedOn = false;
  ASSERT_EQ(helper.GetLoggedOnUserVariants(kSession, &name, &kind, &startup, &loggedOn), S_OK);
  EXPECT_EQ(V_VT(&name), VT_BSTR);
  EXPECT_STREQ(V_BSTR(&name), L"Robin");
  EXPECT_EQ(V_VT(&kind), VT_I4);
  EXPECT_EQ(V_I4(&kind), 1);
  EXPECT_EQ(V_VT(&startup), VT_I4);
  EXPECT_EQ(V_I4(&startup), 1);

  EXPECT_EQ(helper.GetLoggedOnUserVariants(9, &name, &kind, &startup, &loggedOn), S_FALSE);
  EXPECT_EQ(V_VT(&name), VT_EMPTY);
  EXPECT_EQ(V_VT(&kind), VT_EMPTY);
  EXPECT_FALSE(loggedOn);
  ::VariantClear(&startup);
}

TEST(SessionId, CurrentProcessSessionIsRead) {
  // Every process under Wine reports session 1.
  EXPECT_EQ(getSessionId(), 1u);
}

}  // namespace
