// The configuration object against the service stand-in, registered for real in the shared test
// prefix and steered through this process's knobs; what the object wrote is read back from the
// stand-in's own store. Item ids and user names carry this process's id, so cases running side
// by side never meet.
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cwchar>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "FailingAllocations.h"
#include "Handles.h"
#include "KyClassFactory.h"
#include "LogRecorder.h"
#include "ProcessKnobs.h"
#include "ServiceResults.h"
#include "ServiceStore.h"
#include "StandInKnobs.h"
#include "TestSupport.h"
#include "VariantValue.h"
#include "ZelConfig.h"
#include "ZelTARN.h"

namespace {

using Microsoft::WRL::ComPtr;
using ZelService::kResultSuccess;

constexpr wchar_t kPluginKey[] = L"Software\\Varant\\KyProxy\\Plugins\\{08533142-6DAA-40C0-829F-098475E66646}";
constexpr long kUnknownCode = -1;

// A VARIANT of `type` whose value `fill` sets.
template <typename Fill>
CVariantValue Made(VARTYPE type, Fill fill) {
  CVariantValue v;
  VARIANT* p = v.Put();
  V_VT(p) = type;
  fill(p);
  return v;
}
CVariantValue I2(short value) { return Made(VT_I2, [&](VARIANT* p) { V_I2(p) = value; }); }
CVariantValue I4(long value) { return Made(VT_I4, [&](VARIANT* p) { V_I4(p) = value; }); }
CVariantValue Text(const std::wstring& text) {
  return Made(VT_BSTR,
              [&](VARIANT* p) { V_BSTR(p) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); });
}
// A script variable passed by reference; `target` must outlive it.
CVariantValue RefTo(long* target) { return Made(VT_BYREF | VT_I4, [&](VARIANT* p) { V_I4REF(p) = target; }); }
CVariantValue Array(SAFEARRAY* array) { return Made(VT_ARRAY | VT_VARIANT, [&](VARIANT* p) { V_ARRAY(p) = array; }); }
CVariantValue VariantArray(const std::vector<const VARIANT*>& items) {
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i)
    ::SafeArrayPutElement(array, &i, const_cast<VARIANT*>(items[i]));
  return Array(array);
}
CVariantValue TwoDimensionalArray() {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  return Array(::SafeArrayCreate(VT_VARIANT, 2, bounds));
}
// A safe array of strings that claims to hold VARIANTs.
CVariantValue MislabelledArray() {
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, 2);
  return Array(array);
}

std::wstring TextOf(const VARIANT& value) {
  CVariantValue text;
  if (FAILED(::VariantChangeType(text.Put(), const_cast<VARIANT*>(&value), 0, VT_BSTR))) return L"(not text)";
  return V_BSTR(&text.Get()) ? V_BSTR(&text.Get()) : L"";
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class ZelConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(knobs_.Created());
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    service_.reset(::LoadLibraryW(ZelTest::SiblingPath(L"zel.dll").c_str()));
    ASSERT_TRUE(service_);
    auto registerServer =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(service_.get(), "DllRegisterServer"));
    ASSERT_TRUE(registerServer);
    ASSERT_EQ(registerServer(), S_OK);
    RegisterPlugin();
    userId_ = ZelTest::NewGuidText();
    ASSERT_EQ(store_.WriteProperties(ZelService::ServiceStore::UserPath(userId_),
                                     {{ZelService::kUserName, ZelService::Variant::Text(userName_.c_str())}}),
              S_OK);
  }
  void TearDown() override {
    config_.Reset();
    store_.DeleteUser(userId_);
    for (const wchar_t* path : {L"Global", L"AdminSettings", L"AgeGroups\\3"})
      for (long item : {item_, item_ + 1})
        ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(ZelService::kServiceKey) + L"\\" + path).c_str(),
                             std::to_wstring(item).c_str());
    ::CoUninitialize();
  }

  void RegisterPlugin() {
    Strata::UniqueHkey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
  }
  // A fresh object: a failed creation of the service object is final for the one that met it.
  IZelConfig* Fresh() {
    config_.Reset();
    EXPECT_EQ(CZelConfig::Create(IID_IZelConfig, &config_), S_OK);
    return config_.Get();
  }
  IZelConfig* Config() { return config_ ? config_.Get() : Fresh(); }

  std::wstring KnobKey() const {
    return ZelStandIns::StandInKnobs::ProcessKeyPath(ZelService::kStandInName, ::GetCurrentProcessId());
  }
  void SetKnobText(const wchar_t* name, const std::wstring& text) const {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, KnobKey().c_str(), name, REG_SZ, text.c_str(),
                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void ClearKnob(const wchar_t* name) const { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, KnobKey().c_str(), name); }
  DWORD Calls(const wchar_t* operation) const {
    return knobs_.ReadDword((std::wstring(operation) + L".Calls").c_str()).value_or(0);
  }

  std::optional<std::wstring> Stored(const std::wstring& path, long item) const {
    ZelService::PropertyMap properties = store_.ReadProperties(path);
    auto found = properties.find(item);
    if (found == properties.end()) return std::nullopt;
    return TextOf(found->second.Get());
  }
  std::wstring UserPath() const { return ZelService::ServiceStore::UserPath(userId_); }
  std::optional<std::wstring> NewUserId(const std::wstring& name) const { return store_.FindUserByName(name); }

  void RegisterUserManager() {
    ASSERT_TRUE(userManager_.Created());
    ASSERT_EQ(ZelTest::RegisterSiblingLibrary(L"KyUserManager.dll"), S_OK);
  }
  // A value of the user manager stand-in's state for this process.
  void SetPlatform(const std::wstring& below, const wchar_t* name, DWORD type, const std::wstring& data) const {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, userManager_.Path(below).c_str(), name, type, data.c_str(),
                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  void SetPlatformDword(const std::wstring& below, const wchar_t* name, DWORD value) const {
    userManager_.SetDword(below, name, value);
  }

  ZelTest::LogRecorder& log_ = ZelTest::LogRecorder::Install();
  ZelTest::ProcessKnobs knobs_{ZelService::kStandInName};
  ZelTest::ProcessKnobs userManager_{L"UserManager"};
  ZelService::ServiceStore store_;
  Strata::UniqueModule service_;
  ComPtr<IZelConfig> config_;
  const long item_ = 10000 + static_cast<long>(::GetCurrentProcessId() % 50000);
  const std::wstring userName_ = L"kid" + std::to_wstring(::GetCurrentProcessId());
  std::wstring userId_;
};

// ---- Settings readers and writers ----

struct SettingsCase {
  const char* name;
  const wchar_t* path;  // where the stand-in keeps the object's applied values
  // null: the object has no writer and the value is put into the stand-in's store
  std::function<HRESULT(IZelConfig*, const VARIANT& item, const VARIANT& value, LONG* code)> write;
  std::function<HRESULT(IZelConfig*, const VARIANT& item, VARIANT* code, VARIANT* value)> read;
};

TEST_F(ZelConfigTest, SettingsAreWrittenAppliedAndReadBackWhateverFormTheItemComesIn) {
  const std::wstring user = userName_;
  const std::wstring shouted = L"KID" + std::to_wstring(::GetCurrentProcessId());
  const SettingsCase cases[] = {
      {"global", L"Global",
       [](IZelConfig* c, const VARIANT& i, const VARIANT& v, LONG* r) { return c->SetGlobalConfigsValue(i, v, r); },
       [](IZelConfig* c, const VARIANT& i, VARIANT* r, VARIANT* v) { return c->GetGlobalConfigsValue(i, r, v); }},
      {"administrator", L"AdminSettings",
       [](IZelConfig* c, const VARIANT& i, const VARIANT& v, LONG* r) { return c->SetAdminSettingsConfigValue(i, v, r); },
       [](IZelConfig* c, const VARIANT& i, VARIANT* r, VARIANT* v) { return c->GetAdminSettingsConfigValue(i, r, v); }},
      {"age group 3", L"AgeGroups\\3", nullptr,
       [](IZelConfig* c, const VARIANT& i, VARIANT* r, VARIANT* v) { return c->GetAgeGroupConfigsValue(3, i, r, v); }},
  };
  long byReference = item_;
  const std::pair<const char*, CVariantValue> forms[] = {
      {"VT_I2", I2(static_cast<short>(item_))},
      {"VT_I4", I4(item_)},
      {"decimal text", Text(std::to_wstring(item_))},
      {"reference", RefTo(&byReference)},
  };
  int round = 0;
  for (const SettingsCase& c : cases) {
    for (const auto& [formName, item] : forms) {
      SCOPED_TRACE(std::string(c.name) + ", item as " + formName);
      const std::wstring value = L"value " + std::to_wstring(++round);
      if (c.write) {
        LONG code = 0;
        ASSERT_EQ(c.write(Fresh(), item.Get(), Text(value).Get(), &code), S_OK);
        EXPECT_EQ(code, kResultSuccess);
      } else {
        ASSERT_EQ(store_.WriteProperties(c.path, {{item_, ZelService::Variant::Text(value.c_str())}}), S_OK);
      }
      EXPECT_EQ(Stored(c.path, item_), value);

      CVariantValue code = Text(L"stale text the reader must free");
      VARIANT read;
      ASSERT_EQ(c.read(Fresh(), item.Get(), const_cast<VARIANT*>(&code.Get()), &read), S_OK);
      CVariantValue owned;
      *owned.Put() = read;
      EXPECT_EQ(V_VT(&code.Get()), VT_I4);
      EXPECT_EQ(V_I4(&code.Get()), kResultSuccess);
      EXPECT_EQ(TextOf(owned.Get()), value);
    }
  }

  // Per-user settings are found by name in any letter case.
  LONG code = 0;
  Strata::UniqueBstr capitals(::SysAllocString(shouted.c_str()));
  ASSERT_EQ(Config()->SetUserConfigValue(capitals.get(), item_, Text(L"per user").Get(), &code), S_OK);
  EXPECT_EQ(code, kResultSuccess);
  EXPECT_EQ(Stored(UserPath(), item_), L"per user");
  Strata::UniqueBstr name(::SysAllocString(user.c_str()));
  VARIANT read;
  ASSERT_EQ(Config()->GetUserConfigValue(name.get(), item_, &read), S_OK);
  CVariantValue owned;
  *owned.Put() = read;
  EXPECT_EQ(TextOf(owned.Get()), L"per user");
}

// Each read selects on an age-group object of its own, so concurrent readers never see another's group.
TEST_F(ZelConfigTest, ConcurrentAgeGroupReadersEachReadTheirOwnGroup) {
  for (long group : {1L, 2L})
    ASSERT_EQ(store_.WriteProperties(L"AgeGroups\\" + std::to_wstring(group),
                                     {{item_, ZelService::Variant::Text(std::to_wstring(group).c_str())}}),
              S_OK);
  IZelConfig* shared = Config();
  auto reader = [&](long group, int* mismatches) {
    for (int i = 0; i < 40; ++i) {
      CVariantValue code;
      VARIANT read;
      if (FAILED(shared->GetAgeGroupConfigsValue(group, I4(item_).Get(), code.Put(), &read))) {
        ++*mismatches;
        continue;
      }
      CVariantValue owned;
      *owned.Put() = read;
      if (TextOf(owned.Get()) != std::to_wstring(group)) ++*mismatches;
    }
  };
  int mismatches[2] = {0, 0};
  std::thread first(reader, 1L, &mismatches[0]);
  std::thread second(reader, 2L, &mismatches[1]);
  first.join();
  second.join();
  EXPECT_EQ(mismatches[0] + mismatches[1], 0);
  for (long group : {1L, 2L})
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE,
                         (std::wstring(ZelService::kServiceKey) + L"\\AgeGroups\\" + std::to_wstring(group)).c_str(),
                         std::to_wstring(item_).c_str());
}

// Support staff search the logs for these texts.
TEST_F(ZelConfigTest, ReadersAndWritersSayWhatFailedInTheirOwnWords) {
  constexpr DWORD kDenied = 0x80070005;
  const std::wstring item = std::to_wstring(item_);
  struct Case {
    const char* name;
    std::vector<std::pair<const wchar_t*, DWORD>> knobs;  // set once, for this case
    std::function<HRESULT(IZelConfig*)> call;
    HRESULT expected;
    ZelTest::LogLine line;
  };
  auto readGlobal = [&](IZelConfig* config) {
    CVariantValue code;
    CVariantValue value;
    return config->GetGlobalConfigsValue(I4(item_).Get(), code.Put(), value.Put());
  };
  auto writeGlobal = [&](IZelConfig* config) {
    LONG code = kUnknownCode;
    return config->SetGlobalConfigsValue(I4(item_).Get(), Text(L"on").Get(), &code);
  };
  const Case cases[] = {
      {"the global object cannot be read", {{L"GetValue.HResult", kDenied}}, readGlobal, static_cast<HRESULT>(kDenied),
       {2, L"CZelConfig::GetGlobalConfigsValue",
        L"GetGlobalConfigsValue hr = 80070005 ppGlobalConfigs = 00000000, lResult = 08020000 KY_ERROR(lResult) = 0 "}},
      {"an item cannot be read", {{L"ConfigGetValue.HResult", kDenied}}, readGlobal, static_cast<HRESULT>(kDenied),
       {4, L"CZelConfig::GetGlobalConfigsValue",
        L"GetGlobalConfigsValue vItem.lVal=" + item + L" pvValue->boolVal=0 lResult=08020000"}},
      {"the global object cannot be read for a write", {{L"GetValue.HResult", kDenied}}, writeGlobal, S_OK,
       {4, L"CZelConfig::SetGlobalConfigsValue",
        L"SetGlobalConfigsValue hr = 80070005 ppGlobalConfigs = 00000000, lpResult = 08020000 KY_ERROR(lpResult) = 0 "}},
      {"an item cannot be written", {{L"ConfigSetValue.HResult", kDenied}}, writeGlobal, S_OK,
       {4, L"CZelConfig::SetGlobalConfigsValue",
        L"SetGlobalConfigsValue vItem.lVal=" + item + L" vValue->boolVal=0 vt=8 VT_BOOL=11 lpResult=08020000"}},
      {"a write is applied", {}, writeGlobal, S_OK,
       {1, L"CZelConfig::SetGlobalConfigsValue", L"SetGlobalConfigsValue Apply lpResult=134348800"}},
      {"the administrator settings cannot be read for a write",
       {{L"GetValue.HResult", kDenied}},
       [&](IZelConfig* config) {
         LONG code = kUnknownCode;
         return config->SetAdminSettingsConfigValue(I4(item_).Get(), Text(L"on").Get(), &code);
       },
       S_OK,
       {4, L"CZelConfig::_SetAdminSettingsConfigValue",
        L"_SetAdminSettingsConfigValue hr = 80070005 ppAdminSettings = 00000000, lpResult = 08020000 "
        L"KY_ERROR(lpResult) = 0 "}},
      {"a user value cannot be written",
       {{L"ConfigSetValue.HResult", kDenied}},
       [&](IZelConfig* config) {
         LONG code = kUnknownCode;
         Strata::UniqueBstr name(::SysAllocString(userName_.c_str()));
         return config->SetUserConfigValue(name.get(), item_, Text(L"on").Get(), &code);
       },
       S_OK,
       {4, L"CZelConfig::SetUserConfigValue", L"SetValue failed. item=" + item + L" hr=80070005 *plResult=08020000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [name, value] : c.knobs) {
      knobs_.SetDword(name, value);
      knobs_.SetDword((std::wstring(name).substr(0, std::wstring(name).find(L'.')) + L".Times").c_str(), 1);
    }
    EXPECT_EQ(c.call(Fresh()), c.expected);
    const ZelTest::LogLine* line = log_.Find(c.line.text);
    ASSERT_NE(line, nullptr) << Narrow(c.line.text);
    EXPECT_EQ(line->level, c.line.level);
    EXPECT_EQ(line->function, c.line.function);
  }

  // No service object at all: the plug-in is not registered.
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPluginKey);
  EXPECT_EQ(readGlobal(Fresh()), RPC_E_NOT_REGISTERED);
  EXPECT_EQ(log_.Count(L"GetGlobalConfigsValue KyI2 hr = 80010103"), 1u);
  LONG code = kUnknownCode;
  EXPECT_EQ(Fresh()->SetGlobalConfigsValue(I4(item_).Get(), Text(L"on").Get(), &code), S_OK);
  EXPECT_EQ(log_.Count(L"SetGlobalConfigsValue KyI2 hr = 80010103"), 1u);
  RegisterPlugin();
}

// Selecting the age group fails: the select's own answer, and a result code that says nothing.
TEST_F(ZelConfigTest, AnAgeGroupThatCannotBeSelectedGivesTheSelectsAnswer) {
  const HRESULT refused[] = {S_OK, static_cast<HRESULT>(0x80070005)};
  for (HRESULT hr : refused) {
    SCOPED_TRACE(hr);
    if (FAILED(hr)) knobs_.SetDword(L"ConfigSetValue.HResult", static_cast<DWORD>(hr));
    knobs_.SetDword(L"ConfigSetValue.Result", 0x08020001);
    knobs_.SetDword(L"ConfigSetValue.Times", 1);
    CVariantValue code;
    CVariantValue value;
    EXPECT_EQ(Config()->GetAgeGroupConfigsValue(3, I4(item_).Get(), code.Put(), value.Put()), hr);
    EXPECT_EQ(V_VT(&code.Get()), VT_I4);
    EXPECT_EQ(V_I4(&code.Get()), kUnknownCode);
    EXPECT_EQ(V_VT(&value.Get()), VT_EMPTY);
  }
  EXPECT_EQ(log_.Count(L"GetAgeGroupConfigsValue failed to select age group hr= 00000000, lResult=08020001"), 1u);
  EXPECT_EQ(log_.Count(L"GetAgeGroupConfigsValue failed to select age group hr= 80070005, lResult=08020001"), 1u);
}

// ---- Password and security answer ----

struct SecretCheck {
  const char* name;
  std::function<HRESULT(IZelConfig*, VARIANT_BOOL*)> ask;
};

TEST_F(ZelConfigTest, SecretChecksAnswerYesOnlyWhenTheServiceVerifiablyAcceptedTheWrite) {
  // No password or answer configured: the service accepts only the empty text, so every check
  // below is right about the secret and may fail only through the service.
  const SecretCheck checks[] = {
      {"VerifyAdminPassword", [](IZelConfig* c, VARIANT_BOOL* b) { return c->VerifyAdminPassword(nullptr, b); }},
      {"VerifyAdminSecurityAnswer",
       [](IZelConfig* c, VARIANT_BOOL* b) { return c->VerifyAdminSecurityAnswer(nullptr, b); }},
      {"IsAdminPasswordAbsent", [](IZelConfig* c, VARIANT_BOOL* b) { return c->IsAdminPasswordAbsent(b); }},
  };
  struct Failure {
    const char* name;
    const wchar_t* knob;
    DWORD value;
    VARIANT_BOOL expected;
  };
  const Failure failures[] = {
      {"the service answers", L"", 0, VARIANT_TRUE},
      {"the service cannot be created", L"Create.HResult", static_cast<DWORD>(CO_E_SERVER_EXEC_FAILURE), VARIANT_FALSE},
      {"the settings object cannot be read", L"GetValue.HResult", static_cast<DWORD>(E_FAIL), VARIANT_FALSE},
      {"the settings object read is refused", L"GetValue.Result", ZelService::kResultNotFound, VARIANT_FALSE},
      {"a failed set leaves the code alone", L"ConfigSetValue.HResult", static_cast<DWORD>(E_FAIL), VARIANT_FALSE},
      {"the set is refused", L"ConfigSetValue.Result", ZelService::kResultValueRefused, VARIANT_FALSE},
  };
  for (const Failure& failure : failures) {
    for (const SecretCheck& check : checks) {
      SCOPED_TRACE(std::string(check.name) + " when " + failure.name);
      if (*failure.knob) knobs_.SetDword(failure.knob, failure.value);
      VARIANT_BOOL answer = failure.expected == VARIANT_TRUE ? VARIANT_FALSE : VARIANT_TRUE;
      EXPECT_EQ(check.ask(Fresh(), &answer), S_OK);
      EXPECT_EQ(answer, failure.expected);
      if (*failure.knob) ClearKnob(failure.knob);
    }
  }
  EXPECT_EQ(Calls(L"ConfigApply"), 0u) << "a check never applies what it wrote";
}

TEST_F(ZelConfigTest, WrongSecretsAreRefusedAndAConfiguredPasswordIsNotAbsent) {
  SetKnobText(L"AdminPassword", L"Secret1");
  SetKnobText(L"SecurityAnswer", L"blue");
  struct Case {
    const char* name;
    std::function<HRESULT(IZelConfig*, VARIANT_BOOL*)> ask;
    VARIANT_BOOL expected;
  };
  Strata::UniqueBstr right(::SysAllocString(L"Secret1")), otherCase(::SysAllocString(L"secret1")),
      answer(::SysAllocString(L"blue")), empty(::SysAllocString(L"")), huge(::SysAllocStringLen(nullptr, 1 << 20));
  for (UINT i = 0; i < (1u << 20); ++i) huge.get()[i] = L'x';
  const Case cases[] = {
      {"right password", [&](IZelConfig* c, VARIANT_BOOL* b) { return c->VerifyAdminPassword(right.get(), b); },
       VARIANT_TRUE},
      {"password in other case",
       [&](IZelConfig* c, VARIANT_BOOL* b) { return c->VerifyAdminPassword(otherCase.get(), b); }, VARIANT_FALSE},
      {"empty password", [&](IZelConfig* c, VARIANT_BOOL* b) { return c->VerifyAdminPassword(empty.get(), b); },
       VARIANT_FALSE},
      {"1 MB password", [&](IZelConfig* c, VARIANT_BOOL* b) { return c->VerifyAdminPassword(huge.get(), b); },
       VARIANT_FALSE},
      {"password given as the answer",
       [&](IZelConfig* c, VARIANT_BOOL* b) { return c->VerifyAdminSecurityAnswer(right.get(), b); }, VARIANT_FALSE},
      {"right answer", [&](IZelConfig* c, VARIANT_BOOL* b) { return c->VerifyAdminSecurityAnswer(answer.get(), b); },
       VARIANT_TRUE},
      {"absent password", [](IZelConfig* c, VARIANT_BOOL* b) { return c->IsAdminPasswordAbsent(b); }, VARIANT_FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VARIANT_BOOL result = c.expected == VARIANT_TRUE ? VARIANT_FALSE : VARIANT_TRUE;
    EXPECT_EQ(c.ask(Config(), &result), S_OK);
    EXPECT_EQ(result, c.expected);
  }
}

// ---- Bad input ----

struct BadInput {
  const char* name;
  std::function<HRESULT(IZelConfig*, LONG* code)> call;
  HRESULT expected;
  std::optional<LONG> expectedCode;
};

TEST_F(ZelConfigTest, BadInputIsRefusedWithAClearAnswerAndNothingReachesTheService) {
  const std::wstring megabyte(1 << 20, L'k');
  long item = item_;
  Strata::UniqueBstr user(::SysAllocString(userName_.c_str()));
  const CVariantValue one = I4(item_);
  const CVariantValue notNumber = Text(L"12x");
  const CVariantValue value = Text(L"must not arrive");
  const VARIANT* twoItems[] = {&one.Get(), &notNumber.Get()};
  const BadInput cases[] = {
      {"global item that is not a number",
       [&](IZelConfig* c, LONG* r) { return c->SetGlobalConfigsValue(Text(L"abc").Get(), value.Get(), r); },
       E_INVALIDARG, kUnknownCode},
      {"global item that is empty text",
       [&](IZelConfig* c, LONG* r) { return c->SetGlobalConfigsValue(Text(L"").Get(), value.Get(), r); },
       E_INVALIDARG, kUnknownCode},
      {"global item of 1 MB",
       [&](IZelConfig* c, LONG* r) { return c->SetGlobalConfigsValue(Text(megabyte).Get(), value.Get(), r); },
       E_INVALIDARG, kUnknownCode},
      {"administrator item that is not a number",
       [&](IZelConfig* c, LONG* r) { return c->SetAdminSettingsConfigValue(notNumber.Get(), value.Get(), r); },
       E_INVALIDARG, kUnknownCode},
      {"writer without a result pointer",
       [&](IZelConfig* c, LONG*) { return c->SetGlobalConfigsValue(one.Get(), value.Get(), nullptr); }, E_INVALIDARG,
       std::nullopt},
      {"reader without a result VARIANT",
       [&](IZelConfig* c, LONG*) {
         VARIANT v;
         return c->GetGlobalConfigsValue(one.Get(), nullptr, &v);
       },
       E_INVALIDARG, std::nullopt},
      {"reader without a value VARIANT",
       [&](IZelConfig* c, LONG*) {
         CVariantValue code;
         return c->GetAdminSettingsConfigValue(one.Get(), code.Put(), nullptr);
       },
       E_INVALIDARG, std::nullopt},
      {"reader item that is not a number",
       [&](IZelConfig* c, LONG* r) {
         CVariantValue code;
         VARIANT v;
         HRESULT hr = c->GetAgeGroupConfigsValue(3, Text(L"abc").Get(), code.Put(), &v);
         *r = V_VT(&code.Get()) == VT_I4 ? V_I4(&code.Get()) : 0;
         return hr;
       },
       E_INVALIDARG, kUnknownCode},
      {"user values in a two-dimensional array",
       [&](IZelConfig* c, LONG* r) {
         return c->SetUserConfigValues(user.get(), TwoDimensionalArray().Get(), TwoDimensionalArray().Get(), 2, r);
       },
       E_INVALIDARG, kUnknownCode},
      {"user values in an array of another element type",
       [&](IZelConfig* c, LONG* r) {
         return c->SetUserConfigValues(user.get(), MislabelledArray().Get(), MislabelledArray().Get(), 1, r);
       },
       E_INVALIDARG, kUnknownCode},
      {"more changes than elements",
       [&](IZelConfig* c, LONG* r) {
         return c->SetUserConfigValues(user.get(), VariantArray({&one.Get()}).Get(), VariantArray({&value.Get()}).Get(),
                                       2, r);
       },
       E_INVALIDARG, kUnknownCode},
      {"a negative number of changes",
       [&](IZelConfig* c, LONG* r) {
         return c->SetUserConfigValues(user.get(), VariantArray({&one.Get()}).Get(), VariantArray({&value.Get()}).Get(),
                                       -1, r);
       },
       E_INVALIDARG, kUnknownCode},
      {"an absurd number of changes",
       [&](IZelConfig* c, LONG* r) {
         return c->SetUserConfigValues(user.get(), VariantArray({&one.Get()}).Get(), VariantArray({&value.Get()}).Get(),
                                       1 << 30, r);
       },
       E_INVALIDARG, kUnknownCode},
      {"a property id that is not a number after a good one",
       [&](IZelConfig* c, LONG* r) {
         return c->SetUserConfigValues(user.get(), VariantArray({twoItems[0], twoItems[1]}).Get(),
                                       VariantArray({&value.Get(), &value.Get()}).Get(), 2, r);
       },
       E_INVALIDARG, kUnknownCode},
      {"arrays that are plain numbers",
       [&](IZelConfig* c, LONG* r) { return c->SetUserConfigValues(user.get(), one.Get(), one.Get(), 1, r); },
       E_INVALIDARG, kUnknownCode},
      {"user values without a result pointer",
       [&](IZelConfig* c, LONG*) {
         return c->SetUserConfigValues(user.get(), VariantArray({&one.Get()}).Get(), VariantArray({&value.Get()}).Get(),
                                       1, nullptr);
       },
       E_INVALIDARG, std::nullopt},
      {"user value by reference to an unknown user",
       [&](IZelConfig* c, LONG* r) {
         Strata::UniqueBstr nobody(::SysAllocString(L"nobody at all"));
         return c->SetUserConfigValue(nobody.get(), item_, RefTo(&item).Get(), r);
       },
       S_OK, kUnknownCode},
      {"user value for a 1 MB name",
       [&](IZelConfig* c, LONG* r) {
         Strata::UniqueBstr name(::SysAllocString(megabyte.c_str()));
         return c->SetUserConfigValue(name.get(), item_, value.Get(), r);
       },
       S_OK, kUnknownCode},
      {"user value for a null name",
       [&](IZelConfig* c, LONG* r) { return c->SetUserConfigValue(nullptr, item_, value.Get(), r); }, S_OK,
       kUnknownCode},
      {"user value without a result pointer",
       [&](IZelConfig* c, LONG*) { return c->SetUserConfigValue(user.get(), item_, value.Get(), nullptr); },
       E_INVALIDARG, std::nullopt},
      {"user read without a value pointer",
       [&](IZelConfig* c, LONG*) { return c->GetUserConfigValue(user.get(), item_, nullptr); }, E_INVALIDARG,
       std::nullopt},
      {"existence of an empty name",
       [&](IZelConfig* c, LONG* r) {
         Strata::UniqueBstr empty(::SysAllocString(L""));
         return c->DoesUserExist(empty.get(), r);
       },
       S_OK, 0},
      {"existence of a 1 MB name",
       [&](IZelConfig* c, LONG* r) {
         Strata::UniqueBstr name(::SysAllocString(megabyte.c_str()));
         return c->DoesUserExist(name.get(), r);
       },
       S_OK, 0},
      {"existence without a result pointer",
       [&](IZelConfig* c, LONG*) { return c->DoesUserExist(user.get(), nullptr); }, E_INVALIDARG, std::nullopt},
      {"protection without a result pointer",
       [&](IZelConfig* c, LONG*) { return c->IsUserProtected(user.get(), nullptr); }, E_INVALIDARG, std::nullopt},
      {"new user without a result pointer",
       [&](IZelConfig* c, LONG*) { return c->CreateNewZelUser(user.get(), nullptr); }, E_INVALIDARG, std::nullopt},
      {"password check without a result pointer",
       [&](IZelConfig* c, LONG*) { return c->VerifyAdminPassword(user.get(), nullptr); }, E_INVALIDARG, std::nullopt},
      {"platform user without a name pointer",
       [&](IZelConfig* c, LONG* r) { return c->GetCurrentTarnUserNameAndType(nullptr, nullptr, nullptr, r); },
       E_POINTER, std::nullopt},
      {"install folder without a pointer", [&](IZelConfig* c, LONG*) { return c->GetInstallDir(nullptr); },
       E_INVALIDARG, std::nullopt},
  };
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.name);
    LONG code = 12345;
    EXPECT_EQ(c.call(Fresh(), &code), c.expected);
    if (c.expectedCode) EXPECT_EQ(code, *c.expectedCode);
  }
  for (const wchar_t* path : {L"Global", L"AdminSettings"}) EXPECT_FALSE(Stored(path, item_)) << Narrow(path);
  EXPECT_FALSE(Stored(UserPath(), item_));
  EXPECT_EQ(Stored(UserPath(), ZelService::kUserName), userName_);
}

// ---- Several user values at once, and new users ----

TEST_F(ZelConfigTest, AServiceThatRefusesTheSecondOfThreeValuesKeepsNoneOfThem) {
  Strata::UniqueBstr user(::SysAllocString(userName_.c_str()));
  const CVariantValue items[] = {I4(item_), I4(item_ + 1), I4(item_ + 2)};
  const CVariantValue values[] = {Text(L"a"), Text(L"b"), Text(L"c")};
  knobs_.SetDword(L"ConfigSetValue.Result", ZelService::kResultValueRefused);
  knobs_.SetDword(L"ConfigSetValue.After", 1);
  const DWORD applied = Calls(L"ConfigApply");
  LONG code = 0;
  ASSERT_EQ(Fresh()->SetUserConfigValues(user.get(),
                                         VariantArray({&items[0].Get(), &items[1].Get(), &items[2].Get()}).Get(),
                                         VariantArray({&values[0].Get(), &values[1].Get(), &values[2].Get()}).Get(),
                                         3, &code),
            S_OK);
  EXPECT_EQ(code, ZelService::kResultValueRefused);
  EXPECT_EQ(Calls(L"ConfigApply"), applied);
  for (long item : {item_, item_ + 1, item_ + 2}) EXPECT_FALSE(Stored(UserPath(), item)) << item;
}

TEST_F(ZelConfigTest, SeveralUserValuesAreAppliedTogetherOrNotAtAll) {
  Strata::UniqueBstr user(::SysAllocString(userName_.c_str()));
  const CVariantValue first = I4(item_), second = Text(std::to_wstring(item_ + 1));
  const CVariantValue text = Text(L"a"), number = I4(7);
  // The object itself stands for a value the service cannot keep.
  CVariantValue object;
  V_VT(object.Put()) = VT_DISPATCH;
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(Config()->QueryInterface(IID_PPV_ARGS(&dispatch)), S_OK);
  V_DISPATCH(const_cast<VARIANT*>(&object.Get())) = dispatch.Detach();

  LONG code = 0;
  ASSERT_EQ(Fresh()->SetUserConfigValues(user.get(), VariantArray({&first.Get(), &second.Get()}).Get(),
                                         VariantArray({&text.Get(), &object.Get()}).Get(), 2, &code),
            S_OK);
  EXPECT_NE(code & ZelService::kErrorMask, 0);
  EXPECT_FALSE(Stored(UserPath(), item_)) << "nothing is applied after a refused write";
  EXPECT_EQ(Calls(L"ConfigApply"), 0u);

  ASSERT_EQ(Fresh()->SetUserConfigValues(user.get(), VariantArray({&first.Get(), &second.Get()}).Get(),
                                         VariantArray({&text.Get(), &number.Get()}).Get(), 2, &code),
            S_OK);
  EXPECT_EQ(code, kResultSuccess);
  EXPECT_EQ(Stored(UserPath(), item_), L"a");
  EXPECT_EQ(Stored(UserPath(), item_ + 1), L"7");

  ASSERT_EQ(Fresh()->SetUserConfigValues(user.get(), VariantArray({}).Get(), VariantArray({}).Get(), 0, &code), S_OK);
  EXPECT_EQ(code, kResultSuccess);
  EXPECT_EQ(Calls(L"ConfigApply"), 2u) << "no changes still apply the user once";
}

TEST_F(ZelConfigTest, NewUserIsAddedOnlyWhenItsNameWasWritten) {
  struct Case {
    const char* name;
    const wchar_t* knob;
    DWORD value;
    bool created;
    std::optional<LONG> code;
  };
  const Case cases[] = {
      {"the service accepts", L"", 0, true, kResultSuccess},
      {"the name cannot be written", L"ConfigSetValue.HResult", static_cast<DWORD>(E_FAIL), false, kUnknownCode},
      {"the name is refused", L"ConfigSetValue.Result", ZelService::kResultValueRefused, false,
       ZelService::kResultValueRefused},
      {"the addition is refused", L"Add.Result", ZelService::kResultAlreadyExists, false,
       ZelService::kResultAlreadyExists},
      {"the item cannot be created", L"CreateItem.HResult", static_cast<DWORD>(E_OUTOFMEMORY), false, kUnknownCode},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring name = userName_ + L"new" + std::to_wstring(++round);
    if (*c.knob) knobs_.SetDword(c.knob, c.value);
    Strata::UniqueBstr bstr(::SysAllocString(name.c_str()));
    LONG code = 0;
    EXPECT_EQ(Fresh()->CreateNewZelUser(bstr.get(), &code), S_OK);
    if (*c.knob) ClearKnob(c.knob);
    EXPECT_EQ(code, *c.code);
    std::optional<std::wstring> created = NewUserId(name);
    EXPECT_EQ(created.has_value(), c.created);
    if (created) store_.DeleteUser(*created);
  }
  EXPECT_EQ(Calls(L"Add"), 2u) << "only the accepted name and the refused addition reach Add";
}

TEST_F(ZelConfigTest, UserQueriesFindUsersRegardlessOfCaseAndAnswerNoForStrangers) {
  Strata::UniqueBstr shouted(::SysAllocString((L"KID" + std::to_wstring(::GetCurrentProcessId())).c_str()));
  Strata::UniqueBstr stranger(::SysAllocString(L"stranger"));
  LONG exists = -7;
  EXPECT_EQ(Config()->DoesUserExist(shouted.get(), &exists), S_OK);
  EXPECT_EQ(exists, 1);
  EXPECT_EQ(Config()->DoesUserExist(stranger.get(), &exists), S_OK);
  EXPECT_EQ(exists, 0);

  VARIANT value;
  EXPECT_EQ(Config()->GetUserConfigValue(stranger.get(), item_, &value), S_OK);
  EXPECT_EQ(V_VT(&value), VT_EMPTY);

  VARIANT_BOOL protectedUser = VARIANT_TRUE;
  EXPECT_EQ(Config()->IsUserProtected(shouted.get(), &protectedUser), S_OK);
  EXPECT_EQ(protectedUser, VARIANT_FALSE);
  LONG code = 0;
  EXPECT_EQ(Config()->SetUserProtected(shouted.get(), VARIANT_TRUE, &code), S_OK);
  EXPECT_EQ(code, kResultSuccess);
  EXPECT_EQ(Config()->IsUserProtected(shouted.get(), &protectedUser), S_OK);
  EXPECT_EQ(protectedUser, VARIANT_TRUE);
  EXPECT_EQ(Config()->SetUserProtected(stranger.get(), VARIANT_TRUE, &code), S_OK);
  EXPECT_EQ(code, kUnknownCode);
}

// ---- The class as COM clients meet it ----

TEST_F(ZelConfigTest, LibraryServesTheClassWithOnlyItsScriptingInterfaces) {
  Strata::UniqueModule library(::LoadLibraryW(ZelTest::SiblingPath(L"ZelTARN.dll").c_str()));
  ASSERT_TRUE(library);
  auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
      ::GetProcAddress(library.get(), "DllGetClassObject"));
  ASSERT_TRUE(getClassObject);
  ComPtr<IKyClassFactory> factory;
  ASSERT_EQ(getClassObject(CLSID_ZelConfig, IID_PPV_ARGS(&factory)), S_OK);
  ComPtr<IZelConfig> config;
  ASSERT_EQ(factory->CreateInstance(IID_IZelConfig, reinterpret_cast<IUnknown**>(config.GetAddressOf())), S_OK);
  ComPtr<IUnknown> other;
  EXPECT_EQ(config.As(&other), S_OK);
  for (const IID* refused : {&IID_IOleObject, &IID_IViewObject, &IID_IPersistStreamInit, &IID_IOleControl})
    EXPECT_EQ(config->QueryInterface(*refused, reinterpret_cast<void**>(other.ReleaseAndGetAddressOf())),
              E_NOINTERFACE);

  // Scripts reach every method by its dispatch id.
  struct Method {
    const wchar_t* name;
    DISPID id;
  } const methods[] = {
      {L"GetGlobalConfigsValue", 11},      {L"SetGlobalConfigsValue", 12},
      {L"GetTARNUserList", 16},            {L"GetCurrentTarnUserNameAndType", 17},
      {L"GetInstallDir", 22},              {L"GetSessionCurrentTarnUserNameAndType", 24},
      {L"CreateNewZelUser", 30},           {L"GetUserConfigValue", 39},
      {L"SetUserConfigValue", 40},         {L"DoesUserExist", 45},
      {L"SetUserConfigValues", 55},        {L"GetResourceDir", 60},
      {L"GetAdminSettingsConfigValue", 68}, {L"SetAdminSettingsConfigValue", 69},
      {L"VerifyAdminPassword", 70},        {L"IsAdminPasswordAbsent", 71},
      {L"VerifyAdminSecurityAnswer", 72},  {L"GetAgeGroupConfigsValue", 73},
      {L"GetSupportedCategoryList", 74},   {L"IsUserProtected", 75},
      {L"SetUserProtected", 76},           {L"RegisterZelPlugin", 77},
      {L"IsZelPluginRegistered", 78},
  };
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(config.As(&dispatch), S_OK);
  for (const Method& method : methods) {
    SCOPED_TRACE(Narrow(method.name));
    LPOLESTR name = const_cast<LPOLESTR>(method.name);
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, method.id);
  }
  const DISPID id = 78;  // IsZelPluginRegistered
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  CVariantValue answer;
  ASSERT_EQ(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, answer.Put(), nullptr, nullptr),
            S_OK);
  EXPECT_EQ(V_VT(&answer.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(&answer.Get()), VARIANT_TRUE);
}

// ---- Platform users, categories and the plug-in ----

// The elements of a one-dimensional VT_ARRAY | VT_VARIANT, each turned into text.
std::vector<std::vector<std::wstring>> Rows(const VARIANT& list) {
  std::vector<std::vector<std::wstring>> rows;
  if (V_VT(&list) != (VT_ARRAY | VT_VARIANT)) return rows;
  LONG upper = -1;
  ::SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
  for (LONG i = 0; i <= upper; ++i) {
    CVariantValue row;
    ::SafeArrayGetElement(V_ARRAY(&list), &i, row.Put());
    std::vector<std::wstring> cells;
    LONG last = -1;
    if (V_VT(&row.Get()) == (VT_ARRAY | VT_VARIANT)) ::SafeArrayGetUBound(V_ARRAY(&row.Get()), 1, &last);
    for (LONG j = 0; j <= last; ++j) {
      CVariantValue cell;
      ::SafeArrayGetElement(V_ARRAY(&row.Get()), &j, cell.Put());
      cells.push_back(V_VT(&cell.Get()) == VT_BOOL ? (V_BOOL(&cell.Get()) ? L"true" : L"false") : TextOf(cell.Get()));
    }
    rows.push_back(cells);
  }
  return rows;
}

TEST_F(ZelConfigTest, PlatformUserListKeepsRegularAccountsAndSkipsOnlyUnreadableOnes) {
  RegisterUserManager();
  VARIANT list;
  ASSERT_EQ(Config()->GetTARNUserList(&list), S_OK);
  EXPECT_EQ(V_VT(&list), VT_EMPTY) << "no users: nothing";

  SetPlatform(L"Users\\alice", L"DisplayName", REG_SZ, L"Alice A");
  SetPlatform(L"Users\\alice", L"GroupSids", REG_MULTI_SZ, std::wstring(L"S-1-5-21-9") + L'\0' + L"S-1-5-32-545" + L'\0');
  SetPlatformDword(L"Users\\bob", L"UserFlag", 1);
  SetPlatformDword(L"Users\\carol", L"NameResult", ERROR_ACCESS_DENIED);
  SetPlatform(L"Users\\dave", L"GroupSids", REG_MULTI_SZ, std::wstring(L"S-1-5-32-555") + L'\0');
  SetPlatformDword(L"Users\\erin", L"Kind", 1);
  SetPlatformDword(L"Users\\erin", L"AdminFlag", 1);
  SetPlatform(L"Users\\erin", L"GroupSids", REG_MULTI_SZ, std::wstring(L"S-1-5-32-544") + L'\0');
  ASSERT_EQ(Config()->GetTARNUserList(&list), S_OK);
  CVariantValue owned;
  *owned.Put() = list;
  EXPECT_EQ(Rows(owned.Get()), (std::vector<std::vector<std::wstring>>{{L"Alice A", L"alice", L"false"},
                                                                      {L"bob", L"bob", L"true"},
                                                                      {L"erin", L"erin", L"true"}}));
  // One progress line per user and one at the end; a missing display name says how it was asked for.
  size_t progress = 0;
  size_t bobsDisplayName = 0;
  for (const ZelTest::LogLine& line : log_.Lines()) {
    progress += line.text.rfind(L"CZelConfig::GetTARNUserList done while hr = ", 0) == 0;
    bobsDisplayName += line.text.rfind(L"Unabled to get display name for user bob: hr=0x", 0) == 0;
  }
  EXPECT_EQ(progress, 1u + 6u) << "the empty list's line, then five users and the end";
  EXPECT_EQ(bobsDisplayName, 1u);
  EXPECT_EQ(Config()->GetTARNUserList(nullptr), E_INVALIDARG);
}

TEST_F(ZelConfigTest, PlatformUserOfASessionIsPendingUntilLoggedOn) {
  RegisterUserManager();
  struct Case {
    const char* name;
    DWORD session;
    HRESULT expected;
    const wchar_t* user;
  };
  SetPlatform(L"Sessions\\7", L"User", REG_SZ, L"frank");
  SetPlatformDword(L"Users\\frank", L"Startup", 1);
  SetPlatformDword(L"Sessions\\8", L"Result", 1008);
  const Case cases[] = {
      {"signed on", 7, S_OK, L"frank"},
      {"not logged on yet", 6, E_PENDING, nullptr},
      {"no token", 8, E_FAIL, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CVariantValue name = Text(L"stale");
    LONG code = 55;
    VARIANT fresh;
    ::VariantInit(&fresh);
    EXPECT_EQ(Config()->GetSessionCurrentTarnUserNameAndType(c.session, &fresh, &code), c.expected);
    *name.Put() = fresh;
    EXPECT_EQ(code, c.user ? 0 : 55);
    if (c.user) EXPECT_EQ(TextOf(name.Get()), c.user);
  }
}

TEST_F(ZelConfigTest, PlatformUserOfThisSessionComesWithItsKindAndStartupFlagAsNumbers) {
  RegisterUserManager();
  SetPlatform(L"Sessions\\" + std::to_wstring(getSessionId()), L"User", REG_SZ, L"frank");
  SetPlatformDword(L"Users\\frank", L"Startup", 1);
  VARIANT name;
  VARIANT kind;
  VARIANT startup;
  LONG code = kUnknownCode;
  ASSERT_EQ(Config()->GetCurrentTarnUserNameAndType(&name, &kind, &startup, &code), S_OK);
  CVariantValue owned[3];
  *owned[0].Put() = name;
  *owned[1].Put() = kind;
  *owned[2].Put() = startup;
  EXPECT_EQ(code, 0);
  EXPECT_EQ(V_VT(&owned[0].Get()), VT_BSTR);
  EXPECT_EQ(TextOf(owned[0].Get()), L"frank");
  EXPECT_EQ(V_VT(&owned[1].Get()), VT_I4);
  EXPECT_EQ(V_I4(&owned[1].Get()), 1);
  EXPECT_EQ(V_VT(&owned[2].Get()), VT_I4);
  EXPECT_EQ(V_I4(&owned[2].Get()), 1);
}

TEST_F(ZelConfigTest, AFailedAllocationEndsAsAnHResultAndNeverAsAnException) {
  IZelConfig* config = Config();
  // The category list's first allocation is the path of the settings it reads.
  VARIANT list;
  ::VariantInit(&list);
  HRESULT hr = S_OK;
  bool fired = false;
  {
    ZelTest::FailingAllocations failing(0);
    try {
      hr = config->GetSupportedCategoryList(&list);
    } catch (...) {
      ADD_FAILURE() << "GetSupportedCategoryList let an exception out to its caller";
    }
    fired = failing.Fired();
  }
  ::VariantClear(&list);
  EXPECT_TRUE(fired);
  EXPECT_EQ(hr, E_OUTOFMEMORY);
}

TEST_F(ZelConfigTest, CategoryListGivesEachNameOnceWithTheAffiliatesNumber) {
  constexpr wchar_t kSettings[] = L"Software\\Varant\\ZEL\\Settings";
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettings);
  VARIANT list;
  ASSERT_EQ(Config()->GetSupportedCategoryList(&list), S_OK);
  CVariantValue empty;
  *empty.Put() = list;
  EXPECT_EQ(V_VT(&empty.Get()), VT_ARRAY | VT_VARIANT);
  EXPECT_TRUE(Rows(empty.Get()).empty());

  auto set = [&](const std::wstring& key, const wchar_t* name, const wchar_t* data) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(kSettings) + key).c_str(), name, REG_SZ, data,
                      static_cast<DWORD>((std::wcslen(data) + 1) * sizeof(wchar_t)));
  };
  set(L"\\default\\Categories", L"Games", L"10");
  set(L"\\default\\Categories", L"News", L"20");
  set(L"\\partner\\Categories", L"News", L"25");
  set(L"", L"affid", L"partner");
  ASSERT_EQ(Config()->GetSupportedCategoryList(&list), S_OK);
  CVariantValue owned;
  *owned.Put() = list;
  EXPECT_EQ(Rows(owned.Get()), (std::vector<std::vector<std::wstring>>{{L"Games", L"10"}, {L"News", L"25"}}));
  EXPECT_EQ(Config()->GetSupportedCategoryList(nullptr), E_INVALIDARG);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettings);
}

TEST_F(ZelConfigTest, PluginRegistrationWaitsForAFreshAcknowledgement) {
  constexpr wchar_t kEvent[] = L"Local\\{117497F9-4481-DA00-7A12-89BAF027BCE3}";
  Strata::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, kEvent));
  ASSERT_TRUE(event);
  struct Case {
    const char* name;
    bool staleSet;
    bool acknowledge;
    LONG expected;
  };
  const Case cases[] = {
      {"acknowledged by the proxy", false, true, ERROR_SUCCESS},
      {"only a stale acknowledgement", true, false, ERROR_TIMEOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::ResetEvent(event.get());
    if (c.staleSet) ::SetEvent(event.get());
    std::thread proxy([&] {
      if (!c.acknowledge) return;
      ::Sleep(300);
      ::SetEvent(event.get());
    });
    LONG code = -5;
    const ULONGLONG started = ::GetTickCount64();
    EXPECT_EQ(Config()->RegisterZelPlugin(&code), S_OK);
    const ULONGLONG elapsed = ::GetTickCount64() - started;
    proxy.join();
    EXPECT_EQ(code, c.expected);
    if (c.expected == ERROR_TIMEOUT) EXPECT_GE(elapsed, 9500u);
    if (c.expected == ERROR_SUCCESS) EXPECT_LT(elapsed, 5000u);
  }
  DWORD protocols = 0;
  DWORD bytes = sizeof(protocols);
  EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, kPluginKey, L"Protocols", RRF_RT_REG_DWORD, nullptr, &protocols, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(protocols, 1u);
  VARIANT_BOOL registered = VARIANT_FALSE;
  EXPECT_EQ(Config()->IsZelPluginRegistered(&registered), S_OK);
  EXPECT_EQ(registered, VARIANT_TRUE);
  EXPECT_EQ(Config()->RegisterZelPlugin(nullptr), E_INVALIDARG);
}

}  // namespace

namespace {

constexpr HRESULT kServerGone = static_cast<HRESULT>(0x800706BA);

// A proxy answers QueryInterface by itself, so a service that went away shows only on a real call.
TEST_F(ZelConfigTest, AServiceThatWentAwayIsMadeAfreshOnceWhenARealCallMeetsIt) {
  const std::wstring value = L"after the restart";
  ASSERT_EQ(store_.WriteProperties(L"Global", {{item_, ZelService::Variant::Text(value.c_str())}}), S_OK);
  IZelConfig* config = Fresh();
  CVariantValue code;
  VARIANT read;
  ASSERT_EQ(config->GetGlobalConfigsValue(I4(item_).Get(), code.Put(), &read), S_OK);
  ::VariantClear(&read);
  const DWORD creations = Calls(L"Create");

  knobs_.SetDword(L"GetValue.HResult", static_cast<DWORD>(kServerGone));
  knobs_.SetDword(L"GetValue.Times", 1);
  ASSERT_EQ(config->GetGlobalConfigsValue(I4(item_).Get(), code.Put(), &read), S_OK);
  CVariantValue owned;
  *owned.Put() = read;
  EXPECT_EQ(TextOf(owned.Get()), value);
  EXPECT_EQ(Calls(L"Create"), creations + 1);

  // Gone for good: one re-creation, then the failure is the caller's.
  knobs_.SetDword(L"GetValue.Times", 5);
  EXPECT_EQ(config->GetGlobalConfigsValue(I4(item_).Get(), code.Put(), &read), kServerGone);
  EXPECT_EQ(Calls(L"Create"), creations + 2);
}

// A held service object that answers even QueryInterface with an RPC failure is made afresh.
TEST_F(ZelConfigTest, GetConfigMakesTheServiceAfreshWhenQueryInterfaceMeetsAnRpcFailure) {
  CZelHelper helper;
  ComPtr<IKyGSService> first;
  ASSERT_EQ(helper.GetConfig(&first), S_OK);
  const DWORD creations = Calls(L"Create");
  knobs_.SetDword(L"Kills", 1);
  ComPtr<IKyGSService> second;
  ASSERT_EQ(helper.GetConfig(&second), S_OK);
  EXPECT_NE(second.Get(), first.Get());
  EXPECT_EQ(Calls(L"Create"), creations + 1);
  long result = kUnknownCode;
  CVariantValue value;
  EXPECT_EQ(second->GetValue(ZelService::kGlobalSettings, value.Put(), &result), S_OK) << "the new one works";
}

TEST_F(ZelConfigTest, CallersThatMeetOneFailureTogetherReconnectOnce) {
  CZelHelper helper;
  ComPtr<IKyGSService> failed;
  ASSERT_EQ(helper.GetConfig(&failed), S_OK);
  const DWORD creations = Calls(L"Create");
  std::vector<ComPtr<IKyGSService>> reconnected(8);
  std::vector<HRESULT> results(reconnected.size(), E_PENDING);
  std::vector<std::thread> callers;
  for (size_t i = 0; i < reconnected.size(); ++i) {
    callers.emplace_back([&, i] {
      ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      results[i] = helper.Reconnect(failed.Get(), reconnected[i].GetAddressOf());
      ::CoUninitialize();
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (size_t i = 0; i < reconnected.size(); ++i) {
    EXPECT_EQ(results[i], S_OK);
    EXPECT_EQ(reconnected[i].Get(), reconnected[0].Get()) << "a later caller threw away another's fresh object";
  }
  EXPECT_NE(reconnected[0].Get(), failed.Get());
  EXPECT_EQ(Calls(L"Create"), creations + 1);
}

}  // namespace
