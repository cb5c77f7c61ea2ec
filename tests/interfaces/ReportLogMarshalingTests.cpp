// IKyReportLog records through the generated proxy/stub library: the record is copied by the
// marshaler between two apartments, which is the same path it takes to another process.
#include <windows.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ComObject.h"
#include "Handles.h"
#include "KyReportLog.h"
#include "InterfaceTestSupport.h"

namespace {

using Microsoft::WRL::ComPtr;
using Text = std::optional<std::wstring>;

Text Copy(const wchar_t* text) { return text ? Text(text) : std::nullopt; }

// What a report log received, copied out of the call.
struct ReceivedRecord {
  Text category;
  BOOL adminOnly = FALSE;
  std::vector<std::pair<DWORD, Text>> fields;
  DWORD templateId = 0;
  std::vector<std::pair<Text, Text>> details;
  bool hasAction = false;
  DWORD apartmentThread = 0;
};

// Plays the report log: keeps what it receives and answers with a chosen result code.
class RecordingReportLog : public Ky::ComObject<Ky::NoModuleLock, IKyReportLog> {
 public:
  explicit RecordingReportLog(ReceivedRecord& received) : received_(received) {}
  STDMETHODIMP Write(tagKYLOG_INFO* info, LONG* result) override {
    received_.apartmentThread = ::GetCurrentThreadId();
    received_.category = Copy(info->pwszLogCategoryID);
    received_.adminOnly = info->bViewByTARNAdminOnly;
    for (DWORD i = 0; info->pFields && i < info->dwFieldCount; ++i) {
      received_.fields.emplace_back(info->pFields[i].dwFieldID, Copy(info->pFields[i].pwszData));
    }
    received_.templateId = info->dwDetailsTemplateID;
    for (DWORD i = 0; info->pDetailsData && i < info->dwDetailsDataCount; ++i) {
      received_.details.emplace_back(Copy(info->pDetailsData[i].pwszToken), Copy(info->pDetailsData[i].pwszValue));
    }
    received_.hasAction = info->pAction != nullptr;
    *result = 0x00020005;  // an error part the caller must see
    return S_OK;
  }

 private:
  ReceivedRecord& received_;
};

// A single-threaded apartment on its own thread that serves one recording report log.
class ReportLogApartment {
 public:
  explicit ReportLogApartment(ReceivedRecord& received) {
    Strata::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this, &received, &ready] {
      ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      threadId_ = ::GetCurrentThreadId();
      {
        ComPtr<IKyReportLog> log;
        // Takes the object's first reference; MinGW's ComPtr::Attach would add another.
        *log.GetAddressOf() = new RecordingReportLog(received);
        ::CoMarshalInterThreadInterfaceInStream(IID_IKyReportLog, log.Get(), &stream_);
      }
      ::SetEvent(ready.get());
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
      ::CoUninitialize();
    });
    ::WaitForSingleObject(ready.get(), INFINITE);
  }
  ~ReportLogApartment() {
    ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }

  HRESULT Proxy(ComPtr<IKyReportLog>& log) {
    HRESULT hr = ::CoGetInterfaceAndReleaseStream(stream_, IID_PPV_ARGS(&log));
    stream_ = nullptr;
    return hr;
  }
  DWORD ThreadId() const { return threadId_; }

 private:
  std::thread thread_;
  DWORD threadId_ = 0;
  IStream* stream_ = nullptr;
};

class ReportLogMarshaling : public ::testing::Test {
 protected:
  void SetUp() override {
    ZelTest::RegisterSuiteProxyStub();
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
  void TearDown() override { ::CoUninitialize(); }
};

TEST_F(ReportLogMarshaling, RecordWithFieldsDetailsAndNullTextsArrivesIntact) {
  ReceivedRecord received;
  ReportLogApartment apartment(received);
  ComPtr<IKyReportLog> log;
  ASSERT_EQ(apartment.Proxy(log), S_OK);

  wchar_t category[] = L"{81CA7DE3-768B-463E-BF55-083D706DA129}";
  wchar_t user[] = L"Jamie", page[] = L"http://example.test/a?b=\x00e9", empty[] = L"";
  wchar_t token1[] = L"%log_details%", value1[] = L"Blocked by the time limit", token2[] = L"%url%";
  tagKYLOG_FIELD fields[] = {{1, user}, {2, page}, {7, nullptr}, {9, empty}};
  tagKYLOG_DETAILS_DATA details[] = {{token1, value1}, {token2, nullptr}};
  tagKYLOG_INFO info{};
  info.pwszLogCategoryID = category;
  info.bViewByTARNAdminOnly = TRUE;
  info.dwFieldCount = 4;
  info.pFields = fields;
  info.dwDetailsTemplateID = 503;
  info.dwDetailsDataCount = 2;
  info.pDetailsData = details;

  LONG result = 0;
  ASSERT_EQ(log->Write(&info, &result), S_OK);
  EXPECT_EQ(result, 0x00020005);
  EXPECT_EQ(received.apartmentThread, apartment.ThreadId());
  EXPECT_EQ(received.category, Text(category));
  EXPECT_EQ(received.adminOnly, TRUE);
  ASSERT_EQ(received.fields.size(), 4u);
  EXPECT_EQ(received.fields[0], std::make_pair(DWORD{1}, Text(user)));
  EXPECT_EQ(received.fields[1], std::make_pair(DWORD{2}, Text(page)));
  EXPECT_EQ(received.fields[2], std::make_pair(DWORD{7}, Text()));
  EXPECT_EQ(received.fields[3], std::make_pair(DWORD{9}, Text(L"")));
  EXPECT_EQ(received.templateId, 503u);
  ASSERT_EQ(received.details.size(), 2u);
  EXPECT_EQ(received.details[0], std::make_pair(Text(token1), Text(value1)));
  EXPECT_EQ(received.details[1], std::make_pair(Text(token2), Text()));
  EXPECT_FALSE(received.hasAction);
}

TEST_F(ReportLogMarshaling, CountsWithoutArraysCarryNoEntries) {
  ReceivedRecord received;
  ReportLogApartment apartment(received);
  ComPtr<IKyReportLog> log;
  ASSERT_EQ(apartment.Proxy(log), S_OK);

  tagKYLOG_INFO info{};
  info.dwFieldCount = 3;
  info.dwDetailsDataCount = 2;
  LONG result = 0;
  ASSERT_EQ(log->Write(&info, &result), S_OK);
  EXPECT_FALSE(received.category.has_value());
  EXPECT_TRUE(received.fields.empty());
  EXPECT_TRUE(received.details.empty());
}

}  // namespace
