// Where the report log stand-in keeps every record it receives: numbered entries under
// <state key>\Records, one subkey per record, readable by tests and the viewer in any process.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "KyReportLog.h"

namespace ZelStandIns {

using OptionalText = std::optional<std::wstring>;

struct StoredField {
  DWORD id = 0;
  OptionalText data;
  bool operator==(const StoredField& other) const { return id == other.id && data == other.data; }
};

struct StoredDetail {
  OptionalText token;
  OptionalText value;
  bool operator==(const StoredDetail& other) const { return token == other.token && value == other.value; }
};

struct StoredAction {
  std::vector<DWORD> actionIds;
  BOOL adminRequired = FALSE;
  OptionalText userName;
  OptionalText actionClass;  // registry form with braces
};

struct StoredRecord {
  // When the report log received it, local time "yyyy-mm-dd hh:mm:ss", as the platform's report
  // log stamps each record's arrival.
  OptionalText stored;
  OptionalText category;
  BOOL adminOnly = FALSE;
  // The counts as sent; the lists hold the entries that came with them.
  DWORD fieldCount = 0;
  std::vector<StoredField> fields;
  DWORD detailsTemplateId = 0;
  DWORD detailsDataCount = 0;
  std::vector<StoredDetail> details;
  std::optional<StoredAction> action;
};

class ReportLogStore {
 public:
  // `keyPath` is below HKEY_LOCAL_MACHINE: a stand-in's state key.
  explicit ReportLogStore(std::wstring keyPath) : keyPath_(std::move(keyPath)) {}

  HRESULT Append(const tagKYLOG_INFO& record) const;
  std::vector<StoredRecord> ReadAll() const;

 private:
  std::wstring RecordsPath() const { return keyPath_ + L"\\Records"; }

  const std::wstring keyPath_;
};

}  // namespace ZelStandIns
