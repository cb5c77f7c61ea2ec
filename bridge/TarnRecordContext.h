// The record context of the running library: platform users through the owning object's user
// helper, texts from the product resource library.
#pragma once

#include "RecordContext.h"
#include "TarnUserHelper.h"

class CTarnRecordContext : public IRecordContext {
 public:
  explicit CTarnRecordContext(CTarnUserHelper& users) : users_(users) {}

  std::wstring UserNameOfSession(DWORD sessionId) override;
  std::wstring UserNameOfCurrentSession() override;
  bool IsSessionUserAdmin(DWORD sessionId) override;
  std::wstring ProductString(UINT id) override;

 private:
  CTarnUserHelper& users_;
};
