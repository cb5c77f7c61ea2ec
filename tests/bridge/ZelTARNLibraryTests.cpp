// The built library as COM clients meet it: class objects that answer only the suite factory
// interfaces, unknown classes not served, UserHelper's refusals, and the unload
// answer while objects live. (A logger made here would reach for the shared prefix's report log;
// its dispatch is tested over a report log of the test's own.)
#include <windows.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "Handles.h"
#include "InterfaceTestSupport.h"
#include "KyClassFactory.h"
#include "KyUserManager.h"
#include "TestSupport.h"
#include "ZelTARN.h"

namespace {

using Microsoft::WRL::ComPtr;

using GetClassObjectFn = HRESULT STDAPICALLTYPE(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT STDAPICALLTYPE();

class ZelTARNLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    library_.reset(::LoadLibraryW(ZelTest::SiblingPath(L"ZelTARN.dll").c_str()));
    ASSERT_TRUE(library_);
    getClassObject_ = reinterpret_cast<GetClassObjectFn*>(::GetProcAddress(library_.get(), "DllGetClassObject"));
    canUnloadNow_ = reinterpret_cast<CanUnloadNowFn*>(::GetProcAddress(library_.get(), "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject_ && canUnloadNow_);
  }
  void TearDown() override { ::CoUninitialize(); }

  template <typename Interface>
  ComPtr<Interface> Create(REFCLSID clsid, REFIID iid, HRESULT expected = S_OK) {
    ComPtr<IKyClassFactory> factory;
    EXPECT_EQ(getClassObject_(clsid, IID_PPV_ARGS(&factory)), S_OK);
    ComPtr<Interface> object;
    if (factory) {
      EXPECT_EQ(factory->CreateInstance(iid, reinterpret_cast<IUnknown**>(object.GetAddressOf())), expected);
    }
    return object;
  }

  Strata::UniqueModule library_;
  GetClassObjectFn* getClassObject_ = nullptr;
  CanUnloadNowFn* canUnloadNow_ = nullptr;
};

TEST_F(ZelTARNLibrary, ClassObjectsAnswerOnlyTheSuiteFactoryInterfaces) {
  for (const CLSID* clsid : {&CLSID_ZelConfig, &CLSID_ZelLogger, &CLSID_UserHelper}) {
    ComPtr<IUnknown> classObject;
    EXPECT_EQ(getClassObject_(*clsid, IID_IClassFactory, &classObject), E_NOINTERFACE);
    ComPtr<IKyClassFactory> current;
    ComPtr<IKyClassFactory_PreComponentization> older;
    EXPECT_EQ(getClassObject_(*clsid, IID_PPV_ARGS(&current)), S_OK);
    EXPECT_EQ(getClassObject_(*clsid, IID_PPV_ARGS(&older)), S_OK);
    ComPtr<IKyClassFactory> again;
    EXPECT_EQ(getClassObject_(*clsid, IID_PPV_ARGS(&again)), S_OK);
    EXPECT_EQ(current.Get(), again.Get()) << "one class object per class, kept";
  }
}

TEST_F(ZelTARNLibrary, ClassObjectsServeOnlySignedCallersThroughTheSuiteFactory) {
  for (const CLSID* clsid : {&CLSID_ZelConfig, &CLSID_ZelLogger, &CLSID_UserHelper}) {
    ComPtr<IUnknown> classObject;
    ASSERT_EQ(getClassObject_(*clsid, IID_PPV_ARGS(&classObject)), S_OK);
    ZelTest::ExpectOnlySignedCallersServed(classObject.Get(), IID_IUnknown);
  }
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ZelTARNLibrary, UnknownClassesAreNotServed) {
  ComPtr<IUnknown> classObject;
  EXPECT_EQ(getClassObject_(IID_IZelLogger, IID_IKyClassFactory, &classObject), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(classObject);
}

TEST_F(ZelTARNLibrary, UserHelperServesOnlyTheUserSettingsInterfaceWhichIsNotImplemented) {
  ComPtr<IKyUserSettings> settings = Create<IKyUserSettings>(CLSID_UserHelper, IID_IKyUserSettings);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->GetSettings(1, 2, 3), E_NOTIMPL);
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(settings.As(&dispatch), E_NOINTERFACE);
  Create<IDispatch>(CLSID_UserHelper, IID_IDispatch, E_NOINTERFACE);
}

TEST_F(ZelTARNLibrary, LibraryStaysWhileAnObjectOrAClassObjectLives) {
  ComPtr<IKyUserSettings> settings = Create<IKyUserSettings>(CLSID_UserHelper, IID_IKyUserSettings);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  settings.Reset();
  EXPECT_EQ(canUnloadNow_(), S_OK);

  ComPtr<IKyClassFactory> factory;
  ASSERT_EQ(getClassObject_(CLSID_UserHelper, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a caller may create from it later";
  factory.Reset();
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

}  // namespace
