// The record kinds for what the parental-control service did in a user's session: a page blocked
// or visited, time up, an image or keyword blocked, personal information stopped or sent.
#pragma once

#include <string>

#include "KyLogInfo.h"
#include "RecordContext.h"

// What both event kinds keep: the event type (0 blocked list, 1 time limit, 2 personal
// information, 3 keyword, 4 image, 5 web site visited), the page, the content and the session.
class CKyLogInfoEvent : public CKyLogInfo {
 protected:
  CKyLogInfoEvent(const wchar_t* category, DWORD templateId, long eventType, std::wstring webPage,
                  std::wstring content, DWORD sessionId);
  ~CKyLogInfoEvent() override = default;

  // Sets the user field, the summary, the main text and the "%content%" value.
  void SetEntries(const std::wstring& name, const std::wstring& summary, const std::wstring& mainText,
                  const std::wstring& contentValue);

  long eventType_;
  std::wstring webPage_;
  std::wstring content_;
  DWORD sessionId_;
};

// Every event but personal information.
class CKyLogInfoWebEvent : public CKyLogInfoEvent {
 public:
  CKyLogInfoWebEvent(IRecordContext& context, long eventType, std::wstring webPage, std::wstring content,
                     DWORD sessionId);
  ~CKyLogInfoWebEvent() override = default;

 private:
  void ProcessLog(IRecordContext& context);
};

// Personal information (event type 2) stopped, for an administrator's session, or sent.
class CKyLogInfoPIEvent : public CKyLogInfoEvent {
 public:
  CKyLogInfoPIEvent(IRecordContext& context, long eventType, std::wstring webPage, std::wstring content,
                    DWORD sessionId);
  ~CKyLogInfoPIEvent() override = default;

 private:
  void ProcessLog(IRecordContext& context);
};
