#include "ReportLogText.h"

#include <algorithm>

namespace ZelStandIns {

namespace {

struct DetailsTemplateText {
  DWORD id;
  const wchar_t* text;
};

const DetailsTemplateText kTemplates[] = {
    {501, L"%log_details% Account: %username%."},
    {502, L"%log_details%"},
    {503, L"%log_details% Web site: %website%."},
    {504, L"%log_details%"},
    {505, L"%log_details% Keyword: \"%keyword%\" (age level %agelevel%)."},
    {506, L"%log_details%"},
    {507, L"%log_details% %content%"},
    {508, L"%log_details% Information: %content%"},
};

struct CategoryName {
  const wchar_t* id;
  const wchar_t* name;
};

const CategoryName kCategories[] = {
    {L"{81CA7DE3-768B-463E-BF55-083D706DA129}", L"User accounts"},
    {L"{DE65AE9D-7EC1-40CF-91E9-CDABD3D08B5D}", L"Protection settings"},
    {L"{E747C0DE-F15B-42F1-AC9E-7B9E533B5EA5}", L"Web site lists"},
    {L"{6E056F0D-72BA-4939-9A99-F14BBD7AECF2}", L"Personal information"},
    {L"{D240EF93-6DA8-4CAF-92F7-128870545CDB}", L"Keywords"},
    {L"{006B86CE-31E3-43D4-BACA-6BF6801073C5}", L"Internet time limits"},
    {L"{C38A4409-4351-40E7-8A00-0FE40159F014}", L"Internet activity"},
    {L"{17E788F0-80DB-45f6-B2C9-2B086D2CCB6B}", L"Personal information sent"},
};

std::wstring OrNull(const OptionalText& text) { return text ? *text : L"(null)"; }

OptionalText FieldText(const StoredRecord& record, DWORD id) {
  auto found = std::find_if(record.fields.begin(), record.fields.end(),
                            [id](const StoredField& field) { return field.id == id; });
  return found == record.fields.end() ? OptionalText() : found->data;
}

std::wstring CategoryText(const OptionalText& category) {
  if (!category) return L"(null)";
  for (const CategoryName& known : kCategories) {
    if (*category == known.id) return *category + L" (" + known.name + L")";
  }
  return *category + L" (unknown category)";
}

}  // namespace

const wchar_t* ReportLogText::DetailsTemplate(DWORD templateId) {
  for (const DetailsTemplateText& entry : kTemplates) {
    if (entry.id == templateId) return entry.text;
  }
  return nullptr;
}

std::wstring ReportLogText::Substitute(std::wstring text, const std::vector<StoredDetail>& details) {
  for (const StoredDetail& detail : details) {
    if (!detail.token || detail.token->empty()) continue;
    std::wstring value = detail.value.value_or(L"");
    for (size_t at = text.find(*detail.token); at != std::wstring::npos; at = text.find(*detail.token, at)) {
      text.replace(at, detail.token->size(), value);
      at += value.size();
    }
  }
  return text;
}

std::wstring ReportLogText::Describe(const StoredRecord& record, bool withArrival) {
  std::wstring details;
  if (const wchar_t* pattern = DetailsTemplate(record.detailsTemplateId)) {
    details = Substitute(pattern, record.details);
  } else {
    details = L"(unknown details template " + std::to_wstring(record.detailsTemplateId) + L")";
  }
  std::wstring arrival = withArrival ? L"Stored: " + OrNull(record.stored) + L"\n" : L"";
  return arrival + L"Category: " + CategoryText(record.category) + L"\n" +  //
         L"User: " + OrNull(FieldText(record, kUserField)) + L"\n" +
         L"Summary: " + OrNull(FieldText(record, kSummaryField)) + L"\n" +  //
         L"Details: " + details + L"\n";
}

}  // namespace ZelStandIns
