// What a report-log record needs from the rest of the bridge library while it fills itself: the
// platform user of a session and the product's localized texts. The logger hands in the real one;
// tests hand in their own.
#pragma once

#include <windows.h>

#include <string>

class IRecordContext {
 public:
  virtual ~IRecordContext() = default;

  // The platform user signed on to the session, at most 255 characters; empty when none can be
  // named.
  virtual std::wstring UserNameOfSession(DWORD sessionId) = 0;
  // The same for the session of the calling process.
  virtual std::wstring UserNameOfCurrentSession() = 0;
  // Whether the session's platform user is an administrator; false when it cannot be told.
  virtual bool IsSessionUserAdmin(DWORD sessionId) = 0;
  // The product resource library's text with this identifier; empty when it cannot be loaded.
  virtual std::wstring ProductString(UINT id) = 0;
};
