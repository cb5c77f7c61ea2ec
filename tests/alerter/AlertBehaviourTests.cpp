// The alerter's alert behaviours in this process against the alert library stand-in, which
// records each shown alert under this process's own key and ends tracked ones on command.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <wrl/client.h>

#include "Alert.h"
#include "AlertEngine.h"
#include "AlerterTestSupport.h"
#include "ComObject.h"
#include "Handles.h"
#include "ProcessKnobs.h"
#include "RetryList.h"
#include "RetryThread.h"
#include "StandInKnobs.h"
#include "TestSupport.h"
#include "TypelessDispatch.h"

namespace {

using AlerterTest::Text;
using AlerterTest::WaitUntil;
using Microsoft::WRL::ComPtr;

constexpr wchar_t kUiClass[] = L"{E0EC0F2B-773D-4dd7-BE6C-7D85D6AA6269}";

// Plays the caller that offered the do-not-show-again option.
class RecordingCallback final : public Ky::ComObject<Ky::NoModuleLock, Ky::TypelessDispatch<IAlertCallback>> {
 public:
  explicit RecordingCallback(HRESULT answer) : answer_(answer) {}
  STDMETHODIMP DoNotShowAgain(BSTR typeId, LONG sessionId) override {
    typeId_ = typeId ? typeId : L"";
    sessionId_ = sessionId;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(::CoGetApartmentType(&apartment_, &qualifier))) apartment_ = APTTYPE_CURRENT;
    if (blockFor_) {
      ::SetEvent(entered_.get());
      // Whether the engine could end while its notification was still running.
      outlived_ = ::WaitForSingleObject(engineGone_.get(), blockFor_) == WAIT_OBJECT_0;
    }
    ++calls_;
    return answer_;
  }

  // Each call waits up to `ms` for EngineGone, telling Entered first.
  void BlockFor(DWORD ms) { blockFor_ = ms; }
  HANDLE Entered() const { return entered_.get(); }
  void EngineGone() const { ::SetEvent(engineGone_.get()); }

  std::atomic<int> calls_{0};
  std::wstring typeId_;
  LONG sessionId_ = -1;
  APTTYPE apartment_ = APTTYPE_CURRENT;
  std::atomic<bool> outlived_{false};

 private:
  const HRESULT answer_;
  DWORD blockFor_ = 0;
  Strata::UniqueHandle entered_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  Strata::UniqueHandle engineGone_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

class AlertBehaviour : public ::testing::Test {
 protected:
  void SetUp() override {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(knobs_.Created());
  }
  void TearDown() override {
    alert_.Reset();
    engine_.reset();
    if (!classesKey_.empty()) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, classesKey_.c_str());
    ::CoUninitialize();
  }

  void Start(uint32_t retryDelaySeconds, const wchar_t* libraryBuild = L"") {
    AlertEngineOptions options;
    options.libraryFolder = ZelTest::SiblingPath(libraryBuild);
    options.retryDelaySeconds = retryDelaySeconds;
    classesKey_ = L"Software\\ZelTests\\Alerter" + std::to_wstring(::GetCurrentProcessId()) + L"\\Classes";
    options.uiClassesKey = classesKey_;
    engine_ = std::make_unique<CAlertEngine>(options);
    ASSERT_EQ(engine_->BindResult(), 0u);
    ASSERT_EQ(CAlert::Create(engine_->Services(), IID_IAlert, &alert_), S_OK);
  }

  HRESULT Simple(const wchar_t* title, bool noRepeat, bool retryIfFailed = false, const wchar_t* type = L"T1") {
    Text language(L"en-US"), text(title), content(L"Content"), details(L"Details"), app(L"ZEL"), typeId(type);
    return alert_->ShowSimpleAlert(language, text, content, details, app, typeId, 2, 1, 30,
                                   noRepeat ? VARIANT_TRUE : VARIANT_FALSE, retryIfFailed ? VARIANT_TRUE : VARIANT_FALSE);
  }

  using ButtonTexts = std::vector<std::pair<std::wstring, std::wstring>>;

  // The buttons as C++ and VBScript pass them by value: a safe array of two-text safe arrays.
  static VARIANT ButtonArray(const ButtonTexts& buttons) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(buttons.size()), 0};
    VARIANT outer;
    ::VariantInit(&outer);
    outer.vt = VT_ARRAY | VT_VARIANT;
    outer.parray = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(buttons.size()); ++i) {
      SAFEARRAYBOUND pairBound{2, 0};
      VARIANT pair;
      ::VariantInit(&pair);
      pair.vt = VT_ARRAY | VT_VARIANT;
      pair.parray = ::SafeArrayCreate(VT_VARIANT, 1, &pairBound);
      const std::wstring* texts[] = {&buttons[i].first, &buttons[i].second};
      for (LONG j = 0; j < 2; ++j) {
        VARIANT element;
        element.vt = VT_BSTR;
        element.bstrVal = ::SysAllocString(texts[j]->c_str());
        ::SafeArrayPutElement(pair.parray, &j, &element);
        ::VariantClear(&element);
      }
      ::SafeArrayPutElement(outer.parray, &i, &pair);
      ::VariantClear(&pair);
    }
    return outer;
  }

  HRESULT ShowButtons(const wchar_t* title, const VARIANT& buttons) {
    Text language(L"en-US"), text(title), content(L"Content"), app(L"ZEL"), typeId(L"Buttons");
    return alert_->ShowAlertWithActionsToLaunchUI(language, text, content, nullptr, app, typeId, 2, 1, 30, buttons,
                                                  VARIANT_FALSE, VARIANT_FALSE);
  }

  HRESULT WithButtons(const wchar_t* title, const ButtonTexts& buttons) {
    VARIANT outer = ButtonArray(buttons);
    HRESULT hr = ShowButtons(title, outer);
    ::VariantClear(&outer);
    return hr;
  }

  HRESULT WithOption(const wchar_t* title, IAlertCallback* callback, const wchar_t* type, bool retryIfFailed = false) {
    Text language(L"en-US"), text(title), content(L"Content"), app(L"ZEL"), typeId(type), option(L"Do not show again");
    return alert_->ShowAlertWithDoNotShowAgainOption(language, text, content, nullptr, app, typeId, 2, 1, 30,
                                                     VARIANT_TRUE, retryIfFailed ? VARIANT_TRUE : VARIANT_FALSE,
                                                     callback, option);
  }

  void RegisterUi(const std::wstring& path) {
    const std::wstring key = classesKey_ + L"\\CLSID\\" + kUiClass + L"\\LocalServer32";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, path.c_str(),
                                static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }

  size_t Shown() const { return alerts_.Count(); }

  ZelTest::ProcessKnobs knobs_{L"KyPltAlt"};
  AlerterTest::StandInAlerts alerts_{ZelStandIns::StandInKnobs::ProcessKeyPath(L"KyPltAlt", ::GetCurrentProcessId())};
  std::wstring classesKey_;
  std::unique_ptr<CAlertEngine> engine_;
  ComPtr<IAlert> alert_;
};

// Every member of the record, for each of the three kinds of alert.
TEST_F(AlertBehaviour, TheRecordCarriesTheCallersTextsAndTheLibrarysConstants) {
  Start(0);
  ComPtr<RecordingCallback> callback;
  *callback.GetAddressOf() = new RecordingCallback(S_OK);
  struct Case {
    const char* name;
    std::function<HRESULT()> show;
    const wchar_t* title;
    const wchar_t* typeId;
    std::optional<std::wstring> details;
    std::vector<std::wstring> buttons;
    std::optional<std::wstring> option;
    DWORD tracked;
  };
  const Case cases[] = {
      {"buttons", [&] { return WithButtons(L"Blocked", {{L"Open", L"--tab 2"}, {L"Later", L""}}); }, L"Blocked",
       L"Buttons", std::nullopt, {L"1=Open", L"2=Later"}, std::nullopt, 1},
      {"details", [&] { return Simple(L"Simple", false); }, L"Simple", L"T1", L"Details", {}, std::nullopt, 0},
      {"option", [&] { return WithOption(L"Optional", callback.Get(), L"Kind"); }, L"Optional", L"Kind",
       std::nullopt, {}, L"Do not show again", 1},
  };
  for (const Case& c : cases) {
    alerts_.Clear();
    ASSERT_EQ(c.show(), S_OK) << c.name;
    ASSERT_EQ(Shown(), 1u) << c.name;
    const DWORD handle = alerts_.Handles()[0];
    EXPECT_EQ(alerts_.ReadText(handle, L"Title"), c.title) << c.name;
    EXPECT_EQ(alerts_.ReadText(handle, L"TypeId"), c.typeId) << c.name;
    EXPECT_EQ(alerts_.ReadText(handle, L"Language"), L"en-US") << c.name;
    EXPECT_EQ(alerts_.ReadText(handle, L"AppId"), L"ZEL") << c.name;
    EXPECT_EQ(alerts_.ReadText(handle, L"DefaultContent"), L"Content") << c.name;
    EXPECT_EQ(alerts_.ReadText(handle, L"DetailsContent"), c.details) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"Priority"), 2u) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"Status"), 1u) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"Timeout"), 30u) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"Marker"), 355u) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"ButtonCount"), c.buttons.size()) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"HasButtons"), c.buttons.empty() ? 0u : 1u) << c.name;
    EXPECT_EQ(alerts_.ReadTexts(handle, L"Buttons"), c.buttons) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"HasOption"), c.option ? 1u : 0u) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"OptionId"), c.option ? std::optional<DWORD>(2501) : std::nullopt) << c.name;
    EXPECT_EQ(alerts_.ReadText(handle, L"OptionText"), c.option) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"OptionChecked"), c.option ? std::optional<DWORD>(0) : std::nullopt)
        << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"ReservedZero"), 1u) << c.name;
    EXPECT_EQ(alerts_.ReadDword(handle, L"Tracked"), c.tracked) << c.name;
    if (c.tracked) alerts_.Complete(handle, 0, false);
    ASSERT_TRUE(WaitUntil([&] { return engine_->ActiveCount() == 0; })) << c.name;
  }
}

// Script callers pass variables by reference, at any level of the buttons; the library receives
// the same buttons as from an array written inline.
TEST_F(AlertBehaviour, ButtonsPassedThroughReferencesReachTheLibrary) {
  Start(0);
  VARIANT byValue = ButtonArray({{L"Open", L"--open 1"}, {L"Settings", L"--tab 2"}});
  // The pairs and texts as variables too: every element refers to a copy held here.
  std::vector<VARIANT> held(6);
  for (VARIANT& v : held) ::VariantInit(&v);
  VARIANT nested = ButtonArray({{L"Open", L"--open 1"}, {L"Settings", L"--tab 2"}});
  for (LONG i = 0; i < 2; ++i) {
    VARIANT pair;
    ::VariantInit(&pair);
    ASSERT_EQ(::SafeArrayGetElement(nested.parray, &i, &pair), S_OK);
    for (LONG j = 0; j < 2; ++j) {
      VARIANT& textHolder = held[2 + i * 2 + j];
      ASSERT_EQ(::SafeArrayGetElement(pair.parray, &j, &textHolder), S_OK);
      VARIANT reference;
      reference.vt = VT_BYREF | VT_BSTR;
      reference.pbstrVal = &textHolder.bstrVal;
      ASSERT_EQ(::SafeArrayPutElement(pair.parray, &j, &reference), S_OK);
    }
    held[i] = pair;
    VARIANT reference;
    reference.vt = VT_BYREF | VT_VARIANT;
    reference.pvarVal = &held[i];
    ASSERT_EQ(::SafeArrayPutElement(nested.parray, &i, &reference), S_OK);
  }
  struct Case {
    const char* name;
    VARIANT buttons;
  };
  Case cases[] = {{"by value", byValue}, {"a variable", {}}, {"an array by reference", {}},
                  {"pairs and texts as variables", {}}};
  cases[1].buttons.vt = VT_BYREF | VT_VARIANT;
  cases[1].buttons.pvarVal = &byValue;
  cases[2].buttons.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
  cases[2].buttons.pparray = &byValue.parray;
  cases[3].buttons.vt = VT_BYREF | VT_VARIANT;
  cases[3].buttons.pvarVal = &nested;
  for (const Case& c : cases) {
    ASSERT_EQ(ShowButtons(L"Referenced", c.buttons), S_OK) << c.name;
    const DWORD handle = alerts_.Handles().back();
    EXPECT_EQ(alerts_.ReadDword(handle, L"ButtonCount"), 2u) << c.name;
    EXPECT_EQ(alerts_.ReadTexts(handle, L"Buttons"), (std::vector<std::wstring>{L"1=Open", L"2=Settings"})) << c.name;
    alerts_.Complete(handle, 0, false);
    ASSERT_TRUE(WaitUntil([&] { return engine_->ActiveCount() == 0; })) << c.name;
  }
  // Before the arrays that refer to them go, the holders stay; the arrays only refer.
  ::VariantClear(&nested);
  ::VariantClear(&byValue);
  for (VARIANT& v : held) ::VariantClear(&v);
}

TEST_F(AlertBehaviour, AnEmptyButtonArrayShowsTheAlertWithoutButtons) {
  Start(0);
  VARIANT none = ButtonArray({});
  EXPECT_EQ(ShowButtons(L"No buttons", none), S_OK);
  ::VariantClear(&none);
  ASSERT_EQ(Shown(), 1u);
  const DWORD handle = alerts_.Handles()[0];
  EXPECT_EQ(alerts_.ReadDword(handle, L"ButtonCount"), 0u);
  EXPECT_EQ(alerts_.ReadDword(handle, L"HasButtons"), 0u);
}

// The user interface's registration, as installers write it: quoted when its path has blanks, or
// (older ones) unquoted, with or without arguments after the program.
TEST_F(AlertBehaviour, TheUserInterfaceIsFoundFromAQuotedOrAnUnquotedRegistration) {
  Start(0);
  const std::wstring program = L"C:\\Program Files\\Varant\\ZEL\\ZelUi.exe";
  const struct {
    const char* name;
    std::wstring value;
    std::optional<std::wstring> expected;
  } cases[] = {
      {"quoted", L"\"" + program + L"\"", program},
      {"quoted with arguments", L"\"" + program + L"\" /automation", program},
      {"unquoted", program, program},
      {"unquoted with arguments", program + L" /automation", program},
      {"a quote never closed", L"\"" + program, std::nullopt},
      {"text glued to the closing quote", L"\"C:\\Program Files\\Varant\"\\ZelUi.exe", std::nullopt},
  };
  for (const auto& c : cases) {
    RegisterUi(c.value);
    EXPECT_EQ(CUiLauncher(classesKey_).RegisteredPath(), c.expected) << c.name;
  }
}

TEST_F(AlertBehaviour, RepeatsAreShownOnlyWhenTheyMayRepeat) {
  struct Case {
    const char* name;
    bool noRepeat;
    size_t shown;
    size_t active;
  };
  const Case cases[] = {{"no-repeat twice: shown once", true, 1, 1}, {"untracked twice: shown twice", false, 2, 0}};
  for (const Case& c : cases) {
    alerts_.Clear();
    Start(0);
    EXPECT_EQ(Simple(L"Same", c.noRepeat), S_OK) << c.name;
    EXPECT_EQ(Simple(L"Same", c.noRepeat), S_OK) << c.name;
    EXPECT_EQ(Shown(), c.shown) << c.name;
    EXPECT_EQ(engine_->ActiveCount(), c.active) << c.name;
    alert_.Reset();
    engine_.reset();
  }
}

TEST_F(AlertBehaviour, AnAlertArrivingWhileAnotherIsDisplayedIsReplayedAtOnce) {
  Start(600);
  ASSERT_EQ(Simple(L"First", true), S_OK);
  ASSERT_EQ(Simple(L"Second", true), S_OK);
  EXPECT_TRUE(WaitUntil([&] { return Shown() == 2; }));
  EXPECT_TRUE(WaitUntil([&] { return engine_->QueuedCount() == 0; }));
  EXPECT_EQ(engine_->ActiveCount(), 2u);
}

TEST_F(AlertBehaviour, WithoutARetryDelayAQueuedAlertIsDropped) {
  Start(0);
  EXPECT_FALSE(engine_->RetryThreadRunning());
  ASSERT_EQ(Simple(L"First", true), S_OK);
  EXPECT_EQ(Simple(L"Second", true, true), S_OK);
  ::Sleep(300);
  EXPECT_EQ(Shown(), 1u);
  EXPECT_EQ(engine_->QueuedCount(), 0u);
}

TEST_F(AlertBehaviour, AFailedShowFailsTheCallOnlyWhenTracked) {
  struct Case {
    const char* name;
    bool noRepeat;
    bool retryIfFailed;
    HRESULT expected;
    size_t queued;
  };
  const Case cases[] = {{"tracked, retry if failed", true, true, E_FAIL, 1},
                        {"tracked, no retry", true, false, E_FAIL, 0},
                        {"untracked", false, true, S_OK, 0}};
  knobs_.SetDword(L"ShowResult", 5);
  for (const Case& c : cases) {
    Start(600);
    EXPECT_EQ(Simple(L"Failing", c.noRepeat, c.retryIfFailed), c.expected) << c.name;
    // The retry thread tries the queued alert once at once; it stays queued.
    ::Sleep(300);
    EXPECT_EQ(engine_->QueuedCount(), c.queued) << c.name;
    EXPECT_EQ(engine_->ActiveCount(), 0u) << c.name;
    alert_.Reset();
    engine_.reset();
  }
}

TEST_F(AlertBehaviour, AFailingAlertIsReplayedEveryRetryDelayUntilItIsShown) {
  constexpr DWORD kFailures = 3;
  constexpr ULONGLONG kDelayMs = 1000;
  knobs_.SetDword(L"FailNextShows", kFailures);
  Start(1);
  const ULONGLONG failed = ::GetTickCount64();
  EXPECT_EQ(Simple(L"Eventually", true, true), E_FAIL);
  EXPECT_EQ(Shown(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return Shown() == 1; }, 20000));
  // The call's own show and the replay at once fail; each later replay waits for the timer. The
  // clock's steps are coarser than its unit, hence the small allowance.
  EXPECT_GE(::GetTickCount64() - failed, (kFailures - 1) * kDelayMs - 50) << "replays came before the retry delay";
  // The library records the show before its call returns to the replay that then leaves the list.
  EXPECT_TRUE(WaitUntil([&] { return engine_->QueuedCount() == 0; }, 20000));
  EXPECT_EQ(knobs_.ReadDword(L"FailNextShows"), 0u);
}

// While the library keeps failing, each distinct alert that may be retried waits in the list and
// holds its CAlert: past the bound they are refused, and the caller is told so.
TEST_F(AlertBehaviour, TheRetryListHoldsAThousandAlertsAndRefusesTheRest) {
  knobs_.SetDword(L"ShowResult", 5);
  Start(1);
  constexpr size_t kOver = 10;
  size_t queued = 0;
  size_t refused = 0;
  for (size_t n = 0; n < CRetryList::kMaxQueued + kOver; ++n) {
    const HRESULT hr = Simple((L"Failing " + std::to_wstring(n)).c_str(), true, true);
    // E_FAIL for a failed show; S_OK when it went to the list while a replay was being shown.
    queued += hr == E_FAIL || hr == S_OK ? 1 : 0;
    refused += hr == HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA) ? 1 : 0;
  }
  EXPECT_EQ(queued, CRetryList::kMaxQueued);
  EXPECT_EQ(refused, kOver);
  EXPECT_EQ(engine_->QueuedCount(), CRetryList::kMaxQueued);
  // Once the library works again, the list drains.
  knobs_.SetDword(L"ShowResult", 0);
  ASSERT_TRUE(WaitUntil([&] { return engine_->QueuedCount() == 0; }, 60000));
  EXPECT_EQ(Shown(), CRetryList::kMaxQueued);
}

TEST_F(AlertBehaviour, AChosenButtonStartsTheRegisteredUserInterfaceWithItsAction) {
  struct Case {
    const char* name;
    DWORD button;
    bool launched;
  };
  const Case cases[] = {{"first button", 1, true}, {"button 0", 0, false}, {"past the count", 3, false}};
  Start(0);
  wchar_t system[MAX_PATH];
  ::GetSystemDirectoryW(system, MAX_PATH);
  RegisterUi(L"\"" + std::wstring(system) + L"\\cmd.exe\"");
  for (const Case& c : cases) {
    ZelTest::TempFolder folder;
    const std::wstring marker = folder / L"launched.txt";
    ASSERT_EQ(WithButtons(L"Launch", {{L"Open", L"/c echo launched>\"" + marker + L"\""}, {L"Later", L""}}), S_OK);
    const DWORD handle = alerts_.Handles().back();
    alerts_.Complete(handle, c.button, false);
    ASSERT_TRUE(WaitUntil([&] { return engine_->ActiveCount() == 0; })) << c.name;
    EXPECT_EQ(WaitUntil([&] { return ZelTest::FileExists(marker); }, c.launched ? 10000 : 1000), c.launched) << c.name;
  }
}

// A registered path is never cut to fit: the cut text could name another program. A real program
// at a path past the limit is not started.
TEST_F(AlertBehaviour, ARegisteredPathTooLongIsNeverLaunched) {
  Start(0);
  ZelTest::TempFolder folder;
  std::wstring deep = folder / L"";
  while (deep.size() <= CUiLauncher::kMaxPathChars) {
    deep += std::wstring(40, L'd') + L"\\";
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  }
  const std::wstring program = deep + L"cmd.exe";
  wchar_t system[MAX_PATH];
  ::GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_TRUE(::CopyFileW((std::wstring(system) + L"\\cmd.exe").c_str(), (L"\\\\?\\" + program).c_str(), FALSE));
  RegisterUi(L"\"" + program + L"\"");
  EXPECT_FALSE(CUiLauncher(classesKey_).RegisteredPath().has_value());
  const std::wstring marker = folder / L"launched.txt";
  ASSERT_EQ(WithButtons(L"Launch", {{L"Open", L"/c echo launched>\"" + marker + L"\""}}), S_OK);
  alerts_.Complete(alerts_.Handles().back(), 1, false);
  EXPECT_TRUE(WaitUntil([&] { return engine_->ActiveCount() == 0; }));
  EXPECT_FALSE(WaitUntil([&] { return ZelTest::FileExists(marker); }, 3000)) << "the long path was started";
  ::DeleteFileW((L"\\\\?\\" + program).c_str());
  for (std::wstring at = deep; at.size() > folder.Path().size() + 1;) {
    ::RemoveDirectoryW((L"\\\\?\\" + at).c_str());
    at.resize(at.rfind(L'\\', at.size() - 2) + 1);
  }
}

TEST_F(AlertBehaviour, ATickedOptionCallsBackAndEndsEveryAlertOfItsType) {
  struct Case {
    const char* name;
    HRESULT callbackAnswer;
    DWORD notifyOnClose;
  };
  const Case cases[] = {{"callback succeeds", S_OK, 0},
                        {"callback fails", E_FAIL, 0},
                        {"library notifies closed alerts", S_OK, 1}};
  for (const Case& c : cases) {
    alerts_.Clear();
    knobs_.SetDword(L"NotifyOnClose", c.notifyOnClose);
    Start(600);
    ComPtr<RecordingCallback> callback;
    *callback.GetAddressOf() = new RecordingCallback(c.callbackAnswer);
    ASSERT_EQ(WithOption(L"A", callback.Get(), L"Kind"), S_OK) << c.name;
    ASSERT_EQ(WithOption(L"B", callback.Get(), L"Kind"), S_OK) << c.name;
    ASSERT_EQ(WithOption(L"C", callback.Get(), L"Other"), S_OK) << c.name;
    ASSERT_TRUE(WaitUntil([&] { return Shown() == 3; })) << c.name;
    // A queued alert of the type, kept by a failing show.
    knobs_.SetDword(L"ShowResult", 5);
    ASSERT_EQ(WithOption(L"D", callback.Get(), L"Kind", true), S_OK) << c.name;
    ASSERT_TRUE(WaitUntil([&] { return engine_->QueuedCount() == 1; })) << c.name;
    knobs_.SetDword(L"ShowResult", 0);

    const std::vector<DWORD> handles = alerts_.Handles();
    alerts_.Complete(handles[0], 0, true);
    ASSERT_TRUE(WaitUntil([&] { return callback->calls_ == 1; })) << c.name;
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    EXPECT_EQ(callback->typeId_, L"Kind") << c.name;
    EXPECT_EQ(callback->sessionId_, static_cast<LONG>(session)) << c.name;
    EXPECT_TRUE(WaitUntil([&] { return alerts_.ReadDword(handles[1], L"Closed") == 1u; })) << c.name;
    EXPECT_FALSE(alerts_.ReadDword(handles[2], L"Closed").has_value()) << c.name;
    EXPECT_EQ(engine_->ActiveCount(), 1u) << c.name;
    EXPECT_EQ(engine_->QueuedCount(), 0u) << c.name;
    alert_.Reset();
    engine_.reset();
  }
}

// The library notifies on a thread of its own, in a single-threaded apartment; the caller's
// callback is a proxy that only the multithreaded apartment may use, so the alerter calls it from
// a thread of its own.
TEST_F(AlertBehaviour, TheCallbackIsCalledFromTheMultithreadedApartment) {
  Start(0);
  ComPtr<RecordingCallback> callback;
  *callback.GetAddressOf() = new RecordingCallback(S_OK);
  ASSERT_EQ(WithOption(L"A", callback.Get(), L"Kind"), S_OK);
  alerts_.Complete(alerts_.Handles().back(), 0, true);
  ASSERT_TRUE(WaitUntil([&] { return callback->calls_ == 1; }));
  EXPECT_EQ(callback->apartment_, APTTYPE_MTA);
}

// The engine ends while a notification's work is still running: it waits for it, so that nothing
// the work reaches (collections, launcher, library) is freed under it.
TEST_F(AlertBehaviour, TheEngineEndsOnlyAfterTheNotificationsInFlight) {
  Start(0);
  ComPtr<RecordingCallback> callback;
  *callback.GetAddressOf() = new RecordingCallback(S_OK);
  callback->BlockFor(3000);
  ASSERT_EQ(WithOption(L"A", callback.Get(), L"Kind"), S_OK);
  alerts_.Complete(alerts_.Handles().back(), 0, true);
  ASSERT_EQ(::WaitForSingleObject(callback->Entered(), 10000), WAIT_OBJECT_0);
  alert_.Reset();
  engine_.reset();
  callback->EngineGone();
  ASSERT_TRUE(WaitUntil([&] { return callback->calls_ == 1; }));
  EXPECT_FALSE(callback->outlived_) << "the engine was gone while its notification still ran";
}

// A library that notifies at any moment, also while the engine unbinds it: no notification may
// reach a freed engine, run after the unbinding or crash the process.
TEST_F(AlertBehaviour, NotificationsRacingTheUnbindingFindNothingFreed) {
  knobs_.SetDword(L"RepeatNotifications", 1);
  constexpr int kRuns = 200;
  for (int run = 0; run < kRuns; ++run) {
    Start(0);
    ComPtr<RecordingCallback> callback;
    *callback.GetAddressOf() = new RecordingCallback(S_OK);
    ASSERT_EQ(WithOption(L"Racing", callback.Get(), L"Kind"), S_OK) << "run " << run;
    alert_.Reset();
    engine_.reset();
  }
  alerts_.Clear();
}

// The running retry thread waits on the events and timer it was started with: a second Start must
// leave them, or the thread could never be woken (or stopped) again.
TEST_F(AlertBehaviour, ASecondStartOfTheRetryThreadLeavesItReplaying) {
  Start(600);
  ASSERT_EQ(Simple(L"First", true), S_OK);
  // Queued behind the first and replayed: the thread now waits on its handles.
  ASSERT_EQ(Simple(L"Second", true), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return Shown() == 2; }));
  EXPECT_EQ(engine_->Services().retryThread->Start(), static_cast<DWORD>(ERROR_ALREADY_INITIALIZED));
  ASSERT_EQ(Simple(L"Third", true), S_OK);
  EXPECT_TRUE(WaitUntil([&] { return Shown() == 3; })) << "the queued alert was not replayed";
}

// Each object holds its lock around the library's show: its alerts reach the library one at a time.
TEST_F(AlertBehaviour, AnObjectsAlertsReachTheLibraryOneAtATime) {
  knobs_.SetDword(L"ShowDelayMs", 300);
  Start(0);
  std::thread other([&] {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(Simple(L"From another thread", false), S_OK);
    ::CoUninitialize();
  });
  EXPECT_EQ(Simple(L"From this thread", false), S_OK);
  other.join();
  EXPECT_EQ(Shown(), 2u);
  EXPECT_EQ(knobs_.ReadDword(L"MostShowsAtOnce"), 1u);
}

// A do-not-show-again answer purges its type while an alert of that type is still being shown:
// once the show returns, that alert is taken down too.
TEST_F(AlertBehaviour, AnAlertPurgedWhileItIsBeingShownIsClosed) {
  Start(600);
  ComPtr<RecordingCallback> callback;
  *callback.GetAddressOf() = new RecordingCallback(S_OK);
  ASSERT_EQ(WithOption(L"First", callback.Get(), L"Kind"), S_OK);
  const DWORD first = alerts_.Handles()[0];
  knobs_.SetDword(L"ShowDelayMs", 2000);
  // Queued behind the displayed one, then replayed at once, and held in its show.
  ASSERT_EQ(WithOption(L"Second", callback.Get(), L"Kind"), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return Shown() == 2; }));
  const DWORD second = alerts_.Handles()[1];
  alerts_.Complete(first, 0, true);
  EXPECT_TRUE(WaitUntil([&] { return alerts_.ReadDword(second, L"Closed") == 1u; }));
  EXPECT_EQ(callback->calls_, 1);
  EXPECT_EQ(engine_->ActiveCount(), 0u);
}

TEST_F(AlertBehaviour, ANotificationFromInsideTheShowEndsTheAlertCleanly) {
  knobs_.SetDword(L"CompleteInShow", 1);
  Start(10);
  EXPECT_EQ(Simple(L"Brief", true), S_OK);
  EXPECT_EQ(engine_->ActiveCount(), 0u);
  EXPECT_EQ(Simple(L"Brief", true), S_OK);
  EXPECT_EQ(Shown(), 2u);
}

TEST_F(AlertBehaviour, ALibraryWithoutTheOptionalExportIsInitialisedOnceAndServes) {
  Start(10, L"kypltalt-without-toast\\");
  EXPECT_EQ(knobs_.ReadDword(L"InitCount"), 1u);
  EXPECT_EQ(Simple(L"Older platform", false), S_OK);
  EXPECT_EQ(Shown(), 1u);
  EXPECT_EQ(knobs_.ReadDword(L"InitCount"), 1u);
}

// A folder given to the binding that holds no library is followed by the program's own folder.
TEST_F(AlertBehaviour, AFolderWithoutTheLibraryIsFollowedByTheProgramsFolder) {
  AlertEngineOptions options;
  options.libraryFolder = L"C:\\no-such-folder\\";
  options.retryDelaySeconds = 0;
  engine_ = std::make_unique<CAlertEngine>(options);
  EXPECT_EQ(engine_->BindResult(), 0u);
  ASSERT_EQ(CAlert::Create(engine_->Services(), IID_IAlert, &alert_), S_OK);
  EXPECT_EQ(Simple(L"From beside the program", false), S_OK);
  EXPECT_EQ(Shown(), 1u);
}

TEST_F(AlertBehaviour, ABindingThatFailsLeavesEveryAlertFailing) {
  struct Case {
    const char* name;
    DWORD initResult;
    const wchar_t* folder;
  };
  const std::wstring withoutClose = ZelTest::SiblingPath(L"kypltalt-without-close\\");
  const Case cases[] = {{"initialisation refused", 5, nullptr},
                        {"a required export missing", 0, withoutClose.c_str()}};
  for (const Case& c : cases) {
    knobs_.SetDword(L"InitResult", c.initResult);
    AlertEngineOptions options;
    options.libraryFolder = c.folder ? c.folder : ZelTest::SiblingPath(L"");
    options.retryDelaySeconds = 0;
    CAlertEngine engine(options);
    EXPECT_NE(engine.BindResult(), 0u) << c.name;
    if (c.initResult) {
      EXPECT_EQ(engine.BindResult(), c.initResult) << c.name;
    }
    if (c.folder == withoutClose.c_str()) {
      EXPECT_EQ(engine.BindResult(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << c.name;
    }
    ComPtr<IAlert> alert;
    ASSERT_EQ(CAlert::Create(engine.Services(), IID_IAlert, &alert), S_OK);
    Text text(L"t");
    EXPECT_EQ(alert->ShowSimpleAlert(text, text, text, text, text, text, 1, 1, 1, VARIANT_FALSE, VARIANT_FALSE), E_FAIL)
        << c.name;
  }
  knobs_.SetDword(L"InitResult", 0);
}

}  // namespace
