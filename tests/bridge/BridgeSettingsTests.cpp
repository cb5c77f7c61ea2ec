// What the bridge library reads from the installation and the service connection of the
// configuration object, in the installed prefix whose machine-wide settings these tests change:
// the affiliate id and content categories, failure reports to the service library, the plug-in
// gate and the creation retry of the service object, and the choice of the newest utility folder.
#include <windows.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <map>
#include <optional>
#include <string>

#include "Handles.h"
#include "KyUtilBinding.h"
#include "ProcessKnobs.h"
#include "ProductSettings.h"
#include "TestSupport.h"
#include "ZelHelper.h"
#include "ZelPlugin.h"

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kSettings[] = L"Software\\Varant\\ZEL\\Settings";
constexpr wchar_t kPluginKey[] = L"Software\\Varant\\KyProxy\\Plugins\\{08533142-6DAA-40C0-829F-098475E66646}";

void SetValue(const std::wstring& key, const wchar_t* name, DWORD type, const std::wstring& text) {
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, type, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void CreateKey(const wchar_t* path) {
  Strata::UniqueHkey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
}

class ProductSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettings); }
  void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettings); }

  std::wstring AffiliateId() {
    std::wstring id = L"untouched";
    EXPECT_TRUE(ProductSettings::ReadAffiliateId(&id));
    return id;
  }
};

TEST_F(ProductSettingsTest, AffiliateIdFallsBackToDefaultOnlyForMissingEmptyOrZero) {
  std::wstring id = L"untouched";
  EXPECT_FALSE(ProductSettings::ReadAffiliateId(&id));
  EXPECT_EQ(id, L"untouched");

  CreateKey(kSettings);
  EXPECT_EQ(AffiliateId(), L"default");
  SetValue(kSettings, L"affid", REG_SZ, L"0");
  EXPECT_EQ(AffiliateId(), L"default");
  SetValue(kSettings, L"affid", REG_SZ, L"");
  EXPECT_EQ(AffiliateId(), L"default");
  SetValue(kSettings, L"affid", REG_SZ, L"00");
  EXPECT_EQ(AffiliateId(), L"00");
  SetValue(kSettings, L"affid", REG_EXPAND_SZ, L"partner");
  EXPECT_EQ(AffiliateId(), L"partner");
  SetValue(kSettings, L"affid", REG_SZ, std::wstring(300, L'a'));
  EXPECT_EQ(AffiliateId(), L"default");
}

TEST_F(ProductSettingsTest, AffiliateCategoriesOverrideTheDefaultOnes) {
  const std::wstring defaults = std::wstring(kSettings) + L"\\default\\Categories";
  const std::wstring partner = std::wstring(kSettings) + L"\\partner\\Categories";
  SetValue(defaults, L"Games", REG_SZ, L"10");
  SetValue(defaults, L"News", REG_SZ, L"20");
  SetValue(defaults, L"Binary", REG_EXPAND_SZ, L"30");
  SetValue(partner, L"News", REG_SZ, L"-5 and more");
  SetValue(partner, L"Chat", REG_SZ, L"none");
  SetValue(kSettings, L"affid", REG_SZ, L"partner");

  std::map<std::wstring, long> categories{{L"Stale", 1}};
  ProductSettings::ReadCategoryMap(&categories);
  EXPECT_EQ(categories, (std::map<std::wstring, long>{{L"Games", 10}, {L"News", -5}, {L"Chat", 0}}));
}

// Where the service library stand-in records this process's reports.
std::wstring ServiceReportsKey() {
  return L"Software\\ZelStandIns\\Service\\DllCanDefer\\" + std::to_wstring(::GetCurrentProcessId());
}

std::wstring FirstServiceReport() {
  wchar_t text[64] = {};
  DWORD bytes = sizeof(text);
  ::RegGetValueW(HKEY_LOCAL_MACHINE, ServiceReportsKey().c_str(), L"1", RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

TEST(ServiceReport, FailureReachesTheServiceLibraryOfTheProductFolder) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ServiceReportsKey().c_str());
  ProductSettings::ReportToService(22, 0, CO_E_SERVER_STOPPING);
  EXPECT_EQ(FirstServiceReport(), L"22 0 0x80080008");
}

TEST(ServiceReport, WithoutTheProductFolderNoLibraryIsLookedForByItsBareName) {
  // A copy of the service library lies beside this program, where the search order would find it.
  ASSERT_TRUE(ZelTest::FileExists(ZelTest::SiblingPath(L"zel.dll")));
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ServiceReportsKey().c_str());
  std::optional<std::wstring> folder = ProductSettings::ReadProductFolder(false);
  ASSERT_TRUE(folder);
  for (const wchar_t* value : {L"", static_cast<const wchar_t*>(nullptr)}) {
    if (value)
      SetValue(L"Software\\Varant\\ZEL", L"Install Dir", REG_SZ, value);
    else
      ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Varant\\ZEL", L"Install Dir");
    ProductSettings::ReportToService(22, 0, CO_E_SERVER_STOPPING);
  }
  SetValue(L"Software\\Varant\\ZEL", L"Install Dir", REG_SZ, *folder);
  EXPECT_EQ(FirstServiceReport(), L"");
}

class ZelHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(knobs_.Created());
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    CreateKey(kPluginKey);
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPluginKey);
    ::CoUninitialize();
  }
  DWORD Creations() const { return knobs_.ReadDword(L"Create.Calls").value_or(0); }
  // The service stand-in answers the next creation of its root object with `hr`.
  void FailNextCreation(HRESULT hr) const {
    knobs_.SetDword(L"Create.HResult", static_cast<DWORD>(hr));
    knobs_.SetDword(L"Create.Times", 1);
  }

  ZelTest::ProcessKnobs knobs_{L"Service"};
};

TEST_F(ZelHelperTest, UnregisteredPluginIsAnsweredWithoutTouchingTheService) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPluginKey);
  VARIANT_BOOL registered = VARIANT_TRUE;
  EXPECT_EQ(IsZelPluginRegistered(&registered), S_OK);
  EXPECT_EQ(registered, VARIANT_FALSE);
  EXPECT_EQ(IsZelPluginRegistered(nullptr), E_INVALIDARG);

  CZelHelper helper;
  ComPtr<IKyGSService> service;
  EXPECT_EQ(helper.GetConfig(&service), RPC_E_NOT_REGISTERED);
  EXPECT_FALSE(service);
  EXPECT_EQ(Creations(), 0u);
}

TEST_F(ZelHelperTest, ServiceObjectIsCreatedOnceAndShared) {
  CZelHelper helper;
  ComPtr<IKyGSService> first, second;
  ASSERT_EQ(helper.GetConfig(&first), S_OK);
  ASSERT_EQ(helper.GetConfig(&second), S_OK);
  EXPECT_EQ(first.Get(), second.Get());
  EXPECT_EQ(Creations(), 1u);
}

TEST_F(ZelHelperTest, GeneralFailureIsRetriedOnceAtOnce) {
  FailNextCreation(E_FAIL);
  CZelHelper helper;
  ComPtr<IKyGSService> service;
  EXPECT_EQ(helper.GetConfig(&service), S_OK);
  EXPECT_TRUE(service);
  EXPECT_EQ(Creations(), 2u);
}

TEST_F(ZelHelperTest, OtherFailureIsNotRetriedAndStaysForTheHelper) {
  FailNextCreation(CO_E_SERVER_EXEC_FAILURE);
  CZelHelper helper;
  ComPtr<IKyGSService> service;
  EXPECT_EQ(helper.GetConfig(&service), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(helper.GetConfig(&service), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_FALSE(service);
  EXPECT_EQ(Creations(), 1u);
}

TEST(KyUtilFolders, NewestVersionFolderComparesTheFourNumbersInOrder) {
  ZelTest::TempFolder parent;
  for (const wchar_t* name : {L"1,2,3,4", L"1,10,0,0", L"1,9,9,9", L"x,1,2,3"})
    ASSERT_TRUE(::CreateDirectoryW((parent / name).c_str(), nullptr));
  // A file with a newer name is not a folder.
  Strata::UniqueFile file(::CreateFileW((parent / L"2,0,0,0").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  ASSERT_TRUE(file);
  file.reset();

  EXPECT_EQ(KyUtilBinding::FindNewestVersionFolder(parent.Path()), parent / L"1,10,0,0");
  EXPECT_FALSE(KyUtilBinding::FindNewestVersionFolder(parent / L"1,2,3,4"));
}

TEST(KyUtilFolders, InstalledUtilityLibraryIsFoundAndBound) {
  KyUtilBinding utility;
  ASSERT_TRUE(utility.Load());
  EXPECT_TRUE(utility.GetOSVersion2());
}

}  // namespace
