// The configuration object's repair by re-registering the bridge library. These tests write the
// product's "Install Dir" and register the bridge's own configuration class id, both machine-wide
// in a prefix, so they run in a prefix of their own (run-in-own-prefix.sh), never beside others.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "EventHandlerTestSupport.h"
#include "ZELEventHandlerModule.h"

namespace {

using namespace ZelTest;

constexpr wchar_t kProductKey[] = L"Software\\Varant\\ZEL";
constexpr wchar_t kFakeBridgeState[] = L"Software\\ZelTests\\FakeBridge";

std::wstring ClassKeyPath() {
  wchar_t text[64];
  ::StringFromGUID2(CLSID_ZelConfig, text, 64);
  return std::wstring(L"Software\\Classes\\CLSID\\") + text;
}

void SetText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  ::RegSetKeyValueW(root, key.c_str(), name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}

// What the service library stand-in recorded of this process's failure reports, in order:
// "code flag 0xVALUE".
std::wstring FailureReportsKey() {
  return L"Software\\ZelStandIns\\Service\\DllCanDefer\\" + std::to_wstring(::GetCurrentProcessId());
}

std::vector<std::wstring> FailureReports() {
  std::vector<std::wstring> reports;
  for (DWORD n = 1;; ++n) {
    wchar_t text[64];
    DWORD bytes = sizeof(text);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, FailureReportsKey().c_str(), std::to_wstring(n).c_str(), RRF_RT_REG_SZ,
                       nullptr, text, &bytes) != ERROR_SUCCESS)
      break;
    reports.push_back(text);
  }
  return reports;
}

DWORD FakeBridgeState(const wchar_t* name) {
  DWORD value = 0;
  DWORD bytes = sizeof(value);
  ::RegGetValueW(HKEY_CURRENT_USER, kFakeBridgeState, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes);
  return value;
}

// The fake bridge installed as "ZelTARN.DLL" in an installation folder of the test's own, with the
// configuration class registered to it and its interface "lost"; the service library stand-in
// beside it records failure reports.
class BridgeRepairTest : public ::testing::Test {
 protected:
  BridgeRepairTest() {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kFakeBridgeState);
    std::wstring bridge = installFolder_ / L"ZelTARN.DLL";
    ::CopyFileW(SiblingPath(L"FakeZelTARN.dll").c_str(), bridge.c_str(), FALSE);
    ::CopyFileW(SiblingPath(L"zel.dll").c_str(), (installFolder_ / L"zel.dll").c_str(), FALSE);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, FailureReportsKey().c_str());
    SetText(HKEY_LOCAL_MACHINE, kProductKey, L"Install Dir", installFolder_.Path());
    SetText(HKEY_LOCAL_MACHINE, ClassKeyPath() + L"\\InprocServer32", nullptr, bridge);
    SetText(HKEY_LOCAL_MACHINE, ClassKeyPath() + L"\\InprocServer32", L"ThreadingModel", L"Both");
  }
  ~BridgeRepairTest() override {
    module_.Unlock();
    ::CoUninitialize();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKeyPath().c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ClassKeyPath().c_str());
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"Install Dir");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kFakeBridgeState);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, FailureReportsKey().c_str());
  }

  void RegistrationRepairs(DWORD repairs) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kFakeBridgeState, L"RegistrationRepairs", REG_DWORD, &repairs,
                      sizeof(repairs));
  }

  LogRecorder& log_ = LogRecorder::Install();
  TempFolder installFolder_;
  CZELEventHandlerModule module_;
  LONG locked_ = module_.Lock();
};

const wchar_t kNotRegistered[] = L"Failed to create the ZEL TARN Config [Error 0x80040155]\r\n";

TEST_F(BridgeRepairTest, InterfaceNotRegisteredIsRepairedByOneRegistrationAndThenCached) {
  RegistrationRepairs(1);
  EXPECT_NE(module_.GetZelTarn(), nullptr);
  EXPECT_NE(module_.GetZelTarn(), nullptr);
  EXPECT_EQ(FakeBridgeState(L"Registrations"), 1u);
  EXPECT_EQ(log_.Count(kNotRegistered), 1u);
  EXPECT_EQ(log_.Count(L"Reregistering ZelTARN.DLL...\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"   -> 0x00000000\r\n"), 1u);
  EXPECT_TRUE(FailureReports().empty());
}

TEST_F(BridgeRepairTest, RegistrationThatDoesNotHelpIsTriedOncePerRequestNotInALoop) {
  RegistrationRepairs(0);
  EXPECT_EQ(module_.GetZelTarn(), nullptr);
  EXPECT_EQ(FakeBridgeState(L"Registrations"), 1u);
  EXPECT_EQ(log_.Count(kNotRegistered), 2u);
  // Nothing was cached, so the next request tries the repair again, once.
  EXPECT_EQ(module_.GetZelTarn(), nullptr);
  EXPECT_EQ(FakeBridgeState(L"Registrations"), 2u);
  EXPECT_TRUE(FailureReports().empty());
}

TEST_F(BridgeRepairTest, OtherCreationFailuresAreReportedToTheServiceAndNotRepaired) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKeyPath().c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ClassKeyPath().c_str());
  EXPECT_EQ(module_.GetZelTarn(), nullptr);
  EXPECT_EQ(FakeBridgeState(L"Registrations"), 0u);
  EXPECT_EQ(FailureReports(), std::vector<std::wstring>{L"43 0 0x80040154"});
}

TEST_F(BridgeRepairTest, ReleasedConfigurationIsCreatedAfresh) {
  RegistrationRepairs(1);
  Microsoft::WRL::ComPtr<IZelConfig> first = module_.GetZelTarn();
  module_.ReleaseZelTarn();
  Microsoft::WRL::ComPtr<IZelConfig> second = module_.GetZelTarn();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first.Get(), second.Get());
}

// Making the bridge takes long; neither the last unlock nor the event path may wait for it.
TEST_F(BridgeRepairTest, AConfigurationBeingMadeHoldsUpNeitherTheLastUnlockNorTheEventPath) {
  RegistrationRepairs(1);
  ASSERT_NE(module_.GetZelTarn(), nullptr);  // repaired and registered once
  module_.ReleaseZelTarn();
  const DWORD delayMs = 3000;
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kFakeBridgeState, L"CreateDelayMs", REG_DWORD, &delayMs, sizeof(delayMs));
  std::thread maker([this] { module_.GetZelTarn(); });
  ::Sleep(500);
  const auto start = std::chrono::steady_clock::now();
  module_.Unlock();  // the last one: it releases the cached objects
  module_.QueueEvent(LogEvent_UrlVisited, L"page", nullptr, 1);
  const auto waited = std::chrono::steady_clock::now() - start;
  maker.join();
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
  module_.ReleaseZelTarn();
  locked_ = module_.Lock();  // for the fixture's own unlock
}

TEST_F(BridgeRepairTest, MissingInstallDirFailsTheRepairWithoutLoadingAnything) {
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"Install Dir");
  EXPECT_FALSE(CZELEventHandlerModule::reregisterZelTarn());
  EXPECT_EQ(module_.GetZelTarn(), nullptr);
  EXPECT_EQ(FakeBridgeState(L"Registrations"), 0u);
  EXPECT_EQ(log_.Count(L"Failed to load ZelTARN.DLL (Error 126)\r\n"), 0u);
  // Without a folder the service library is not looked for at all: a bare name would find the
  // copy beside this program through the search order.
  EXPECT_TRUE(FailureReports().empty());
  EXPECT_EQ(log_.Count(L"Not reporting 30 to zel.dll: the product folder is unknown\r\n"), 2u);
}

TEST_F(BridgeRepairTest, MissingBridgeLibraryIsReportedWithItsLoadError) {
  ::DeleteFileW((installFolder_ / L"ZelTARN.DLL").c_str());
  EXPECT_FALSE(CZELEventHandlerModule::reregisterZelTarn());
  EXPECT_EQ(log_.Count(L"Failed to load ZelTARN.DLL (Error 2)\r\n"), 1u);
  EXPECT_EQ(FailureReports(), std::vector<std::wstring>{L"42 0 0x00000000"});
}

TEST_F(BridgeRepairTest, UnsignedBridgeLibraryIsNeverLoadedToRegisterIt) {
  const std::wstring bridge = installFolder_ / L"ZelTARN.DLL";
  ASSERT_TRUE(::CopyFileW(SiblingPath(L"FactoryTestServer.dll").c_str(), bridge.c_str(), FALSE));
  EXPECT_FALSE(CZELEventHandlerModule::reregisterZelTarn());
  EXPECT_EQ(::GetModuleHandleW(bridge.c_str()), nullptr);
  EXPECT_EQ(FailureReports(), std::vector<std::wstring>{L"42 0 0x00000000"});
}

}  // namespace
