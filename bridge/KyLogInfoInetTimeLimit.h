// The Internet time limits of a user changed: one line per allowed day and time range.
#pragma once

#include <string>

#include "KyLogInfo.h"
#include "RecordContext.h"
#include "VariantValue.h"

class CKyLogInfoInetTimeLimit : public CKyLogInfo {
 public:
  // The lists are copied. A from-time or to-time list shorter than the day names, or a value
  // that has no text form, leaves the record failed (see Status()).
  CKyLogInfoInetTimeLimit(IRecordContext& context, std::wstring userName, const VariantList& dayNames,
                          const VariantList& fromTimes, const VariantList& toTimes);
  ~CKyLogInfoInetTimeLimit() override = default;

 private:
  HRESULT CopyLists(const VariantList& dayNames, const VariantList& fromTimes, const VariantList& toTimes);
  void ProcessLog(IRecordContext& context);
  HRESULT AppendDayLine(const std::wstring& lineTemplate, size_t day, std::wstring* mainText) const;

  std::wstring userName_;
  VariantList dayNames_;
  VariantList fromTimes_;
  VariantList toTimes_;
};
