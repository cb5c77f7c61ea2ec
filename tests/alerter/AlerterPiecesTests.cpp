// The alerter's pieces that stand alone: the buttons a caller may pass, the product settings, the
// command-line switches and the retry timer's due time.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "Alert.h"
#include "AlertClassFactory.h"
#include "AlertEngine.h"
#include "AlerterTestSupport.h"
#include "Handles.h"
#include "ProductSetting.h"
#include "RetryThread.h"
#include "ServerLifetime.h"
#include "ScriptArray.h"
#include "ServerRegistration.h"
#include "TestSupport.h"

namespace {

using AlerterTest::Text;

// SAFEARRAYs and VARIANTs built for one case, freed with it.
class Variant {
 public:
  Variant() { ::VariantInit(&value_); }
  ~Variant() { ::VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* operator&() { return &value_; }
  VARIANT& get() { return value_; }

 private:
  VARIANT value_;
};

SAFEARRAY* VariantArray(LONG lower, const std::vector<std::function<void(VARIANT*)>>& fill) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(fill.size()), lower};
  SAFEARRAY* array = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
  for (size_t i = 0; i < fill.size(); ++i) {
    VARIANT element;
    ::VariantInit(&element);
    fill[i](&element);
    LONG index = lower + static_cast<LONG>(i);
    ::SafeArrayPutElement(array, &index, &element);
    ::VariantClear(&element);
  }
  return array;
}

std::function<void(VARIANT*)> String(const wchar_t* text) {
  return [text](VARIANT* v) {
    v->vt = VT_BSTR;
    v->bstrVal = ::SysAllocString(text);
  };
}
std::function<void(VARIANT*)> Number(LONG value) {
  return [value](VARIANT* v) {
    v->vt = VT_I4;
    v->lVal = value;
  };
}
std::function<void(VARIANT*)> Pair(std::vector<std::function<void(VARIANT*)>> items, LONG lower = 0) {
  return [items, lower](VARIANT* v) {
    v->vt = VT_ARRAY | VT_VARIANT;
    v->parray = VariantArray(lower, items);
  };
}

void Buttons(VARIANT* target, std::vector<std::function<void(VARIANT*)>> buttons, LONG lower = 0) {
  target->vt = VT_ARRAY | VT_VARIANT;
  target->parray = VariantArray(lower, buttons);
}

struct ButtonsCase {
  const char* name;
  std::function<void(VARIANT*)> make;
  HRESULT expected;  // E_FAIL: accepted, then refused for want of a library
};

// JScript's buttons: an array object of array objects.
struct ScriptButtons {
  ZelTest::ScriptArray open{std::vector<std::wstring>{L"Open", L"--tab 2"}};
  ZelTest::ScriptArray later{std::vector<std::wstring>{L"Later", L""}};
  ZelTest::ScriptArray shortPair{std::vector<std::wstring>{L"Open"}};
  ZelTest::ScriptArray empty{std::vector<std::wstring>{}};
  ZelTest::ScriptArray Of(std::vector<ZelTest::ScriptArray*> pairs) {
    VariantList items;
    for (ZelTest::ScriptArray* pair : pairs) items.push_back(pair->AsVariant());
    return ZelTest::ScriptArray::Holding(std::move(items));
  }
};

std::function<void(VARIANT*)> Script(ZelTest::ScriptArray& array) {
  return [&array](VARIANT* v) { ::VariantCopy(v, const_cast<VARIANT*>(&array.AsVariant().Get())); };
}

// A script variable: a reference to a VARIANT that lives as long as the case.
std::function<void(VARIANT*)> Variable(Variant& referenced, std::function<void(VARIANT*)> fill) {
  return [&referenced, fill](VARIANT* v) {
    ::VariantClear(&referenced.get());
    fill(&referenced);
    v->vt = VT_BYREF | VT_VARIANT;
    v->pvarVal = &referenced;
  };
}

TEST(AlerterButtons, OnlyWellFormedButtonArraysReachTheLibrary) {
  ScriptButtons script;
  ZelTest::ScriptArray twoButtons = script.Of({&script.open, &script.later});
  ZelTest::ScriptArray withShortPair = script.Of({&script.open, &script.shortPair});
  ZelTest::ScriptArray noButtons = script.Of({});
  ZelTest::ScriptArray ofTexts(std::vector<std::wstring>{L"Open", L"--tab 2"});
  ZelTest::ScriptArray claimingTooMany = script.Of({&script.open});
  claimingTooMany.claimedLength = 100000;
  ZelTest::ScriptArray withoutLength = script.Of({&script.open});
  withoutLength.lengthAnswer = DISP_E_UNKNOWNNAME;
  Variant array, pair, innerReference, referencedText;
  SAFEARRAY* referencedArray = VariantArray(0, {Pair({String(L"a"), String(L"b")})});
  const auto wellFormed = [](VARIANT* v) { Buttons(v, {Pair({String(L"Open"), String(L"--tab 2")})}); };
  const ButtonsCase cases[] = {
      {"well formed", wellFormed, E_FAIL},
      {"no buttons (empty variant)", [](VARIANT*) {}, E_FAIL},
      {"not an array", [](VARIANT* v) { String(L"Open")(v); }, E_FAIL},
      {"empty outer array: no buttons", [](VARIANT* v) { Buttons(v, {}); }, E_FAIL},
      {"outer lower bound 1", [](VARIANT* v) { Buttons(v, {Pair({String(L"a"), String(L"b")})}, 1); }, E_INVALIDARG},
      {"inner lower bound 1", [](VARIANT* v) { Buttons(v, {Pair({String(L"a"), String(L"b")}, 1)}); }, E_INVALIDARG},
      {"short inner array", [](VARIANT* v) { Buttons(v, {Pair({String(L"a")})}); }, E_INVALIDARG},
      {"a third element is not read", [](VARIANT* v) { Buttons(v, {Pair({String(L"a"), String(L"b"), Number(3)})}); },
       E_FAIL},
      {"label not a string", [](VARIANT* v) { Buttons(v, {Pair({Number(1), String(L"b")})}); }, E_INVALIDARG},
      {"action not a string", [](VARIANT* v) { Buttons(v, {Pair({String(L"a"), Number(2)})}); }, E_INVALIDARG},
      {"element not an array", [](VARIANT* v) { Buttons(v, {String(L"a")}); }, E_INVALIDARG},
      {"second button bad", [](VARIANT* v) { Buttons(v, {Pair({String(L"a"), String(L"b")}), Pair({String(L"c")})}); },
       E_INVALIDARG},
      {"array of strings", [](VARIANT* v) {
         SAFEARRAYBOUND bound{1, 0};
         v->vt = VT_ARRAY | VT_BSTR;
         v->parray = ::SafeArrayCreate(VT_BSTR, 1, &bound);
       }, E_INVALIDARG},
      {"two dimensions", [](VARIANT* v) {
         SAFEARRAYBOUND bounds[2] = {{2, 0}, {1, 0}};
         v->vt = VT_ARRAY | VT_VARIANT;
         v->parray = ::SafeArrayCreate(VT_VARIANT, 2, bounds);
       }, E_INVALIDARG},
      {"more than 4096 buttons", [](VARIANT* v) {
         SAFEARRAYBOUND bound{4097, 0};
         v->vt = VT_ARRAY | VT_VARIANT;
         v->parray = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
       }, E_INVALIDARG},
      {"array by reference", [&](VARIANT* v) {
         v->vt = VT_ARRAY | VT_VARIANT | VT_BYREF;
         v->pparray = &referencedArray;
       }, E_FAIL},
      {"variable holding the array", Variable(array, wellFormed), E_FAIL},
      {"variable holding a bad array", Variable(array, [](VARIANT* v) { Buttons(v, {String(L"a")}); }), E_INVALIDARG},
      {"variable holding no array", Variable(array, [](VARIANT* v) { Number(1)(v); }), E_FAIL},
      {"reference to a reference", Variable(array, Variable(innerReference, wellFormed)), E_INVALIDARG},
      {"pair in a variable", [&](VARIANT* v) {
         Buttons(v, {Variable(pair, Pair({String(L"a"), String(L"b")}))});
       }, E_FAIL},
      {"text in a variable",
       [&](VARIANT* v) { Buttons(v, {Pair({Variable(referencedText, String(L"a")), String(L"b")})}); }, E_FAIL},
      {"number in a variable",
       [&](VARIANT* v) { Buttons(v, {Pair({Variable(referencedText, Number(1)), String(L"b")})}); }, E_INVALIDARG},
      {"null array", [](VARIANT* v) { v->vt = VT_ARRAY | VT_VARIANT; }, E_INVALIDARG},
      {"script array", Script(twoButtons), E_FAIL},
      {"script pair in a safe array", [&](VARIANT* v) { Buttons(v, {Script(script.open)}); }, E_FAIL},
      {"empty script array: no buttons", Script(noButtons), E_FAIL},
      {"script array of texts", Script(ofTexts), E_INVALIDARG},
      {"short script pair", Script(withShortPair), E_INVALIDARG},
      {"script length beyond the cap", Script(claimingTooMany), E_INVALIDARG},
      {"script object without a length", Script(withoutLength), E_INVALIDARG},
      {"null object", [](VARIANT* v) { v->vt = VT_DISPATCH; }, E_INVALIDARG},
  };
  AlertEngineOptions options;
  options.libraryFolder = ZelTest::SiblingPath(L"kypltalt-without-close\\");
  options.retryDelaySeconds = 0;
  CAlertEngine engine(options);
  ASSERT_NE(engine.BindResult(), 0u);
  Microsoft::WRL::ComPtr<IAlert> alert;
  ASSERT_EQ(CAlert::Create(engine.Services(), IID_IAlert, &alert), S_OK);
  Text text(L"t");
  for (const ButtonsCase& c : cases) {
    Variant buttons;
    c.make(&buttons);
    EXPECT_EQ(alert->ShowAlertWithActionsToLaunchUI(text, text, text, text, text, text, 1, 1, 1, buttons.get(),
                                                     VARIANT_FALSE, VARIANT_FALSE),
              c.expected)
        << c.name;
  }
  ::SafeArrayDestroy(referencedArray);
}

TEST(AlerterRegistration, TheServerCommandLineIsQuotedForTheRegistryScript) {
  const struct {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\Program Files\\Varant\\ZEL\\KyAlert.exe", L"\"C:\\Program Files\\Varant\\ZEL\\KyAlert.exe\""},
      {L"C:\\ZEL\\KyAlert.exe", L"\"C:\\ZEL\\KyAlert.exe\""},
      {L"C:\\O'Brien's files\\KyAlert.exe", L"\"C:\\O''Brien''s files\\KyAlert.exe\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServerRegistration::LocalServerScriptText(c.path), c.expected)
        << std::string(c.path, c.path + wcslen(c.path));
  }
}

TEST(AlerterSettings, RetryDelayComesFromTheAffiliateElseDefault) {
  struct Case {
    const char* name;
    std::optional<std::wstring> affid;
    std::optional<DWORD> affiliateValue;
    std::optional<DWORD> defaultValue;
    uint32_t expected;
  };
  const Case cases[] = {
      {"nothing set", std::nullopt, std::nullopt, std::nullopt, 10},
      {"no affid: default", std::nullopt, std::nullopt, 7, 7},
      {"affid 0: default", L"0", 3, 7, 7},
      {"empty affid: default", L"", 3, 7, 7},
      {"affiliate's value", L"acme", 3, 7, 3},
      {"affiliate without value: default", L"acme", std::nullopt, 7, 7},
      {"zero disables", std::nullopt, std::nullopt, 0, 0},
      {"large delay", L"acme", 400, std::nullopt, 400},
  };
  for (const Case& c : cases) {
    ZelTest::TempRegistryKey root;
    const std::wstring settings = root.Path() + L"\\Settings";
    Strata::UniqueHkey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, settings.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                nullptr), ERROR_SUCCESS);
    if (c.affid) {
      ::RegSetValueExW(key.get(), L"affid", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.affid->c_str()),
                       static_cast<DWORD>((c.affid->size() + 1) * sizeof(wchar_t)));
    }
    if (c.affiliateValue) ::RegSetKeyValueW(key.get(), L"acme", L"AlertRetryDelay", REG_DWORD, &*c.affiliateValue, 4);
    if (c.defaultValue) ::RegSetKeyValueW(key.get(), L"default", L"AlertRetryDelay", REG_DWORD, &*c.defaultValue, 4);
    EXPECT_EQ(ProductSetting::ReadRetryDelaySeconds(HKEY_CURRENT_USER, settings.c_str()), c.expected) << c.name;
  }
}

TEST(AlerterSettings, MissingSettingsKeyOrMistypedValueIsNotFound) {
  ZelTest::TempRegistryKey root;
  const std::wstring settings = root.Path() + L"\\Settings";
  DWORD value = 99;
  EXPECT_FALSE(ProductSetting::ReadProductSetting(L"AlertRetryDelay", &value, HKEY_CURRENT_USER, settings.c_str()));
  EXPECT_EQ(ProductSetting::ReadRetryDelaySeconds(HKEY_CURRENT_USER, settings.c_str()), 10u);
  const wchar_t text[] = L"5";
  ::RegSetKeyValueW(HKEY_CURRENT_USER, (settings + L"\\default").c_str(), L"AlertRetryDelay", REG_SZ, text,
                    sizeof(text));
  EXPECT_FALSE(ProductSetting::ReadProductSetting(L"AlertRetryDelay", &value, HKEY_CURRENT_USER, settings.c_str()));
  EXPECT_EQ(value, 99u);
}

TEST(AlerterSwitches, EverySpellingOfTheRegistrationSwitchesIsRecognised) {
  using ServerRegistration::Switch;
  const struct {
    const wchar_t* commandLine;
    Switch expected;
  } cases[] = {
      {L"KyAlert.exe /RegServer", Switch::RegServer},
      {L"KyAlert.exe /regserver", Switch::RegServer},
      {L"KyAlert.exe -REGSERVER", Switch::RegServer},
      {L"\"C:\\Program Files\\KyAlert.exe\" -UnRegServer", Switch::UnregServer},
      {L"KyAlert.exe /RegServerPerUser", Switch::RegServerPerUser},
      {L"KyAlert.exe -unregserverperuser", Switch::UnregServerPerUser},
      {L"KyAlert.exe word /RegServer", Switch::RegServer},
      {L"KyAlert.exe -Embedding", Switch::None},
      {L"KyAlert.exe -Embedding /RegServer", Switch::None},
      {L"KyAlert.exe RegServer", Switch::None},
      {L"KyAlert.exe", Switch::None},
      {L"KyAlert.exe /RegServerX", Switch::None},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServerRegistration::ParseSwitch(c.commandLine), c.expected) << std::string(c.commandLine,
                                                                                          c.commandLine + wcslen(c.commandLine));
  }
}

TEST(AlerterRetryTimer, LongDelaysDoNotOverflowTheDueTime) {
  EXPECT_EQ(CRetryThread::DueTime(10), -100000000LL);
  EXPECT_EQ(CRetryThread::DueTime(215), -2150000000LL);
  EXPECT_EQ(CRetryThread::DueTime(0xFFFFFFFFu), -42949672950000000LL);
}

// Runs `body` on a thread of its own and says whether it ended within `ms`; a body that did not end
// is left running (with what it uses), so that the failure is reported rather than waited for.
bool EndsWithin(DWORD ms, std::function<void()> body) {
  auto ended = std::make_shared<Strata::UniqueHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread([ended, body] {
    body();
    ::SetEvent(ended->get());
  }).detach();
  return ::WaitForSingleObject(ended->get(), ms) == WAIT_OBJECT_0;
}

// Serving that could not begin (the class objects not resumed) ends the server at once instead of
// waiting for the first client that can no longer come.
TEST(AlerterLifetime, AnAbandonedServerStopsWithoutWaitingForAClient) {
  auto lifetime = std::make_unique<CServerLifetime>(::GetCurrentThreadId(), 0, 600000);
  ASSERT_EQ(lifetime->StartMonitor(), 0u);
  lifetime->Abandon();
  CServerLifetime* abandoned = lifetime.get();
  if (!EndsWithin(60000, [abandoned] { abandoned->WaitForMonitor(); })) {
    lifetime.release();
    FAIL() << "the monitor waited for a first client";
  }
  EXPECT_TRUE(lifetime->Stopping());
  EXPECT_FALSE(lifetime->TryHold());
}

// A client's unlock without its lock would release a live object's hold on the server.
TEST(AlerterClassFactory, AnUnlockWithoutItsLockIsRefused) {
  CServerLifetime lifetime(::GetCurrentThreadId(), 0, 0);
  AlertEngineOptions options;
  options.libraryFolder = L"C:\\no-such-folder\\";
  options.retryDelaySeconds = 0;
  CAlertEngine engine(options);
  CAlertClassFactory factory(engine.Services(), lifetime);
  lifetime.ObjectCreated();  // an object a client holds
  EXPECT_EQ(factory.LockServer(FALSE), E_UNEXPECTED);
  EXPECT_EQ(lifetime.Holds(), 1);
  EXPECT_EQ(factory.LockServer(TRUE), S_OK);
  EXPECT_EQ(lifetime.Holds(), 2);
  EXPECT_EQ(factory.LockServer(FALSE), S_OK);
  EXPECT_EQ(factory.LockServer(FALSE), E_UNEXPECTED);
  EXPECT_EQ(lifetime.Holds(), 1);
  lifetime.ObjectDestroyed();
}

}  // namespace
