#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <thread>

#include "ComApartment.h"

namespace {

// The apartment a thread is in, as COM reports it; CO_E_NOTINITIALIZED when in none.
HRESULT ApartmentOf(APTTYPE* type) {
  APTTYPEQUALIFIER qualifier;
  return ::CoGetApartmentType(type, &qualifier);
}

TEST(ComApartment, JoinsTheMultithreadedApartmentForItsLifeOnly) {
  std::thread([] {
    APTTYPE type;
    {
      Strata::MultithreadedApartment com;
      EXPECT_EQ(com.Result(), S_OK);
      ASSERT_EQ(ApartmentOf(&type), S_OK);
      EXPECT_EQ(type, APTTYPE_MTA);
    }
    EXPECT_EQ(ApartmentOf(&type), CO_E_NOTINITIALIZED);
  }).join();
}

TEST(ComApartment, AThreadInAnotherApartmentIsRefusedAndLeftAsItWas) {
  std::thread([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
      Strata::MultithreadedApartment com;
      EXPECT_EQ(com.Result(), RPC_E_CHANGED_MODE);
    }
    APTTYPE type;
    EXPECT_EQ(ApartmentOf(&type), S_OK);
    // The first single-threaded apartment of a process is its main one.
    EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << "apartment type " << type;
    ::CoUninitialize();
  }).join();
}

}  // namespace
