// A report log that stands in for the platform's inside the test process: it keeps the category of
// every record it is given, answers as told, and notices a write that reaches it after its last
// holder has let it go. The test owns the object and keeps its creation reference.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ComObject.h"
#include "KyReportLog.h"
#include "TarnLogHelper.h"

// An answer of Write: its HRESULT and result code.
struct WriteAnswer {
  HRESULT hr = S_OK;
  LONG result = 0;
};

class FakeReportLog : public Ky::ComObject<Ky::NoModuleLock, IKyReportLog> {
 public:
  STDMETHODIMP Write(tagKYLOG_INFO* record, LONG* result) override {
    if (Holders() == 0) ++writesAfterRelease;
    std::lock_guard<std::mutex> guard(lock);
    WriteAnswer answer = answers.empty() ? WriteAnswer() : answers.front();
    if (!answers.empty()) answers.pop_front();
    categories.push_back(record && record->pwszLogCategoryID ? record->pwszLogCategoryID : L"(null)");
    std::vector<std::pair<std::wstring, std::wstring>> recordDetails;
    for (DWORD i = 0; record && record->pDetailsData && i < record->dwDetailsDataCount; ++i) {
      const tagKYLOG_DETAILS_DATA& detail = record->pDetailsData[i];
      recordDetails.emplace_back(detail.pwszToken ? detail.pwszToken : L"", detail.pwszValue ? detail.pwszValue : L"");
    }
    details.push_back(std::move(recordDetails));
    if (SUCCEEDED(answer.hr)) *result = answer.result;
    return answer.hr;
  }

  size_t WriteCount() {
    std::lock_guard<std::mutex> guard(lock);
    return categories.size();
  }

  // The references held besides the test's own.
  ULONG Holders() const { return References() - 1; }

  std::atomic<int> writesAfterRelease{0};
  std::mutex lock;  // guards answers, categories and details
  std::deque<WriteAnswer> answers;
  std::vector<std::wstring> categories;
  // Token and value of each detail of each record.
  std::vector<std::vector<std::pair<std::wstring, std::wstring>>> details;
};

// Hands out the report logs of a list in turn, or a creation failure; counts the creations.
class FakeReportLogSource {
 public:
  explicit FakeReportLogSource(size_t logs) : logs_(logs) {}

  ReportLogCreator Creator() {
    return [this](IKyReportLog** reportLog) -> HRESULT {
      std::lock_guard<std::mutex> guard(lock_);
      ++creations;
      if (!failures.empty()) {
        HRESULT failure = failures.front();
        failures.pop_front();
        if (FAILED(failure)) return failure;
      }
      FakeReportLog& next = logs_[std::min(used_++, logs_.size() - 1)];
      next.AddRef();
      *reportLog = &next;
      return S_OK;
    };
  }

  FakeReportLog& Log(size_t index) { return logs_[index]; }

  int creations = 0;
  // Answers of the next creations; S_OK lets one through.
  std::deque<HRESULT> failures;

 private:
  std::mutex lock_;
  std::deque<FakeReportLog> logs_;
  size_t used_ = 0;
};
