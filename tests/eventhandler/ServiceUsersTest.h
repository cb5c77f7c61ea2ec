// The service stand-in and a bridge that names the platform user, registered machine-wide for a
// test of the user-keeping handlers, with the module's logging thread pointed at a test logger.
// Used by tests that run in the prefix of their own (run-in-own-prefix.sh).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "EventHandlerTestSupport.h"
#include "KyClassFactory.h"
#include "ObjectMap.h"
#include "ServiceResults.h"
#include "ServiceStore.h"
#include "UserEvents.h"
#include "ZelEventHandler.h"

namespace ZelTest {

using Microsoft::WRL::ComPtr;

inline constexpr wchar_t kFakeBridgeState[] = L"Software\\ZelTests\\FakeBridge";
inline constexpr DWORD kEverySession = 0xFFFFFFFE;

inline std::wstring ClassKey(REFCLSID clsid) {
  wchar_t text[64];
  ::StringFromGUID2(clsid, text, 64);
  return std::wstring(L"Software\\Classes\\CLSID\\") + text;
}

inline void RegisterInproc(REFCLSID clsid, const std::wstring& path) {
  const std::wstring key = ClassKey(clsid) + L"\\InprocServer32";
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, path.c_str(),
                    static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ThreadingModel", REG_SZ, L"Both", sizeof(L"Both"));
}

inline void DeleteTree(HKEY root, const std::wstring& key) {
  ::RegDeleteTreeW(root, key.c_str());
  ::RegDeleteKeyW(root, key.c_str());
}

class ServiceUsersTest : public ::testing::Test {
 protected:
  ServiceUsersTest() {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DeleteTree(HKEY_LOCAL_MACHINE, ZelService::kServiceKey);
    DeleteTree(HKEY_CURRENT_USER, kFakeBridgeState);
    DWORD registered = 1;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kFakeBridgeState, L"Registered", REG_DWORD, &registered, sizeof(registered));
    RegisterInproc(CLSID_KyGSService, SiblingPath(L"zel.dll"));
    RegisterInproc(CLSID_ZelConfig, SiblingPath(L"FakeZelTARN.dll"));
    LoggingThreadSettings settings;
    settings.loggerClass = logger_.Clsid();
    g_module.SetLoggingThreadSettings(settings);
    ComPtr<IUnknown> classObject;
    GetEventHandlerClassObject(CLSID_UserEvents, IID_PPV_ARGS(&classObject));
    ComPtr<IKyClassFactory> factory;
    if (classObject) classObject.As(&factory);
    if (factory) factory->CreateInstance(IID_IKyUserEvents, reinterpret_cast<IUnknown**>(events_.GetAddressOf()));
  }
  ~ServiceUsersTest() override {
    events_.Reset();
    DeleteTree(HKEY_LOCAL_MACHINE, ClassKey(CLSID_KyGSService));
    DeleteTree(HKEY_LOCAL_MACHINE, ClassKey(CLSID_ZelConfig));
    DeleteTree(HKEY_LOCAL_MACHINE, ZelService::kServiceKey);
    DeleteTree(HKEY_CURRENT_USER, kFakeBridgeState);
    ::CoUninitialize();
  }

  static void SetPlatformUser(const std::wstring& name) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kFakeBridgeState, L"CurrentUser", REG_SZ, name.c_str(),
                      static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
  }
  // The service's users by name, in no particular order.
  std::vector<std::wstring> ServiceUsers() const {
    std::vector<std::wstring> names;
    for (const std::wstring& id : store_.UserIds()) {
      ZelService::PropertyMap properties = store_.ReadProperties(ZelService::ServiceStore::UserPath(id));
      auto name = properties.find(ZelService::kUserName);
      if (name != properties.end() && V_VT(&name->second.Get()) == VT_BSTR)
        names.push_back(V_BSTR(&name->second.Get()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // What reached the report log once the logging thread drained (the last object is released).
  std::vector<std::wstring> ReportedAfterRelease() {
    events_.Reset();
    return logger_.Calls();
  }

  LogRecorder& log_ = LogRecorder::Install();
  RegisteredTestLogger logger_;
  ZelService::ServiceStore store_;
  ComPtr<IKyUserEvents> events_;
};

}  // namespace ZelTest
