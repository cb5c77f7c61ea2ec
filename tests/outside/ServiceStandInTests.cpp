// The parental-control service stand-in: "zel.dll" through the suite factory, its users, settings
// and sign-ins shared with other processes, its knobs, its event registry, and the event source
// raising events into a handler of the test's own. Cases run side by side in one prefix: each uses
// users, products, property ids and sessions of its own and removes them.
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyClassFactory.h"
#include "KyGSService.h"
#include "ProcessKnobs.h"
#include "ServiceResults.h"
#include "ServiceVariant.h"
#include "StandInKnobs.h"
#include "TestSupport.h"

using Microsoft::WRL::ComPtr;
using ZelService::UniqueBstr;
using ZelService::Variant;

namespace {

constexpr long kSuccess = ZelService::kResultSuccess;
constexpr long kUnknownUser = ZelService::kResultUnknownUser;

bool IsError(long result) { return (result & ZelService::kErrorMask) != 0; }

// A new GUID in registry form, with braces.
std::wstring NewClassIdText() { return L"{" + ZelTest::NewGuidText() + L"}"; }

std::wstring ReadRegistryText(HKEY root, const std::wstring& path, const wchar_t* name) {
  wchar_t text[512] = L"";
  DWORD size = sizeof(text);
  if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
    return L"(absent)";
  return text;
}

void SetProcessTextKnob(const wchar_t* name, const wchar_t* value) {
  const std::wstring path = ZelStandIns::StandInKnobs::ProcessKeyPath(L"Service", ::GetCurrentProcessId());
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

// The library registers its classes once per prefix; every case makes sure of it.
HRESULT RegisterServiceLibrary() {
  Strata::UniqueModule library(::LoadLibraryW(ZelTest::SiblingPath(L"zel.dll").c_str()));
  if (!library) return HRESULT_FROM_WIN32(::GetLastError());
  auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(library.get(), "DllRegisterServer"));
  return registerServer ? registerServer() : E_NOTIMPL;
}

class ComApartment {
 public:
  ComApartment() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComApartment() { ::CoUninitialize(); }
};

class ServiceStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(knobs_.Created());
    ASSERT_EQ(RegisterServiceLibrary(), S_OK);
    ASSERT_EQ(CreateService(service_), S_OK);
  }

  void TearDown() override {
    if (!service_) return;
    for (const std::wstring& name : createdUsers_) RemoveUser(name);
    long result = 0;
    service_->SignOut(OwnSession(), &result);
  }

  static HRESULT CreateService(ComPtr<IKyGSService>& service) {
    return Ky::CreateInstanceViaFactory(CLSID_KyGSService, CLSCTX_INPROC_SERVER, IID_IKyGSService,
                                        reinterpret_cast<void**>(service.ReleaseAndGetAddressOf()));
  }

  template <typename Interface>
  ComPtr<Interface> Object(long id) {
    Variant value;
    long result = 0;
    EXPECT_EQ(service_->GetValue(id, value.Put(), &result), S_OK);
    EXPECT_EQ(result, kSuccess);
    ComPtr<Interface> object;
    if (V_VT(&value.Get()) == VT_DISPATCH) V_DISPATCH(&value.Get())->QueryInterface(IID_PPV_ARGS(&object));
    return object;
  }

  ComPtr<IKyGSConfigCollection> Users() { return Object<IKyGSConfigCollection>(ZelService::kUsersCollection); }

  // The collection's items as the enumerator hands them out, by name.
  std::map<std::wstring, Variant> Enumerate(IKyGSConfigCollection* collection) {
    std::map<std::wstring, Variant> items;
    ComPtr<IUnknown> enumerator;
    EXPECT_EQ(collection->GetEnumerator(&enumerator), S_OK);
    ComPtr<IEnumVARIANT> enumeration;
    if (!enumerator || FAILED(enumerator.As(&enumeration))) return items;
    Variant item;
    while (enumeration->Next(1, item.Put(), nullptr) == S_OK) {
      ComPtr<IKyConfig> user;
      V_DISPATCH(&item.Get())->QueryInterface(IID_PPV_ARGS(&user));
      Variant name;
      long result = 0;
      user->GetValue(ZelService::kUserName, name.Put(), &result);
      if (V_VT(&name.Get()) == VT_BSTR) items[V_BSTR(&name.Get())] = item;
    }
    return items;
  }

  bool Listed(const std::wstring& name) {
    ComPtr<IKyGSConfigCollection> users = Users();
    return Enumerate(users.Get()).count(name) == 1;
  }

  // A new user named `name`, added to `collection` but not applied.
  Variant NewUser(IKyGSConfigCollection* collection, const std::wstring& name, long* addResult) {
    Variant item;
    long result = 0;
    EXPECT_EQ(collection->CreateItem(item.Put(), &result), S_OK);
    ComPtr<IKyConfig> user;
    V_DISPATCH(&item.Get())->QueryInterface(IID_PPV_ARGS(&user));
    EXPECT_EQ(user->SetValue(ZelService::kUserName, Variant::Text(name.c_str()).Get(), &result), S_OK);
    collection->Add(item.Get(), addResult);
    createdUsers_.push_back(name);
    return item;
  }

  void AddUser(const std::wstring& name) {
    ComPtr<IKyGSConfigCollection> users = Users();
    long result = 0;
    NewUser(users.Get(), name, &result);
    ASSERT_EQ(result, kSuccess);
    ASSERT_EQ(users->Apply(&result), S_OK);
    ASSERT_EQ(result, kSuccess);
  }

  void RemoveUser(const std::wstring& name) {
    ComPtr<IKyGSConfigCollection> users = Users();
    std::map<std::wstring, Variant> items = Enumerate(users.Get());
    if (!items.count(name)) return;
    long result = 0;
    users->Remove(items[name].Get(), &result);
    users->Apply(&result);
  }

  long SignIn(DWORD session, const std::wstring& name) {
    UniqueBstr user(::SysAllocString(name.c_str()));
    long result = 0;
    EXPECT_EQ(service_->SignIn(session, user.get(), nullptr, &result), S_OK);
    return result;
  }

  // A session id no other case uses.
  static DWORD OwnSession() { return 0x10000 + ::GetCurrentProcessId(); }
  // A property id no other case uses.
  static long OwnProperty() { return 100000 + static_cast<long>(::GetCurrentProcessId()); }

  ComApartment apartment_;
  ZelTest::ProcessKnobs knobs_{L"Service"};
  ComPtr<IKyGSService> service_;
  std::vector<std::wstring> createdUsers_;
};

TEST_F(ServiceStandIn, ClassObjectAnswersTheSuiteFactoriesAndNotIClassFactory) {
  for (REFIID iid : {IID_IKyClassFactory, IID_IKyClassFactory_PreComponentization}) {
    ComPtr<IUnknown> factory;
    EXPECT_EQ(::CoGetClassObject(CLSID_KyGSService, CLSCTX_INPROC_SERVER, nullptr, iid, &factory), S_OK);
  }
  ComPtr<IClassFactory> standard;
  EXPECT_TRUE(FAILED(::CoGetClassObject(CLSID_KyGSService, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&standard))));
  ComPtr<IKyGSService> checked;
  EXPECT_EQ(Ky::CreateInstanceViaFactory(CLSID_KyGSService, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                         IID_IKyGSService, reinterpret_cast<void**>(checked.GetAddressOf()),
                                         Ky::CreationForm::Checked),
            S_OK);
}

TEST_F(ServiceStandIn, GetValueAnswersEachConfigurationObject) {
  for (long id : {ZelService::kGlobalSettings, ZelService::kAdminSettings, ZelService::kAgeGroups})
    EXPECT_TRUE(Object<IKyConfig>(id)) << id;
  EXPECT_TRUE(Users());

  Variant value;
  long result = 0;
  EXPECT_EQ(service_->GetValue(101, value.Put(), &result), S_OK);
  EXPECT_EQ(V_VT(&value.Get()), VT_EMPTY);
  EXPECT_TRUE(IsError(result));
}

TEST_F(ServiceStandIn, SignInKnowsOnlyAppliedUsersAndSignOutEndsTheSession) {
  const std::wstring name = L"signin-" + ZelTest::NewGuidText();
  EXPECT_EQ(SignIn(OwnSession(), name), kUnknownUser);
  EXPECT_EQ(SignIn(OwnSession(), L""), kUnknownUser);

  AddUser(name);
  std::wstring upper = name;
  ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
  EXPECT_EQ(SignIn(OwnSession(), upper), kSuccess);
  const std::wstring sessions = std::wstring(ZelService::kServiceKey) + L"\\Sessions";
  EXPECT_EQ(ReadRegistryText(HKEY_LOCAL_MACHINE, sessions, std::to_wstring(OwnSession()).c_str()), upper);

  long result = 0;
  EXPECT_EQ(service_->SignOut(OwnSession(), &result), S_OK);
  EXPECT_EQ(result, kSuccess);
  EXPECT_EQ(ReadRegistryText(HKEY_LOCAL_MACHINE, sessions, std::to_wstring(OwnSession()).c_str()), L"(absent)");
}

TEST_F(ServiceStandIn, AddAndRemoveTakeEffectOnlyWhenApplied) {
  const std::wstring name = L"pending-" + ZelTest::NewGuidText();
  ComPtr<IKyGSConfigCollection> users = Users();
  long result = 0;
  NewUser(users.Get(), name, &result);
  EXPECT_EQ(result, kSuccess);
  EXPECT_FALSE(Listed(name));
  EXPECT_EQ(SignIn(OwnSession(), name), kUnknownUser);

  ASSERT_EQ(users->Apply(&result), S_OK);
  EXPECT_EQ(result, kSuccess);
  EXPECT_TRUE(Listed(name));

  std::map<std::wstring, Variant> items = Enumerate(users.Get());
  ASSERT_EQ(V_VT(&items[name].Get()), VT_DISPATCH);
  EXPECT_EQ(users->Remove(items[name].Get(), &result), S_OK);
  EXPECT_EQ(result, kSuccess);
  EXPECT_TRUE(Listed(name));
  EXPECT_EQ(users->Apply(&result), S_OK);
  EXPECT_FALSE(Listed(name));
  EXPECT_EQ(SignIn(OwnSession(), name), kUnknownUser);
}

TEST_F(ServiceStandIn, RevertDropsPendingChanges) {
  const std::wstring name = L"revert-" + ZelTest::NewGuidText();
  ComPtr<IKyGSConfigCollection> users = Users();
  long result = 0;
  NewUser(users.Get(), name, &result);
  EXPECT_EQ(users->Revert(&result), S_OK);
  EXPECT_EQ(users->Apply(&result), S_OK);
  EXPECT_FALSE(Listed(name));
}

TEST_F(ServiceStandIn, CollectionRefusesDuplicatesAndForeignItems) {
  const std::wstring name = L"dup-" + ZelTest::NewGuidText();
  AddUser(name);
  ComPtr<IKyGSConfigCollection> users = Users();
  std::wstring upper = name;
  ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
  long result = 0;
  NewUser(users.Get(), upper, &result);
  EXPECT_EQ(result, ZelService::kResultAlreadyExists);

  // Remove takes the user object as VT_DISPATCH only; anything else is refused and changes nothing.
  std::map<std::wstring, Variant> items = Enumerate(users.Get());
  VARIANT asUnknown;
  V_VT(&asUnknown) = VT_UNKNOWN;
  V_UNKNOWN(&asUnknown) = V_DISPATCH(&items[name].Get());
  EXPECT_TRUE(FAILED(users->Remove(asUnknown, &result)));
  EXPECT_TRUE(IsError(result));
  EXPECT_TRUE(FAILED(users->Remove(Variant::Text(name.c_str()).Get(), &result)));
  users->Apply(&result);
  EXPECT_TRUE(Listed(name));
}

TEST_F(ServiceStandIn, UserPropertiesKeepTheirTypeAndApplyPerUser) {
  const std::wstring name = L"props-" + ZelTest::NewGuidText();
  AddUser(name);
  ComPtr<IKyGSConfigCollection> users = Users();
  ComPtr<IKyConfig> writer;
  V_DISPATCH(&Enumerate(users.Get())[name].Get())->QueryInterface(IID_PPV_ARGS(&writer));
  ASSERT_TRUE(writer);
  VARIANT protectedFlag;
  V_VT(&protectedFlag) = VT_BOOL;
  V_BOOL(&protectedFlag) = VARIANT_TRUE;
  long result = 0;
  ASSERT_EQ(writer->SetValue(315, protectedFlag, &result), S_OK);

  ComPtr<IKyConfig> reader;
  V_DISPATCH(&Enumerate(users.Get())[name].Get())->QueryInterface(IID_PPV_ARGS(&reader));
  Variant value;
  reader->GetValue(315, value.Put(), &result);
  EXPECT_EQ(V_VT(&value.Get()), VT_EMPTY) << "visible before Apply";

  ASSERT_EQ(writer->Apply(&result), S_OK);
  EXPECT_EQ(result, kSuccess);
  reader->GetValue(315, value.Put(), &result);
  EXPECT_EQ(result, kSuccess);
  EXPECT_EQ(V_VT(&value.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(&value.Get()), VARIANT_TRUE);
}

TEST_F(ServiceStandIn, AnotherProcessSeesTheSameUsers) {
  const std::wstring mine = L"mine-" + ZelTest::NewGuidText();
  const std::wstring theirs = L"theirs-" + ZelTest::NewGuidText();
  AddUser(mine);
  createdUsers_.push_back(theirs);
  const std::wstring probe = L"\"" + ZelTest::SiblingPath(L"ServiceTestProbe.exe") + L"\" ";
  EXPECT_EQ(ZelTest::RunProcess(probe + L"signin " + std::to_wstring(OwnSession()) + L" " + mine),
            static_cast<DWORD>(kSuccess));
  EXPECT_EQ(ZelTest::RunProcess(probe + L"adduser " + theirs), static_cast<DWORD>(kSuccess));
  EXPECT_TRUE(Listed(theirs));
  EXPECT_EQ(SignIn(OwnSession(), theirs), kSuccess);
}

TEST_F(ServiceStandIn, PasswordAndAnswerAreValidatedNeverStored) {
  ComPtr<IKyConfig> admin = Object<IKyConfig>(ZelService::kAdminSettings);
  ASSERT_TRUE(admin);
  long result = 0;
  // With nothing configured only the empty text is the password.
  EXPECT_EQ(admin->SetValue(ZelService::kAdminPassword, Variant::Text(L"").Get(), &result), S_OK);
  EXPECT_EQ(result, kSuccess);
  admin->SetValue(ZelService::kAdminPassword, Variant::Text(L"anything").Get(), &result);
  EXPECT_TRUE(IsError(result));

  SetProcessTextKnob(L"AdminPassword", L"Sesame-1");
  SetProcessTextKnob(L"SecurityAnswer", L"Blue whale");
  struct Check {
    long property;
    const wchar_t* text;
    bool accepted;
  };
  for (const Check& check : {Check{ZelService::kAdminPassword, L"Sesame-1", true},
                             Check{ZelService::kAdminPassword, L"sesame-1", false},
                             Check{ZelService::kAdminPassword, L"", false},
                             Check{ZelService::kSecurityAnswer, L"Blue whale", true},
                             Check{ZelService::kSecurityAnswer, L"Sesame-1", false}}) {
    EXPECT_EQ(admin->SetValue(check.property, Variant::Text(check.text).Get(), &result), S_OK);
    EXPECT_EQ(!IsError(result), check.accepted) << check.property << " " << std::string(check.text, check.text + wcslen(check.text));
  }
  VARIANT number;
  V_VT(&number) = VT_I4;
  V_I4(&number) = 1;
  admin->SetValue(ZelService::kAdminPassword, number, &result);
  EXPECT_TRUE(IsError(result));

  EXPECT_EQ(admin->Apply(&result), S_OK);
  Variant stored;
  admin->GetValue(ZelService::kAdminPassword, stored.Put(), &result);
  EXPECT_EQ(V_VT(&stored.Get()), VT_EMPTY);
}

TEST_F(ServiceStandIn, SettingsApplyForEveryObjectAndAgeGroupsKeepTheirOwn) {
  const long property = OwnProperty();
  VARIANT number;
  V_VT(&number) = VT_I4;
  V_I4(&number) = 42;
  long result = 0;
  ComPtr<IKyConfig> global = Object<IKyConfig>(ZelService::kGlobalSettings);
  ASSERT_EQ(global->SetValue(property, number, &result), S_OK);
  Variant value;
  Object<IKyConfig>(ZelService::kGlobalSettings)->GetValue(property, value.Put(), &result);
  EXPECT_EQ(V_VT(&value.Get()), VT_EMPTY);
  ASSERT_EQ(global->Apply(&result), S_OK);
  Object<IKyConfig>(ZelService::kGlobalSettings)->GetValue(property, value.Put(), &result);
  EXPECT_EQ(V_VT(&value.Get()), VT_I4);
  EXPECT_EQ(V_I4(&value.Get()), 42);

  ComPtr<IKyConfig> ageGroups = Object<IKyConfig>(ZelService::kAgeGroups);
  auto select = [&](long group) {
    VARIANT selection;
    V_VT(&selection) = VT_I4;
    V_I4(&selection) = group;
    EXPECT_EQ(ageGroups->SetValue(ZelService::kAgeGroupSelection, selection, &result), S_OK);
    EXPECT_EQ(result, kSuccess);
  };
  select(3);
  ASSERT_EQ(ageGroups->SetValue(property, Variant::Text(L"teen").Get(), &result), S_OK);
  ASSERT_EQ(ageGroups->Apply(&result), S_OK);
  select(4);
  ageGroups->GetValue(property, value.Put(), &result);
  EXPECT_EQ(V_VT(&value.Get()), VT_EMPTY);
  select(3);
  ageGroups->GetValue(property, value.Put(), &result);
  ASSERT_EQ(V_VT(&value.Get()), VT_BSTR);
  EXPECT_STREQ(V_BSTR(&value.Get()), L"teen");

  for (const std::wstring& key : {std::wstring(L"\\Global"), std::wstring(L"\\AgeGroups\\3")})
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (ZelService::kServiceKey + key).c_str(),
                         std::to_wstring(property).c_str());
}

TEST_F(ServiceStandIn, KnobsAnswerInsteadOfTheOperationAsOftenAsTold) {
  const std::wstring name = L"knob-" + ZelTest::NewGuidText();
  AddUser(name);
  knobs_.SetDword(L"SignIn.HResult", 0x800706BA);
  knobs_.SetDword(L"SignIn.Times", 1);
  UniqueBstr user(::SysAllocString(name.c_str()));
  long result = 0;
  EXPECT_EQ(service_->SignIn(OwnSession(), user.get(), nullptr, &result), static_cast<HRESULT>(0x800706BA));
  EXPECT_EQ(SignIn(OwnSession(), name), kSuccess);
  EXPECT_EQ(knobs_.ReadDword(L"SignIn.Calls"), 2u);

  knobs_.SetDword(L"SignIn.HResult", S_OK);
  knobs_.SetDword(L"SignIn.Result", 0);
  knobs_.SetDword(L"SignIn.Times", 5);
  EXPECT_EQ(SignIn(OwnSession(), name), 0);

  knobs_.SetDword(L"Create.HResult", E_FAIL);
  knobs_.SetDword(L"Create.Times", 1);
  ComPtr<IKyGSService> another;
  EXPECT_EQ(CreateService(another), E_FAIL);
  EXPECT_FALSE(another);
  EXPECT_EQ(CreateService(another), S_OK);
}

TEST_F(ServiceStandIn, DllCanDeferRecordsEveryCall) {
  Strata::UniqueModule library(::LoadLibraryW(ZelTest::SiblingPath(L"zel.dll").c_str()));
  auto canDefer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(long, BYTE, long)>(::GetProcAddress(library.get(), "DllCanDefer"));
  ASSERT_TRUE(canDefer);
  canDefer(43, 0, static_cast<long>(0x80040155));
  canDefer(22, 1, 7);
  const std::wstring key = std::wstring(ZelService::kServiceKey) + L"\\DllCanDefer\\" +
                           std::to_wstring(::GetCurrentProcessId());
  EXPECT_EQ(ReadRegistryText(HKEY_LOCAL_MACHINE, key, L"1"), L"43 0 0x80040155");
  EXPECT_EQ(ReadRegistryText(HKEY_LOCAL_MACHINE, key, L"2"), L"22 1 0x00000007");
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

// The event registry, and the event source that reads it.
class EventRegistryStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterServiceLibrary(), S_OK);
    ASSERT_EQ(::CoGetClassObject(CLSID_KyGSEventRegistry, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr,
                                 IID_PPV_ARGS(&factory_)),
              S_OK);
    ASSERT_EQ(factory_->CreateInstance(IID_IKyGSEventRegistry, reinterpret_cast<IUnknown**>(registry_.GetAddressOf())),
              S_OK);
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(ZelService::kServiceKey) + L"\\EventBindings\\" + product_).c_str());
  }

  long Call(HRESULT (IKyGSEventRegistry::*method)(BSTR, BSTR, long*), const wchar_t* event, const wchar_t* handler) {
    UniqueBstr eventText(::SysAllocString(event));
    UniqueBstr handlerText(::SysAllocString(handler));
    long result = 0;
    EXPECT_EQ((registry_.Get()->*method)(eventText.get(), handlerText.get(), &result), S_OK);
    return result;
  }
  long Open(const std::wstring& product) {
    UniqueBstr text(::SysAllocString(product.c_str()));
    long result = 0;
    EXPECT_EQ(registry_->OpenProduct(text.get(), &result), S_OK);
    return result;
  }
  long Bind(const wchar_t* event, const std::wstring& handler, long reserved = 0) {
    UniqueBstr eventText(::SysAllocString(event));
    UniqueBstr handlerText(::SysAllocString(handler.c_str()));
    long result = 0;
    EXPECT_EQ(registry_->AddBinding(eventText.get(), handlerText.get(), reserved, &result), S_OK);
    return result;
  }
  long Save() {
    long result = 0;
    EXPECT_EQ(registry_->Save(&result), S_OK);
    return result;
  }
  std::wstring Find(const std::wstring& product, const wchar_t* event) {
    UniqueBstr productText(::SysAllocString(product.c_str()));
    UniqueBstr eventText(::SysAllocString(event));
    UniqueBstr handler;
    long result = 0;
    EXPECT_EQ(registry_->FindBinding(productText.get(), eventText.get(), handler.put(), &result), S_OK);
    EXPECT_EQ(IsError(result), !handler);
    return handler ? handler.get() : L"(none)";
  }

  ComApartment apartment_;
  ComPtr<IKyClassFactory> factory_;
  ComPtr<IKyGSEventRegistry> registry_;
  const std::wstring product_ = L"Product" + ZelTest::NewGuidText();
};

constexpr wchar_t kAccessDeniedText[] = L"{DAE60262-42CB-4406-BAF4-24B7E29D7772}";
constexpr wchar_t kSignInRequiredMixedCase[] = L"{C4C934D0-4BD7-44cb-B6A3-84B06A6C8D7A}";

TEST_F(EventRegistryStandIn, SavedBindingsAreFoundPerProductInCanonicalForm) {
  const std::wstring handler = NewClassIdText();
  std::wstring lowerHandler = handler;
  ::CharLowerBuffW(&lowerHandler[0], static_cast<DWORD>(lowerHandler.size()));
  ASSERT_EQ(Open(product_), kSuccess);
  EXPECT_EQ(Bind(kSignInRequiredMixedCase, lowerHandler), kSuccess);
  EXPECT_EQ(Find(product_, kSignInRequiredMixedCase), L"(none)") << "visible before Save";
  EXPECT_EQ(Save(), kSuccess);
  EXPECT_EQ(Find(product_, L"{C4C934D0-4BD7-44CB-B6A3-84B06A6C8D7A}"), handler);
  EXPECT_EQ(Find(L"Other" + product_, kSignInRequiredMixedCase), L"(none)");

  // A removal names the handler it removes.
  EXPECT_EQ(Call(&IKyGSEventRegistry::RemoveBinding, kSignInRequiredMixedCase, NewClassIdText().c_str()),
            kSuccess);
  EXPECT_EQ(Save(), kSuccess);
  EXPECT_EQ(Find(product_, kSignInRequiredMixedCase), handler);
  EXPECT_EQ(Call(&IKyGSEventRegistry::RemoveBinding, kSignInRequiredMixedCase, handler.c_str()), kSuccess);
  EXPECT_EQ(Save(), kSuccess);
  EXPECT_EQ(Find(product_, kSignInRequiredMixedCase), L"(none)");
}

TEST_F(EventRegistryStandIn, RefusesCallsWithoutAProductOrWithMalformedIds) {
  const std::wstring handler = NewClassIdText();
  EXPECT_EQ(Bind(kAccessDeniedText, handler), ZelService::kResultNoProduct);
  EXPECT_EQ(Save(), ZelService::kResultNoProduct);
  ASSERT_EQ(Open(product_), kSuccess);
  EXPECT_TRUE(IsError(Bind(L"DAE60262-42CB-4406-BAF4-24B7E29D7772", handler)));
  EXPECT_TRUE(IsError(Bind(kAccessDeniedText, L"not a class id")));
  EXPECT_TRUE(IsError(Bind(kAccessDeniedText, handler, 1)));
  EXPECT_TRUE(IsError(Open(L"")));
  EXPECT_EQ(Save(), kSuccess);
  EXPECT_EQ(Find(product_, kAccessDeniedText), L"(none)");
}

// The event source raising events into this folder's test handler, registered under a class id of
// the case's own. Wine's COM reads class registrations from the machine's classes only, so the
// registration goes there rather than under the current user.
class EventSourceStandIn : public EventRegistryStandIn {
 protected:
  void SetUp() override {
    EventRegistryStandIn::SetUp();
    const std::wstring server = L"Software\\Classes\\CLSID\\" + handler_ + L"\\InprocServer32";
    const std::wstring path = ZelTest::SiblingPath(L"ServiceTestHandler.dll");
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, server.c_str(), nullptr, REG_SZ, path.c_str(),
                      static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, server.c_str(), L"ThreadingModel", REG_SZ, L"Both", sizeof(L"Both"));
    ASSERT_EQ(Open(product_), kSuccess);
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\CLSID\\" + handler_).c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, RecordKey().c_str());
    EventRegistryStandIn::TearDown();
  }

  void BindAll(std::initializer_list<const wchar_t*> events) {
    for (const wchar_t* event : events) ASSERT_EQ(Bind(event, handler_), kSuccess);
    ASSERT_EQ(Save(), kSuccess);
  }

  // Runs the event source on `arguments`, each of its events for the case's product.
  DWORD Raise(const std::wstring& arguments, std::string* output = nullptr) {
    const std::wstring product = L" product=" + product_;
    std::wstring withProduct;
    size_t start = 0;
    for (size_t plus; (plus = arguments.find(L" + ", start)) != std::wstring::npos; start = plus + 3)
      withProduct += arguments.substr(start, plus - start) + product + L" + ";
    withProduct += arguments.substr(start) + product;
    return ZelTest::RunProcess(L"\"" + ZelTest::SiblingPath(L"GSEventSource.exe") + L"\" " + withProduct, output);
  }

  std::wstring RecordKey() const { return L"Software\\ZelTests\\ServiceTestHandler\\" + handler_; }

  // Every value the handler recorded for call `n`, by name.
  std::map<std::wstring, std::wstring> Recorded(int n) const {
    std::map<std::wstring, std::wstring> values;
    Strata::UniqueHkey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, (RecordKey() + L"\\" + std::to_wstring(n)).c_str(), 0, KEY_READ,
                        key.put()) != ERROR_SUCCESS)
      return values;
    for (DWORD index = 0;; ++index) {
      wchar_t name[64];
      wchar_t data[512];
      DWORD nameLength = ARRAYSIZE(name);
      DWORD dataSize = sizeof(data);
      if (::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                          &dataSize) != ERROR_SUCCESS)
        break;
      values[name] = data;
    }
    return values;
  }

  const std::wstring handler_ = NewClassIdText();
};

constexpr wchar_t kImageBlocked[] = L"{662FEFCB-D7F9-47FE-A4AB-328E123594BF}";
constexpr wchar_t kKeywordBlocked[] = L"{F1DB377E-6701-411C-B31B-53A187FAAF15}";
constexpr wchar_t kSignIn[] = L"{EFE55865-5455-402C-93F1-4973A0EB26D2}";
constexpr wchar_t kSignOut[] = L"{47B95115-84B0-46CA-A4E5-8F8E537510BE}";
constexpr wchar_t kUrlVisited[] = L"{F976049B-8A30-4267-BDCA-69C36AC94E10}";
constexpr wchar_t kPIIDetected[] = L"{0A5E1C69-91C4-4E4B-85A8-3B56EDC04217}";

TEST_F(EventSourceStandIn, EveryEventReachesItsHandlerWithItsFields) {
  BindAll({kAccessDeniedText, kImageBlocked, kKeywordBlocked, kSignIn, kSignOut, kUrlVisited, kPIIDetected,
           kSignInRequiredMixedCase});
  using Fields = std::map<std::wstring, std::wstring>;
  struct Case {
    const wchar_t* event;
    Fields fields;
  };
  const Case cases[] = {
      {L"AccessDenied", {{L"pid", L"4242"}, {L"content", L"1"}, {L"reason", L"3"}, {L"url", L"http://blocked.example/a b"}}},
      {L"ImageBlocked", {{L"pid", L"7"}, {L"content", L"0"}, {L"url", L"http://img.example/x.png"}, {L"rating", L"4000000000"}}},
      {L"KeywordBlocked", {{L"pid", L"8"}, {L"content", L"99"}, {L"pattern", L"bad word"}, {L"url", L"mail"}}},
      {L"UrlVisited", {{L"pid", L"100"}, {L"domain", L"news.example"}, {L"path", L"/today?x=1"}}},
      {L"PIIDetected",
       {{L"pid", L"9"}, {L"content", L"2"}, {L"domain", L"chat.example"}, {L"display", L"My number"},
        {L"information", L"555-0100"}, {L"type", L"3"}}},
      {L"SignIn", {}},
      {L"SignOut", {}},
      {L"SignInRequired", {{L"session", L"3"}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::wstring arguments = c.event;
    for (const auto& [field, value] : c.fields) arguments += L" \"" + field + L"=" + value + L"\"";
    ASSERT_EQ(Raise(arguments), 0u) << std::string(arguments.begin(), arguments.end());
    Fields recorded = Recorded(++n);
    EXPECT_EQ(recorded[L"Event"], c.event);
    recorded.erase(L"Event");
    recorded.erase(L"Object");
    if (std::wstring(c.event) == L"PIIDetected") {
      EXPECT_EQ(recorded[L"verdict"], std::to_wstring(kSuccess)) << "the verdict object answers";
      recorded.erase(L"verdict");
    }
    EXPECT_EQ(recorded, c.fields) << std::string(arguments.begin(), arguments.end());
  }
}

TEST_F(EventSourceStandIn, LeftOutTextsArriveAsNullAndEmptyOnesAsEmpty) {
  BindAll({kAccessDeniedText, kPIIDetected});
  ASSERT_EQ(Raise(L"AccessDenied pid=5 reason=1"), 0u);
  ASSERT_EQ(Raise(L"AccessDenied pid=5 reason=1 url="), 0u);
  ASSERT_EQ(Raise(L"PIIDetected display="), 0u);
  std::map<std::wstring, std::wstring> first = Recorded(1);
  EXPECT_EQ(first.count(L"url"), 0u) << "null";
  EXPECT_EQ(first[L"content"], L"0");
  std::map<std::wstring, std::wstring> second = Recorded(2);
  ASSERT_EQ(second.count(L"url"), 1u);
  EXPECT_EQ(second[L"url"], L"");
  std::map<std::wstring, std::wstring> third = Recorded(3);
  EXPECT_EQ(third.count(L"domain") + third.count(L"information"), 0u);
  EXPECT_EQ(third.count(L"display"), 1u);
}

TEST_F(EventSourceStandIn, OneHandlerObjectReceivesARunsEventsInOrder) {
  BindAll({kUrlVisited, kSignIn});
  ASSERT_EQ(Raise(L"UrlVisited pid=100 domain=a.example + UrlVisited pid=100 domain=b.example + SignIn + "
                  L"UrlVisited pid=100 domain=a.example"),
            0u);
  std::vector<std::map<std::wstring, std::wstring>> calls;
  for (int n = 1; n <= 4; ++n) calls.push_back(Recorded(n));
  EXPECT_EQ(calls[0][L"domain"], L"a.example");
  EXPECT_EQ(calls[1][L"domain"], L"b.example");
  EXPECT_EQ(calls[2][L"Event"], L"SignIn");
  EXPECT_EQ(calls[3][L"domain"], L"a.example");
  EXPECT_EQ(calls[0][L"Object"], calls[3][L"Object"]);
  EXPECT_NE(calls[0][L"Object"], calls[2][L"Object"]) << "each event interface has its own handler object";
}

TEST_F(EventSourceStandIn, ExitCodeIsTheHandlersAnswerOrWhyNoHandlerWasCalled) {
  BindAll({kSignOut});
  DWORD answer = E_UNEXPECTED;
  ::RegSetKeyValueW(HKEY_CURRENT_USER, RecordKey().c_str(), L"Answer", REG_DWORD, &answer, sizeof(answer));
  std::string output;
  EXPECT_EQ(Raise(L"SignOut", &output), static_cast<DWORD>(E_UNEXPECTED));
  EXPECT_NE(output.find("SignOut for"), std::string::npos) << output;
  EXPECT_EQ(Raise(L"SignIn"), static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_NOT_FOUND))) << "nothing bound";
  EXPECT_EQ(Raise(L"NoSuchEvent"), static_cast<DWORD>(E_INVALIDARG));
  EXPECT_EQ(Raise(L"SignOut pid"), static_cast<DWORD>(E_INVALIDARG));
  BindAll({kAccessDeniedText});
  EXPECT_EQ(Raise(L"AccessDenied pid=twelve"), static_cast<DWORD>(E_INVALIDARG));
  EXPECT_EQ(Recorded(2).size(), 0u) << "a malformed event reaches no handler";
}

}  // namespace
