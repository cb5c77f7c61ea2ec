#include "KyLogInfoKinds.h"

#include <utility>

#include "LogInstance.h"
#include "RecordText.h"

using ETWLogging::kLevelNormal;

namespace {

constexpr wchar_t kSource[] = L"ZelTARNHelper";
constexpr DWORD kFieldCount = 2;
constexpr DWORD kActionIdCount = 1;

// Texts picked by an action code: the one-line summary and the main text.
struct ActionTexts {
  long code;
  UINT summary;
  UINT mainText;
};

constexpr ActionTexts kUserTexts[] = {{0, 5056, 5055}, {1, 5051, 5053}, {2, 5052, 5054}};

// Summary when the feature was turned on, when it was turned off, and the feature's own name.
struct FeatureTexts {
  long code;
  UINT summaryAdded;
  UINT summaryRemoved;
  UINT featureName;
};

constexpr FeatureTexts kFeatureTexts[] = {
    {203, 5075, 5076, 5064}, {205, 5071, 5072, 5062}, {206, 5073, 5074, 5063}, {209, 6019, 5076, 5064}};

// Web-site list changes: the main text by action, the list's name by list type, and the summary
// by both (rows by action 0..2, columns by list type 0..2).
struct CodeText {
  long code;
  UINT text;
};

constexpr CodeText kWebsiteMainTexts[] = {{0, 5093}, {1, 5091}, {2, 5092}};
constexpr CodeText kWebsiteListNames[] = {{0, 5089}, {1, 5088}, {2, 5090}};
constexpr UINT kWebsiteSummaries[3][3] = {{5084, 5081, 5087}, {5082, 5079, 5085}, {5083, 5080, 5086}};

constexpr ActionTexts kPersonalInfoTexts[] = {{0, 5096, 5099}, {1, 5094, 5097}, {2, 5095, 5098}};

}  // namespace

CKyLogInfoUser::CKyLogInfoUser(IRecordContext& context, long action, std::wstring targetUserName,
                               std::wstring responsibleUserName)
    : CKyLogInfo(L"{81CA7DE3-768B-463E-BF55-083D706DA129}", 501, kFieldCount, 2, kActionIdCount),
      action_(action),
      targetUserName_(std::move(targetUserName)),
      responsibleUserName_(std::move(responsibleUserName)) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoUser::CKyLogInfoUser",
          L"ZelTARNHelper::CKyLogInfoUser - Inside Event Log for user configuration");
  ProcessLog(context);
}

void CKyLogInfoUser::ProcessLog(IRecordContext& context) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoUser::ProcessLog", L"ZelTARNHelper::ProcessLog - Logging user configuration");
  SetField(0, kUserFieldId, responsibleUserName_.c_str());
  std::wstring mainText;
  if (const ActionTexts* texts = FindByCode(kUserTexts, action_)) {
    SetField(1, kSummaryFieldId, context.ProductString(texts->summary).c_str());
    mainText = context.ProductString(texts->mainText);
    ReplacePlaceholder(&mainText, L"%admin%", responsibleUserName_);
  }
  SetDetail(0, kMainTextToken, mainText.c_str());
  SetDetail(1, L"%username%", targetUserName_.c_str());
}

CKyLogInfoBlockingFeature::CKyLogInfoBlockingFeature(IRecordContext& context, const wchar_t* category,
                                                     DWORD templateId, long added, long featureCode)
    : CKyLogInfo(category, templateId, kFieldCount, 1, kActionIdCount), added_(added), featureCode_(featureCode) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoBlockingFeature::CKyLogInfoBlockingFeature",
          L"ZelTARNHelper::CKyLogInfoBlockingFeature - Inside Event Log for configuration");
  ProcessLog(context);
}

void CKyLogInfoBlockingFeature::ProcessLog(IRecordContext& context) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoBlockingFeature::ProcessLog",
          L"ZelTARNHelper::CKyLogInfoBlockingFeature - Logging configuration");
  const std::wstring name = context.UserNameOfCurrentSession();
  std::wstring mainText = context.ProductString(added_ ? 5077 : 5078);
  ReplacePlaceholder(&mainText, L"%admin%", name);
  std::wstring summary;
  if (const FeatureTexts* texts = FindByCode(kFeatureTexts, featureCode_)) {
    summary = context.ProductString(added_ ? texts->summaryAdded : texts->summaryRemoved);
    ReplacePlaceholder(&mainText, L"%feature%", context.ProductString(texts->featureName));
  }
  SetUserSummaryAndMainText(name, summary, mainText);
}

CKyLogInfoWebsite::CKyLogInfoWebsite(IRecordContext& context, long action, long webSiteListType,
                                     std::wstring webSite)
    : CKyLogInfo(L"{E747C0DE-F15B-42F1-AC9E-7B9E533B5EA5}", 503, kFieldCount, 2, kActionIdCount),
      action_(action),
      webSiteListType_(webSiteListType),
      webSite_(std::move(webSite)) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoWebsite::CKyLogInfoWebsite",
          L"ZelTARNHelper::CKyLogInfoWebsite - Inside Event Log for Web site configuration");
  ProcessLog(context);
}

void CKyLogInfoWebsite::ProcessLog(IRecordContext& context) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoWebsite::ProcessLog",
          L"ZelTARNHelper::CKyLogInfoWebsite - Logging Web site configuration");
  const std::wstring name = context.UserNameOfCurrentSession();
  std::wstring mainText;
  std::wstring summary;
  std::wstring listName;
  if (const CodeText* main = FindByCode(kWebsiteMainTexts, action_)) {
    mainText = context.ProductString(main->text);
    if (const CodeText* list = FindByCode(kWebsiteListNames, webSiteListType_)) {
      listName = context.ProductString(list->text);
      summary = context.ProductString(kWebsiteSummaries[action_][webSiteListType_]);
    }
  }
  ReplacePlaceholder(&mainText, L"%websitelist%", listName);
  SetUserSummaryAndMainText(name, summary, mainText);
  SetDetail(1, L"%website%", webSite_.c_str());
}

CKyLogInfoPersonalInfo::CKyLogInfoPersonalInfo(IRecordContext& context, long action, std::wstring personalInfoType)
    : CKyLogInfo(L"{6E056F0D-72BA-4939-9A99-F14BBD7AECF2}", 504, kFieldCount, 1, kActionIdCount),
      action_(action),
      personalInfoType_(std::move(personalInfoType)) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoPersonalInfo::CKyLogInfoPersonalInfo",
          L"ZelTARNHelper::CKyLogInfoPersonalInfo - Inside Event Log for PII configuration");
  ProcessLog(context);
}

void CKyLogInfoPersonalInfo::ProcessLog(IRecordContext& context) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoPersonalInfo::ProcessLog",
          L"ZelTARNHelper::CKyLogInfoPersonalInfo - Logging PII configuration");
  const std::wstring name = context.UserNameOfCurrentSession();
  std::wstring summary;
  std::wstring mainText;
  if (const ActionTexts* texts = FindByCode(kPersonalInfoTexts, action_)) {
    summary = context.ProductString(texts->summary);
    mainText = context.ProductString(texts->mainText);
  }
  SetField(0, kUserFieldId, name.c_str());
  SetField(1, kSummaryFieldId, summary.c_str());
  ReplacePlaceholder(&mainText, L"%info%", personalInfoType_);
  ReplacePlaceholder(&mainText, L"%admin%", name);
  SetDetail(0, kMainTextToken, mainText.c_str());
}

CKyLogInfoKeyword::CKyLogInfoKeyword(IRecordContext& context, std::wstring ageLevel, std::wstring keyword)
    : CKyLogInfo(L"{D240EF93-6DA8-4CAF-92F7-128870545CDB}", 505, kFieldCount, 3, kActionIdCount),
      ageLevel_(std::move(ageLevel)),
      keyword_(std::move(keyword)) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoKeyword::CKyLogInfoKeyword",
          L"ZelTARNHelper::CKyLogInfoKeyword - Inside Event Log for Keyword configuration");
  ProcessLog(context);
}

// The platform's template fills in the keyword and the age level itself.
void CKyLogInfoKeyword::ProcessLog(IRecordContext& context) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoKeyword::ProcessLog",
          L"ZelTARNHelper::CKyLogInfoKeyword - Logging Keyword configuration");
  const std::wstring name = context.UserNameOfCurrentSession();
  SetUserSummaryAndMainText(name, context.ProductString(6000), context.ProductString(6001));
  SetDetail(1, L"%keyword%", keyword_.c_str());
  SetDetail(2, L"%agelevel%", ageLevel_.c_str());
}
