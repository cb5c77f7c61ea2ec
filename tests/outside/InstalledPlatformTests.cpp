// The platform stand-ins as scripts/prefix installs and registers them, reached by their own class
// ids the way the product reaches them. Runs in a fresh prefix of its own
// (run-in-installed-prefix.sh), since it uses the stand-ins' shared keys and registrations.
#include <windows.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

#include "CreateInstanceViaFactory.h"
#include "KyReportLog.h"
#include "KyUserManager.h"
#include "ReportLogStore.h"
#include "StandInKnobs.h"
#include "TestSupport.h"

namespace {

using Microsoft::WRL::ComPtr;

constexpr DWORD kContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
const std::wstring kPlatform = L"C:\\Program Files\\Common Files\\Varant\\Platform\\";

void DeleteKey(const std::wstring& path) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

class InstalledPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteKey(ZelStandIns::StandInKnobs::KeyPath(L"ReportLog"));
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
  void TearDown() override {
    ::CoUninitialize();
    DeleteKey(ZelStandIns::StandInKnobs::KeyPath(L"ReportLog"));
  }

  static HRESULT WriteOneRecord(const wchar_t* user) {
    ComPtr<IKyReportLog> log;
    HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_KyReportLog, kContext, IID_IKyReportLog, &log);
    if (FAILED(hr)) return hr;
    wchar_t category[] = L"{81CA7DE3-768B-463E-BF55-083D706DA129}";
    wchar_t summary[] = L"User account created";
    wchar_t token1[] = L"%log_details%", value1[] = L"Dana created an account.", token2[] = L"%username%";
    std::wstring userName = user;
    tagKYLOG_FIELD fields[] = {{601, userName.data()}, {602, summary}};
    tagKYLOG_DETAILS_DATA details[] = {{token1, value1}, {token2, userName.data()}};
    tagKYLOG_INFO info{category, TRUE, 2, fields, 501, 2, details, nullptr};
    LONG result = -1;
    hr = log->Write(&info, &result);
    return SUCCEEDED(hr) && result != 0 ? E_UNEXPECTED : hr;
  }
};

TEST_F(InstalledPlatform, ReportLogByItsClassIdStoresWhatTheViewerPrints) {
  ASSERT_EQ(WriteOneRecord(L"Jamie"), S_OK);
  DWORD serverProcess = 0;
  DWORD size = sizeof(serverProcess);
  ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, ZelStandIns::StandInKnobs::KeyPath(L"ReportLog").c_str(),
                           L"ServerProcessId", RRF_RT_REG_DWORD, nullptr, &serverProcess, &size),
            ERROR_SUCCESS);
  EXPECT_NE(serverProcess, ::GetCurrentProcessId()) << "served from the report log's own process";

  std::string output;
  ASSERT_EQ(ZelTest::RunProcess(L"\"" + kPlatform + L"KyReportLogViewer.exe\"", &output), 0u);
  EXPECT_EQ(output,
            "Category: {81CA7DE3-768B-463E-BF55-083D706DA129} (User accounts)\n"
            "User: Jamie\n"
            "Summary: User account created\n"
            "Details: Dana created an account. Account: Jamie.\n");
}

TEST_F(InstalledPlatform, CheckedFormServesFromTheVerifiedLocalServerThroughCOMsProxy) {
  ComPtr<IKyReportLog> log;
  EXPECT_EQ(Ky::CreateInstanceViaFactory(CLSID_KyReportLog, kContext, IID_IKyReportLog, &log, Ky::CreationForm::Checked,
                                         Ky::UnsignedModules::Refuse),
            S_OK);
  EXPECT_TRUE(log);
}

TEST_F(InstalledPlatform, ReportLogRegisteredInProcessServesFromTheCallersProcess) {
  ASSERT_EQ(ZelTest::RunProcess(L"regsvr32 /s \"" + kPlatform + L"KyReportLog.dll\""), 0u);
  ComPtr<IUnknown> factory;
  EXPECT_EQ(::CoGetClassObject(CLSID_KyReportLog, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown, &factory), S_OK);
  factory.Reset();
  EXPECT_EQ(WriteOneRecord(L"Sam"), S_OK);
  EXPECT_EQ(ZelStandIns::ReportLogStore(ZelStandIns::StandInKnobs::KeyPath(L"ReportLog")).ReadAll().size(), 1u);

  ASSERT_EQ(ZelTest::RunProcess(L"\"" + kPlatform + L"KyReportLogServer.exe\" /RegServer"), 0u);
  EXPECT_EQ(::CoGetClassObject(CLSID_KyReportLog, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown, &factory),
            REGDB_E_CLASSNOTREG);
}

TEST_F(InstalledPlatform, UserManagerAndAccountManagerShareTheirClassId) {
  ComPtr<IKyUserManager> users;
  ASSERT_EQ(Ky::CreateInstanceViaFactory(CLSID_KyUserManager, kContext, IID_IKyUserManager, &users), S_OK);
  ComPtr<IKyUserAccountManager> accounts;
  ASSERT_EQ(Ky::CreateInstanceViaFactory(CLSID_KyUserManager, kContext, IID_IKyUserAccountManager, &accounts,
                                         Ky::CreationForm::Checked),
            S_OK);
  EXPECT_EQ(users.As(&accounts), S_OK);
}

TEST_F(InstalledPlatform, AlertLibraryIsFoundThroughThePlatformsInstallFolder) {
  wchar_t folder[MAX_PATH] = {};
  DWORD size = sizeof(folder);
  ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Varant\\Platform", L"Install Dir", RRF_RT_REG_SZ, nullptr,
                           folder, &size),
            ERROR_SUCCESS);
  std::wstring path = std::wstring(folder) + L"\\kypltalt.dll";
  HMODULE library = ::LoadLibraryW(path.c_str());
  ASSERT_TRUE(library) << ::GetLastError();
  EXPECT_TRUE(::GetProcAddress(library, "KyShowTARNAlert"));
  ::FreeLibrary(library);
}

}  // namespace
