#include "KyLogInfoEvent.h"

#include <utility>

#include "LogInstance.h"
#include "RecordText.h"

using ETWLogging::kLevelNormal;

namespace {

constexpr wchar_t kSource[] = L"ZelTARNHelper";
constexpr long kPersonalInfoEvent = 2;

// Where an event's "%content%" value comes from.
enum class ContentSource { WebPage, Content, OutsideTimeText };

// What a placeholder of the main text is replaced by.
enum class Insert { Nothing, UserName, WebPage };

// An event type's texts and where its main text and "%content%" value take their values from.
struct WebEventTexts {
  long code;
  UINT summary;
  UINT mainText;
  const wchar_t* placeholder;
  Insert insert;
  ContentSource content;
};

constexpr UINT kOutsideTimeText = 6008;

constexpr WebEventTexts kWebEventTexts[] = {
    {0, 6004, 6005, nullptr, Insert::Nothing, ContentSource::WebPage},
    {1, 6006, 6007, L"%user%", Insert::UserName, ContentSource::OutsideTimeText},
    {3, 6013, 6014, L"%webpage%", Insert::WebPage, ContentSource::Content},
    {4, 6011, 6012, nullptr, Insert::Nothing, ContentSource::WebPage},
    {5, 6015, 6016, L"%user%", Insert::UserName, ContentSource::WebPage},
};

}  // namespace

CKyLogInfoEvent::CKyLogInfoEvent(const wchar_t* category, DWORD templateId, long eventType, std::wstring webPage,
                                 std::wstring content, DWORD sessionId)
    : CKyLogInfo(category, templateId, 2, 2, 1),
      eventType_(eventType),
      webPage_(std::move(webPage)),
      content_(std::move(content)),
      sessionId_(sessionId) {}

void CKyLogInfoEvent::SetEntries(const std::wstring& name, const std::wstring& summary,
                                 const std::wstring& mainText, const std::wstring& contentValue) {
  SetUserSummaryAndMainText(name, summary, mainText);
  SetDetail(1, L"%content%", contentValue.c_str());
}

CKyLogInfoWebEvent::CKyLogInfoWebEvent(IRecordContext& context, long eventType, std::wstring webPage,
                                       std::wstring content, DWORD sessionId)
    : CKyLogInfoEvent(L"{C38A4409-4351-40E7-8A00-0FE40159F014}", 507, eventType, std::move(webPage),
                      std::move(content), sessionId) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoWebEvent::CKyLogInfoWebEvent",
          L"ZelTARNHelper::CKyLogInfoEvent - Inside Event Log for Internet Events configuration");
  ProcessLog(context);
}

void CKyLogInfoWebEvent::ProcessLog(IRecordContext& context) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoWebEvent::ProcessLog",
          L"ZelTARNHelper::CKyLogInfoEvent - Logging Internet Events configuration");
  const std::wstring name = context.UserNameOfSession(sessionId_);
  const WebEventTexts* texts = FindByCode(kWebEventTexts, eventType_);
  if (!texts) {
    SetEntries(name, std::wstring(), std::wstring(), std::wstring());
    return;
  }
  std::wstring mainText = context.ProductString(texts->mainText);
  if (texts->insert != Insert::Nothing)
    ReplacePlaceholder(&mainText, texts->placeholder, texts->insert == Insert::WebPage ? webPage_ : name);
  std::wstring contentValue;
  switch (texts->content) {
    case ContentSource::WebPage: contentValue = webPage_; break;
    case ContentSource::Content: contentValue = content_; break;
    case ContentSource::OutsideTimeText: contentValue = context.ProductString(kOutsideTimeText); break;
  }
  SetEntries(name, context.ProductString(texts->summary), mainText, contentValue);
}

CKyLogInfoPIEvent::CKyLogInfoPIEvent(IRecordContext& context, long eventType, std::wstring webPage,
                                     std::wstring content, DWORD sessionId)
    : CKyLogInfoEvent(L"{17E788F0-80DB-45f6-B2C9-2B086D2CCB6B}", 508, eventType, std::move(webPage),
                      std::move(content), sessionId) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoPIEvent::CKyLogInfoPIEvent",
          L"ZelTARNHelper::CKyLogInfoEvent - Inside Event Log for Internet Events configuration");
  ProcessLog(context);
}

void CKyLogInfoPIEvent::ProcessLog(IRecordContext& context) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoPIEvent::ProcessLog",
          L"ZelTARNHelper::CKyLogInfoEvent - Logging Internet Events configuration");
  const std::wstring name = context.UserNameOfSession(sessionId_);
  if (eventType_ != kPersonalInfoEvent) {
    SetEntries(name, std::wstring(), std::wstring(), std::wstring());
    return;
  }
  // Administrators and other users are told about it in different words.
  const bool admin = context.IsSessionUserAdmin(sessionId_);
  std::wstring mainText = context.ProductString(admin ? 6010 : 6021);
  ReplacePlaceholder(&mainText, L"%user%", name);
  SetEntries(name, context.ProductString(admin ? 6009 : 6020), mainText, content_);
}
