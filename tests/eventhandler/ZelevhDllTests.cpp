#include <gtest/gtest.h>

#include "Handles.h"
#include "TestSupport.h"

namespace {

using DllCanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();
using DllGetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

template <typename Fn>
Fn Export(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(::GetProcAddress(library, name));
}

TEST(ZelevhDll, LoadsAndUnloadsWithNothingRunningAndServesNoClassYet) {
  Strata::UniqueModule library(::LoadLibraryW(ZelTest::SiblingPath(L"zelevh.dll").c_str()));
  ASSERT_TRUE(library);
  auto canUnloadNow = Export<DllCanUnloadNowFn>(library.get(), "DllCanUnloadNow");
  auto getClassObject = Export<DllGetClassObjectFn>(library.get(), "DllGetClassObject");
  ASSERT_NE(canUnloadNow, nullptr);
  ASSERT_NE(getClassObject, nullptr);
  ASSERT_NE(::GetProcAddress(library.get(), "DllRegisterServer"), nullptr);
  ASSERT_NE(::GetProcAddress(library.get(), "DllUnregisterServer"), nullptr);

  EXPECT_EQ(canUnloadNow(), S_OK);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(CLSID_NULL, IID_IUnknown, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(getClassObject(CLSID_NULL, IID_IUnknown, nullptr), E_POINTER);
}

}  // namespace
