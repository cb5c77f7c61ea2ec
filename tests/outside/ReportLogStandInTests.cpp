// The report log stand-in: records written from this process reach its local server through the
// proxy/stub and come back intact from its store and its viewer; its knobs steer the answers; the
// same class served in-process stores into the caller's own key.
#include <windows.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <chrono>
#include <future>
#include <regex>
#include <string>

#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyClassFactory.h"
#include "KyReportLog.h"
#include "ProcessKnobs.h"
#include "ReportLogStore.h"
#include "StandInKnobs.h"
#include "TestClassRegistration.h"
#include "TestSupport.h"

namespace {

using Microsoft::WRL::ComPtr;
using ZelStandIns::OptionalText;
using ZelStandIns::StoredDetail;
using ZelStandIns::StoredField;

// A record with every kind of entry: texts with and without content, a null text, an action.
class SampleRecord {
 public:
  SampleRecord() {
    info_.pwszLogCategoryID = category_;
    info_.bViewByTARNAdminOnly = TRUE;
    info_.dwFieldCount = 3;
    info_.pFields = fields_;
    info_.dwDetailsTemplateID = 503;
    info_.dwDetailsDataCount = 2;
    info_.pDetailsData = details_;
    info_.pAction = &action_;
  }
  tagKYLOG_INFO* Info() { return &info_; }

 private:
  wchar_t category_[39] = L"{E747C0DE-F15B-42F1-AC9E-7B9E533B5EA5}";
  wchar_t user_[6] = L"Jamie";
  wchar_t summary_[32] = L"Web site added to blocked list";
  wchar_t token1_[14] = L"%log_details%";
  wchar_t value1_[40] = L"Dana added a site to the blocked list.";
  wchar_t token2_[10] = L"%website%";
  wchar_t value2_[32] = L"http://example.test/caf\x00e9";
  wchar_t actionUser_[5] = L"Dana";
  tagKYLOG_FIELD fields_[3] = {{601, user_}, {602, summary_}, {700, nullptr}};
  tagKYLOG_DETAILS_DATA details_[2] = {{token1_, value1_}, {token2_, value2_}};
  DWORD actionIds_[2] = {4, 9};
  GUID actionClass_ = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  tagKYLOG_ACTION action_{2, actionIds_, TRUE, actionUser_, &actionClass_};
  tagKYLOG_INFO info_{};
};

void ExpectStoredAsSample(const ZelStandIns::StoredRecord& stored) {
  EXPECT_EQ(stored.category, OptionalText(L"{E747C0DE-F15B-42F1-AC9E-7B9E533B5EA5}"));
  EXPECT_EQ(stored.adminOnly, TRUE);
  EXPECT_EQ(stored.fieldCount, 3u);
  ASSERT_EQ(stored.fields.size(), 3u);
  EXPECT_EQ(stored.fields[0], (StoredField{601, L"Jamie"}));
  EXPECT_EQ(stored.fields[1], (StoredField{602, L"Web site added to blocked list"}));
  EXPECT_EQ(stored.fields[2], (StoredField{700, std::nullopt}));
  EXPECT_EQ(stored.detailsTemplateId, 503u);
  ASSERT_EQ(stored.details.size(), 2u);
  EXPECT_EQ(stored.details[0], (StoredDetail{L"%log_details%", L"Dana added a site to the blocked list."}));
  EXPECT_EQ(stored.details[1], (StoredDetail{L"%website%", L"http://example.test/caf\x00e9"}));
  ASSERT_TRUE(stored.action.has_value());
  EXPECT_EQ(stored.action->actionIds, (std::vector<DWORD>{4, 9}));
  EXPECT_EQ(stored.action->adminRequired, TRUE);
  EXPECT_EQ(stored.action->userName, OptionalText(L"Dana"));
  EXPECT_EQ(stored.action->actionClass, OptionalText(L"{11223344-5566-7788-0102-030405060708}"));
}

// A report log served by its own local server process, under a class id of this test's own.
class ReportLogServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ZelTest::RegisterSuiteProxyStubLibrary();
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
  void TearDown() override {
    log_.Reset();
    ::CoUninitialize();
    std::wstring key = ZelStandIns::StandInKnobs::KeyPath(standIn_.c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  }

  HRESULT CreateLog() {
    return Ky::CreateInstanceViaFactory(class_.Clsid(), CLSCTX_LOCAL_SERVER, IID_IKyReportLog, &log_);
  }
  void SetKnob(const wchar_t* name, DWORD value) {
    std::wstring key = ZelStandIns::StandInKnobs::KeyPath(standIn_.c_str());
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value, sizeof(value)), ERROR_SUCCESS);
  }
  std::vector<ZelStandIns::StoredRecord> Stored() const {
    return ZelStandIns::ReportLogStore(ZelStandIns::StandInKnobs::KeyPath(standIn_.c_str())).ReadAll();
  }

  ZelTest::TestClassRegistration class_{ZelTest::SiblingPath(L"KyReportLogServer.exe"),
                                        ZelTest::TestClassRegistration::Server::Local};
  std::wstring standIn_ = L"ReportLog\\" + class_.ClsidText();
  ComPtr<IKyReportLog> log_;
};

TEST_F(ReportLogServer, RecordWithFieldsDetailsAndActionArrivesIntactInAnotherProcess) {
  ASSERT_EQ(CreateLog(), S_OK);
  SampleRecord record;
  LONG result = -1;
  ASSERT_EQ(log_->Write(record.Info(), &result), S_OK);
  EXPECT_EQ(result, 0);

  std::vector<ZelStandIns::StoredRecord> stored = Stored();
  ASSERT_EQ(stored.size(), 1u);
  ExpectStoredAsSample(stored[0]);
  DWORD serverProcess = 0;
  DWORD size = sizeof(serverProcess);
  ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, ZelStandIns::StandInKnobs::KeyPath(standIn_.c_str()).c_str(),
                           L"ServerProcessId", RRF_RT_REG_DWORD, nullptr, &serverProcess, &size),
            ERROR_SUCCESS);
  EXPECT_NE(serverProcess, ::GetCurrentProcessId());
}

TEST_F(ReportLogServer, ViewerPrintsEachRecordAsAParentReadsIt) {
  ASSERT_EQ(CreateLog(), S_OK);
  SampleRecord record;
  LONG result = -1;
  ASSERT_EQ(log_->Write(record.Info(), &result), S_OK);
  tagKYLOG_INFO empty{};
  empty.dwDetailsTemplateID = 999;
  ASSERT_EQ(log_->Write(&empty, &result), S_OK);

  std::string output;
  ASSERT_EQ(ZelTest::RunProcess(L"\"" + ZelTest::SiblingPath(L"KyReportLogViewer.exe") + L"\" /StandIn " + standIn_,
                                &output),
            0u);
  EXPECT_EQ(output,
            "Category: {E747C0DE-F15B-42F1-AC9E-7B9E533B5EA5} (Web site lists)\n"
            "User: Jamie\n"
            "Summary: Web site added to blocked list\n"
            "Details: Dana added a site to the blocked list. Web site: http://example.test/caf\xc3\xa9.\n"
            "\n"
            "Category: (null)\n"
            "User: (null)\n"
            "Summary: (null)\n"
            "Details: (unknown details template 999)\n");
}

// As the platform's report log does, the stand-in stamps each record's arrival; the viewer prints
// the stamp first when asked.
TEST_F(ReportLogServer, ViewerPrintsWhenEachRecordWasStored) {
  ASSERT_EQ(CreateLog(), S_OK);
  SampleRecord record;
  LONG result = -1;
  ASSERT_EQ(log_->Write(record.Info(), &result), S_OK);

  std::string output;
  ASSERT_EQ(ZelTest::RunProcess(L"\"" + ZelTest::SiblingPath(L"KyReportLogViewer.exe") + L"\" /StandIn " + standIn_ +
                                    L" /Stored",
                                &output),
            0u);
  EXPECT_TRUE(std::regex_search(output, std::regex("^Stored: [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n"
                                                   "Category: \\{E747C0DE")))
      << output;
}

TEST_F(ReportLogServer, AnswersTheConfiguredResultCodeAndHResult) {
  ASSERT_EQ(CreateLog(), S_OK);
  SampleRecord record;
  SetKnob(L"WriteResult", 0x00020005);
  SetKnob(L"WriteHResult", S_FALSE);
  LONG result = 0;
  EXPECT_EQ(log_->Write(record.Info(), &result), S_FALSE);
  EXPECT_EQ(result, 0x00020005);
  EXPECT_EQ(Stored().size(), 1u);

  SetKnob(L"WriteHResult", static_cast<DWORD>(E_ACCESSDENIED));
  EXPECT_EQ(log_->Write(record.Info(), &result), E_ACCESSDENIED);
  EXPECT_EQ(Stored().size(), 1u) << "a refused record is not stored";
}

TEST_F(ReportLogServer, HangsForTheConfiguredTimeBeforeAnswering) {
  ASSERT_EQ(CreateLog(), S_OK);
  SetKnob(L"HangMilliseconds", 3000);
  auto write = std::async(std::launch::async, [log = log_] {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    SampleRecord record;
    LONG result = -1;
    HRESULT hr = log->Write(record.Info(), &result);
    ::CoUninitialize();
    return hr;
  });
  EXPECT_EQ(write.wait_for(std::chrono::milliseconds(1000)), std::future_status::timeout);
  ASSERT_EQ(write.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(write.get(), S_OK);
}

TEST_F(ReportLogServer, ExitOnWriteEndsTheServerSoTheNextCallFindsItGone) {
  ASSERT_EQ(CreateLog(), S_OK);
  SetKnob(L"ExitOnWrite", 1);
  SampleRecord record;
  LONG result = -1;
  HRESULT during = log_->Write(record.Info(), &result);
  EXPECT_TRUE(FAILED(during)) << std::hex << during;
  EXPECT_EQ(log_->Write(record.Info(), &result), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_TRUE(Stored().empty());
  DWORD left = 99;
  DWORD size = sizeof(left);
  ::RegGetValueW(HKEY_LOCAL_MACHINE, ZelStandIns::StandInKnobs::KeyPath(standIn_.c_str()).c_str(), L"ExitOnWrite",
                 RRF_RT_REG_DWORD, nullptr, &left, &size);
  EXPECT_EQ(left, 0u) << "a server started afterwards serves normally";
}

// The same class served from its library, in this process: knobs and records are this process's.
class ReportLogLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(knobs_.Created());
    library_.reset(::LoadLibraryW(ZelTest::SiblingPath(L"KyReportLog.dll").c_str()));
    ASSERT_TRUE(library_);
    auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        ::GetProcAddress(library_.get(), "DllGetClassObject"));
    ASSERT_TRUE(getClassObject);
    ComPtr<IKyClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_KyReportLog, IID_IKyClassFactory, &factory), S_OK);
    ASSERT_EQ(factory->CreateInstance(IID_IKyReportLog, reinterpret_cast<IUnknown**>(log_.GetAddressOf())), S_OK);
  }

  ZelTest::ProcessKnobs knobs_{L"ReportLog"};
  Strata::UniqueModule library_;
  ComPtr<IKyReportLog> log_;
};

TEST_F(ReportLogLibrary, StoresUnderTheCallersKeyAndAnswersItsKnobs) {
  knobs_.SetDword(L"WriteResult", 0x00000005);
  SampleRecord record;
  LONG result = 0;
  ASSERT_EQ(log_->Write(record.Info(), &result), S_OK);
  EXPECT_EQ(result, 5);
  EXPECT_EQ(knobs_.ReadDword(L"Writes"), 1u);
  std::wstring key = ZelStandIns::StandInKnobs::ProcessKeyPath(L"ReportLog", ::GetCurrentProcessId());
  std::vector<ZelStandIns::StoredRecord> stored = ZelStandIns::ReportLogStore(key).ReadAll();
  ASSERT_EQ(stored.size(), 1u);
  ExpectStoredAsSample(stored[0]);
}

TEST_F(ReportLogLibrary, OffersOnlyTheSuiteFactories) {
  auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
      ::GetProcAddress(library_.get(), "DllGetClassObject"));
  ComPtr<IUnknown> factory;
  EXPECT_EQ(getClassObject(CLSID_KyReportLog, IID_IClassFactory, &factory), E_NOINTERFACE);
  EXPECT_EQ(getClassObject(CLSID_KyReportLog, IID_IKyClassFactory_PreComponentization, &factory), S_OK);
  EXPECT_EQ(getClassObject(IID_IKyReportLog, IID_IKyClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
}

}  // namespace
