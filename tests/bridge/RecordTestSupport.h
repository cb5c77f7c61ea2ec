// A record context the tests control, and readers that turn a record into comparable values.
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "KyLogInfo.h"
#include "RecordContext.h"

// Text N is "<N>" unless a test gives it another wording or takes it away.
class FakeRecordContext : public IRecordContext {
 public:
  std::wstring UserNameOfSession(DWORD sessionId) override {
    auto found = sessionUsers.find(sessionId);
    return found == sessionUsers.end() ? std::wstring() : found->second;
  }
  std::wstring UserNameOfCurrentSession() override { return currentUser; }
  bool IsSessionUserAdmin(DWORD sessionId) override { return adminSessions.count(sessionId) != 0; }
  std::wstring ProductString(UINT id) override {
    if (missingTexts.count(id)) return std::wstring();
    auto found = texts.find(id);
    return found == texts.end() ? L"<" + std::to_wstring(id) + L">" : found->second;
  }

  std::wstring currentUser = L"Parent";
  std::map<DWORD, std::wstring> sessionUsers;
  std::set<DWORD> adminSessions;
  std::map<UINT, std::wstring> texts;
  std::set<UINT> missingTexts;
};

// A text as the tests compare it; a null pointer reads "(null)".
inline std::wstring Text(const wchar_t* text) { return text ? text : L"(null)"; }

struct FieldEntry {
  DWORD id;
  std::wstring text;
  bool operator==(const FieldEntry& other) const { return id == other.id && text == other.text; }
};

struct DetailEntry {
  std::wstring token;
  std::wstring value;
  bool operator==(const DetailEntry& other) const { return token == other.token && value == other.value; }
};

inline std::vector<FieldEntry> FieldsOf(const CKyLogInfo& record) {
  const tagKYLOG_INFO& info = record.Info();
  std::vector<FieldEntry> fields;
  for (DWORD i = 0; info.pFields && i < info.dwFieldCount; ++i)
    fields.push_back({info.pFields[i].dwFieldID, Text(info.pFields[i].pwszData)});
  return fields;
}

inline std::vector<DetailEntry> DetailsOf(const CKyLogInfo& record) {
  const tagKYLOG_INFO& info = record.Info();
  std::vector<DetailEntry> details;
  for (DWORD i = 0; info.pDetailsData && i < info.dwDetailsDataCount; ++i)
    details.push_back({Text(info.pDetailsData[i].pwszToken), Text(info.pDetailsData[i].pwszValue)});
  return details;
}

inline std::wstring CategoryOf(const CKyLogInfo& record) { return Text(record.Info().pwszLogCategoryID); }

// Readable failure messages for the entry comparisons.
inline void PrintTo(const FieldEntry& field, std::ostream* out) {
  *out << "(" << field.id << ", \"" << std::string(field.text.begin(), field.text.end()) << "\")";
}
inline void PrintTo(const DetailEntry& detail, std::ostream* out) {
  *out << "(\"" << std::string(detail.token.begin(), detail.token.end()) << "\", \""
       << std::string(detail.value.begin(), detail.value.end()) << "\")";
}
