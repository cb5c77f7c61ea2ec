// The library's view of a request: the record and the arrays it points into. It points into the
// request's texts, so the caller keeps the request alive while the record is in use.
#pragma once

#include <vector>

#include "AlertRequest.h"
#include "RecordLayout.h"

class CAlertRecord {
 public:
  explicit CAlertRecord(const AlertRequest& request);
  CAlertRecord(const CAlertRecord&) = delete;
  CAlertRecord& operator=(const CAlertRecord&) = delete;

  const AlertShowRecord& Get() const noexcept { return record_; }

 private:
  std::vector<AlertButton> buttons_;
  AlertOption option_{};
  AlertShowRecord record_{};
};
