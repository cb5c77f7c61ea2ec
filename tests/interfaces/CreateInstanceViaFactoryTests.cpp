// The creation path through the suite's class-factory interfaces, with real class registrations
// and real module loads.
#include "CreateInstanceViaFactory.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

#include "Handles.h"
#include "RecordLayout.h"
#include "InterfaceTestSupport.h"
#include "TestSupport.h"

namespace {

using Ky::CreateInstanceViaFactory;
using Ky::CreationForm;
using Ky::UnsignedModules;
using Microsoft::WRL::ComPtr;

constexpr DWORD kInProcess = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

using ZelTest::RegisteredClass;

class CreateViaFactory : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override { ::CoUninitialize(); }

  // A value no successful or failed call may leave behind.
  static void* Garbage() { return reinterpret_cast<void*>(static_cast<uintptr_t>(0xBADF00D)); }
};

TEST_F(CreateViaFactory, ClassObjectWithOnlyTheOlderFactoryInterfaceStillYieldsAnObject) {
  RegisteredClass registered(ZelTest::TestServerPath());
  ComPtr<IUnknown> object;
  EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_PPV_ARGS(&object)), S_OK);
  EXPECT_NE(object, nullptr);
}

TEST_F(CreateViaFactory, NullOutPointerIsRefusedInEveryForm) {
  RegisteredClass registered(ZelTest::TestServerPath());
  for (CreationForm form : {CreationForm::Plain, CreationForm::Checked, CreationForm::CoCreate}) {
    EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_IUnknown, nullptr, form), E_POINTER);
  }
}

TEST_F(CreateViaFactory, FailuresLeaveTheOutPointerNull) {
  void* object = Garbage();
  EXPECT_EQ(CreateInstanceViaFactory(CLSID_NULL, kInProcess, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  RegisteredClass registered(ZelTest::TestServerPath());
  object = Garbage();
  EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

TEST_F(CreateViaFactory, PlainCoCreateFormCannotReachAClassThatServesOnlySuiteFactories) {
  RegisteredClass registered(ZelTest::TestServerPath());
  void* object = Garbage();
  EXPECT_TRUE(FAILED(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_IUnknown, &object,
                                              CreationForm::CoCreate)));
  EXPECT_EQ(object, nullptr);
}

TEST_F(CreateViaFactory, CheckedFormCreatesFromAModuleOfTheProductPublisher) {
  ZelTest::TrustTestRoot();
  RegisteredClass registered(ZelTest::TestServerPath(L"trusted"));
  ComPtr<IUnknown> object;
  EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_PPV_ARGS(&object), CreationForm::Checked,
                                     UnsignedModules::Refuse),
            S_OK);
  EXPECT_NE(object, nullptr);
}

TEST_F(CreateViaFactory, CheckedFormRefusesAServingModuleThatFailsThePublisherCheck) {
  ZelTest::TrustTestRoot();
  for (const wchar_t* signatureCase : {L"untrusted-root", L"other-publisher"}) {
    RegisteredClass registered(ZelTest::TestServerPath(signatureCase));
    void* object = Garbage();
    EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_IUnknown, &object, CreationForm::Checked),
              E_ACCESSDENIED);
    EXPECT_EQ(object, nullptr);
    // The plain form does not look at the serving module.
    ComPtr<IUnknown> unchecked;
    EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_PPV_ARGS(&unchecked)), S_OK);
  }
}

TEST_F(CreateViaFactory, CheckedFormFollowsThePolicyForUnsignedServers) {
  RegisteredClass registered(ZelTest::TestServerPath());
  ComPtr<IUnknown> object;
  EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_PPV_ARGS(&object), CreationForm::Checked,
                                     UnsignedModules::Refuse),
            E_ACCESSDENIED);
  EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_PPV_ARGS(&object), CreationForm::Checked,
                                     UnsignedModules::Accept),
            S_OK);
}

// The checked form under the product policy: what it verifies must be what serves.
TEST_F(CreateViaFactory, CheckedFormNeverLoadsAnInprocServerThatFailsTheCheck) {
  ZelTest::TempFolder folder;
  const std::wstring copy = folder / L"UnsignedServer.dll";
  ASSERT_TRUE(::CopyFileW(ZelTest::TestServerPath().c_str(), copy.c_str(), FALSE));
  RegisteredClass registered(copy);
  void* object = Garbage();
  EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_IUnknown, &object, CreationForm::Checked,
                                     UnsignedModules::Refuse),
            E_ACCESSDENIED);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(::GetModuleHandleW(copy.c_str()), nullptr);
  EXPECT_NE(ZelTest::LoadedTestServer(), copy) << "the refused library's DllMain ran";
}

TEST_F(CreateViaFactory, CheckedFormRefusesASignedLibraryWhoseClassObjectIsAnotherModulesCode) {
  RegisteredClass registered(ZelTest::SiblingPath(L"DelegatingTestServer.dll"));
  ComPtr<IUnknown> object;
  EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_PPV_ARGS(&object), CreationForm::Checked,
                                     UnsignedModules::Refuse),
            E_ACCESSDENIED);
  EXPECT_EQ(object, nullptr);
  // The plain form shows that the delegation itself works.
  EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_PPV_ARGS(&object)), S_OK);
}

TEST_F(CreateViaFactory, CheckedFormRefusesAClassObjectOfThisProcessPosingAsAProxy) {
  // The registration names a signed executable (one that would only print its usage if it were
  // started); the class object that COM hands out is an unsigned library's, registered in this
  // process and answering IClientSecurity.
  RegisteredClass registered(ZelTest::SiblingPath(L"KyLogCfg.exe"), L"LocalServer32");
  Strata::UniqueModule server(::LoadLibraryW(ZelTest::TestServerPath().c_str()));
  using RegisterFn = HRESULT (*)(REFCLSID, DWORD*);
  auto registerPoser = reinterpret_cast<RegisterFn>(::GetProcAddress(server.get(), "RegisterProxyClaimingClassObject"));
  ASSERT_NE(registerPoser, nullptr);
  DWORD cookie = 0;
  ASSERT_EQ(registerPoser(registered.Clsid(), &cookie), S_OK);
  for (DWORD context : {DWORD{CLSCTX_LOCAL_SERVER}, DWORD{CLSCTX_LOCAL_SERVER | kInProcess}}) {
    void* object = Garbage();
    EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), context, IID_IUnknown, &object, CreationForm::Checked,
                                       UnsignedModules::Refuse),
              E_ACCESSDENIED);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(::CoRevokeClassObject(cookie), S_OK);
}

// A checked creation holds nothing that stops an installer from moving the loaded library aside,
// and a server that changed since it was verified, under its path or in the registration, is
// verified again before anything of it runs.
TEST_F(CreateViaFactory, CheckedFormLetsTheLoadedLibraryBeMovedAndVerifiesAChangedServerAgain) {
  ZelTest::TrustTestRoot();
  enum class Change { Nothing, ReplacedUnderItsPath, RegisteredElsewhere };
  struct Case {
    Change change;
    HRESULT expected;
  } const cases[] = {
      {Change::Nothing, S_OK},
      {Change::ReplacedUnderItsPath, E_ACCESSDENIED},
      {Change::RegisteredElsewhere, E_ACCESSDENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.change));
    ZelTest::TempFolder folder;
    ZelTest::TempFolder elsewhere;  // a change there is no change in the server's folder
    const std::wstring signedCopy = folder / L"SignedServer.dll";
    const std::wstring aside = folder / L"SignedServer.old";
    const std::wstring unsignedCopy = elsewhere / L"UnsignedServer.dll";
    ASSERT_TRUE(::CopyFileW(ZelTest::TestServerPath(L"trusted").c_str(), signedCopy.c_str(), FALSE));
    RegisteredClass registered(signedCopy);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_PPV_ARGS(&object), CreationForm::Checked,
                                       UnsignedModules::Refuse),
              S_OK);
    ASSERT_NE(::GetModuleHandleW(signedCopy.c_str()), nullptr);

    switch (c.change) {
      case Change::Nothing:
        break;
      case Change::ReplacedUnderItsPath:
        ASSERT_TRUE(::MoveFileExW(signedCopy.c_str(), aside.c_str(), 0));
        ASSERT_TRUE(::CopyFileW(ZelTest::TestServerPath().c_str(), signedCopy.c_str(), FALSE));
        break;
      case Change::RegisteredElsewhere: {
        ASSERT_TRUE(::CopyFileW(ZelTest::TestServerPath().c_str(), unsignedCopy.c_str(), FALSE));
        wchar_t clsid[40] = L"";
        ::StringFromGUID2(registered.Clsid(), clsid, ARRAYSIZE(clsid));
        const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\InprocServer32";
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, unsignedCopy.c_str(),
                                    static_cast<DWORD>((unsignedCopy.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        break;
      }
    }
    void* again = Garbage();
    EXPECT_EQ(CreateInstanceViaFactory(registered.Clsid(), kInProcess, IID_IUnknown, &again, CreationForm::Checked,
                                       UnsignedModules::Refuse),
              c.expected);
    EXPECT_EQ(again != nullptr, c.expected == S_OK);
    if (again) static_cast<IUnknown*>(again)->Release();
    EXPECT_EQ(::GetModuleHandleW(unsignedCopy.c_str()), nullptr) << "the unsigned library's DllMain ran";

    // As an installer moves a library in use aside during an upgrade.
    const std::wstring loaded = c.change == Change::ReplacedUnderItsPath ? aside : signedCopy;
    EXPECT_TRUE(::MoveFileExW(loaded.c_str(), (folder / L"Moved.dll").c_str(), 0)) << "error " << ::GetLastError();
  }
}

TEST_F(CreateViaFactory, CheckedFormLooksOnlyAtTheMachinesRegistration) {
  void* object = Garbage();
  EXPECT_EQ(CreateInstanceViaFactory(CLSID_NULL, kInProcess | CLSCTX_LOCAL_SERVER, IID_IUnknown, &object,
                                     CreationForm::Checked),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
}

}  // namespace
