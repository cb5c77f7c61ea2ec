// The cached connection to the service's root object. The tests register the service's own class
// id machine-wide, so they run in the prefix of their own (run-in-own-prefix.sh).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "EventHandlerTestSupport.h"
#include "ZELEventHandlerModule.h"

namespace {

using namespace ZelTest;
using Microsoft::WRL::ComPtr;

std::wstring ServiceClassKey() {
  wchar_t text[64];
  ::StringFromGUID2(CLSID_KyGSService, text, 64);
  return std::wstring(L"Software\\Classes\\CLSID\\") + text;
}

class ServiceConnectionTest : public ::testing::Test {
 protected:
  ServiceConnectionTest() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ServiceConnectionTest() override {
    module_.reset();
    UnregisterService();
    ::CoUninitialize();
  }

  // The service library stand-in built beside this program serves the root class.
  void RegisterService() {
    std::wstring path = SiblingPath(L"zel.dll");
    std::wstring key = ServiceClassKey() + L"\\InprocServer32";
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, path.c_str(),
                      static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ThreadingModel", REG_SZ, L"Both", sizeof(L"Both"));
  }
  void UnregisterService() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ServiceClassKey().c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ServiceClassKey().c_str());
  }

  LogRecorder& log_ = LogRecorder::Install();
  std::unique_ptr<CZELEventHandlerModule> module_ = std::make_unique<CZELEventHandlerModule>();
};

TEST_F(ServiceConnectionTest, ConnectionIsMadeOnceAndDroppedWithTheLastUnlock) {
  RegisterService();
  module_->Lock();
  ComPtr<IKyGSService> first = module_->GetGadrelService();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(module_->GetGadrelService().Get(), first.Get());
  module_->Unlock();

  module_->Lock();
  ComPtr<IKyGSService> second = module_->GetGadrelService();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second.Get(), first.Get());
  EXPECT_NE(module_->ReconnectGadrelService(second.Get()).Get(), second.Get());
  module_->Unlock();
}

TEST_F(ServiceConnectionTest, CallersThatMeetOneFailureTogetherReconnectOnce) {
  RegisterService();
  module_->Lock();
  ComPtr<IKyGSService> failed = module_->GetGadrelService();
  ASSERT_NE(failed, nullptr);
  std::vector<ComPtr<IKyGSService>> reconnected(8);
  std::vector<std::thread> callers;
  for (ComPtr<IKyGSService>& fresh : reconnected) {
    callers.emplace_back([&] {
      ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      fresh = module_->ReconnectGadrelService(failed.Get());
      ::CoUninitialize();
    });
  }
  for (std::thread& caller : callers) caller.join();
  ASSERT_NE(reconnected[0], nullptr);
  EXPECT_NE(reconnected[0].Get(), failed.Get());
  for (const ComPtr<IKyGSService>& fresh : reconnected)
    EXPECT_EQ(fresh.Get(), reconnected[0].Get()) << "a later caller threw away another's fresh connection";
  EXPECT_EQ(module_->GetGadrelService().Get(), reconnected[0].Get());
  module_->Unlock();
}

TEST_F(ServiceConnectionTest, MissingServiceLeavesNullAndSaysWhyEachTime) {
  UnregisterService();
  module_->Lock();
  EXPECT_EQ(module_->GetGadrelService(), nullptr);
  EXPECT_EQ(module_->GetGadrelService(), nullptr);
  EXPECT_EQ(log_.Count(L"Failed to get Gadrel Service class factory [Error 0x80040154]\r\n"), 2u);
  module_->Unlock();
}

}  // namespace
