// The record kinds for changes to the parental-control settings: users, features, web-site lists,
// personal information and keywords. Each fills itself from the caller's values, the platform user
// of the current session and the product's texts as it is constructed.
#pragma once

#include <string>

#include "KyLogInfo.h"
#include "RecordContext.h"

// A user added to, changed in or removed from parental controls. Action 1 added, 2 changed,
// 0 removed.
class CKyLogInfoUser : public CKyLogInfo {
 public:
  CKyLogInfoUser(IRecordContext& context, long action, std::wstring targetUserName,
                 std::wstring responsibleUserName);
  ~CKyLogInfoUser() override = default;

 private:
  void ProcessLog(IRecordContext& context);

  long action_;
  std::wstring targetUserName_;
  std::wstring responsibleUserName_;
};

// A blocking feature turned on or off. The category and template come from the caller; the
// logger uses kCategory and kTemplateId.
class CKyLogInfoBlockingFeature : public CKyLogInfo {
 public:
  static constexpr wchar_t kCategory[] = L"{DE65AE9D-7EC1-40CF-91E9-CDABD3D08B5D}";
  static constexpr DWORD kTemplateId = 502;

  CKyLogInfoBlockingFeature(IRecordContext& context, const wchar_t* category, DWORD templateId, long added,
                            long featureCode);
  ~CKyLogInfoBlockingFeature() override = default;

 private:
  void ProcessLog(IRecordContext& context);

  long added_;
  long featureCode_;
};

// A web site added to (1), changed on (2) or removed from (0) a list: 0 blocked, 1 allowed,
// 2 exceptions.
class CKyLogInfoWebsite : public CKyLogInfo {
 public:
  CKyLogInfoWebsite(IRecordContext& context, long action, long webSiteListType, std::wstring webSite);
  ~CKyLogInfoWebsite() override = default;

 private:
  void ProcessLog(IRecordContext& context);

  long action_;
  long webSiteListType_;
  std::wstring webSite_;
};

// A kind of personal information added to (1), changed in (2) or removed from (0) protection.
class CKyLogInfoPersonalInfo : public CKyLogInfo {
 public:
  CKyLogInfoPersonalInfo(IRecordContext& context, long action, std::wstring personalInfoType);
  ~CKyLogInfoPersonalInfo() override = default;

 private:
  void ProcessLog(IRecordContext& context);

  long action_;
  std::wstring personalInfoType_;
};

// The blocked keywords of an age level changed.
class CKyLogInfoKeyword : public CKyLogInfo {
 public:
  CKyLogInfoKeyword(IRecordContext& context, std::wstring ageLevel, std::wstring keyword);
  ~CKyLogInfoKeyword() override = default;

 private:
  void ProcessLog(IRecordContext& context);

  std::wstring ageLevel_;
  std::wstring keyword_;
};
