// Raises events the way the service does: finds the handler class bound to the event in the
// service's event registry, creates it in this process, and calls it. A handler object serves
// every later event of the same product and interface in one run, and is released at the end.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <map>
#include <string>

#include "EventCommand.h"
#include "KyGSService.h"

namespace ZelEventSource {

class EventSource {
 public:
  // `announce`: whether each event prints its line.
  explicit EventSource(bool announce = true) : announce_(announce) {}

  // The handler's HRESULT, or the failure that kept the event from reaching a handler.
  HRESULT Raise(const EventCommand& command);

 private:
  HRESULT HandlerFor(const std::wstring& product, REFIID eventIid, IUnknown** handler);

  Microsoft::WRL::ComPtr<IKyGSEventRegistry> registry_;
  std::map<std::wstring, Microsoft::WRL::ComPtr<IUnknown>> handlers_;
  const bool announce_;
};

}  // namespace ZelEventSource
