// The service's events by the names the command line uses: each kind's event interface, and how
// its details record is built from the command and handed to the handler's one method.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

#include "EventCommand.h"

namespace ZelEventSource {

struct EventKind {
  const wchar_t* name;
  const IID* iid;
  // Asks `handler` for the event interface and calls its method with the command's record;
  // E_INVALIDARG when a number field is malformed.
  HRESULT (*deliver)(IUnknown* handler, const EventCommand& command);
};

const EventKind* FindEventKind(const std::wstring& name);

}  // namespace ZelEventSource
