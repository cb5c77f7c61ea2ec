// A stored report-log record as a parent reads it: category, user, summary and the details
// written into the record's details template.
#pragma once

#include <string>

#include "ReportLogStore.h"

namespace ZelStandIns {

class ReportLogText {
 public:
  // Field ids of the user and the summary columns.
  static constexpr DWORD kUserField = 601;
  static constexpr DWORD kSummaryField = 602;

  // Several lines, each ending in a line break; with `withArrival`, first the time the record
  // was stored.
  static std::wstring Describe(const StoredRecord& record, bool withArrival = false);
  // The template text of a details-template id (501 to 508), or nothing.
  static const wchar_t* DetailsTemplate(DWORD templateId);
  // Each token of `details` replaced in `text` by its value, left to right; replaced text is not
  // searched again, and a missing value removes the token.
  static std::wstring Substitute(std::wstring text, const std::vector<StoredDetail>& details);
};

}  // namespace ZelStandIns
