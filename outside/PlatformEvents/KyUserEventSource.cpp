// KyUserEventSource: raises the platform's user events into the product's user-events class, as
// the platform does (in its own process, through the suite's class factory), for tests, the demo
// and anyone trying the system by hand.
//
//   KyUserEventSource EVENT INFO [+ EVENT INFO ...]
//
// EVENT is the platform's id (1 logon, 2 new user, 3 user deleted, 4 user edited); INFO the user's
// name, or "Logon Mode Switched" with event 1. One object receives every event, in order. Each
// event prints "EVENT INFO: 0xHRESULT"; the exit code is 0 when every answer was S_OK or S_FALSE,
// else the first other HRESULT (E_INVALIDARG for a malformed command line).
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include <wrl/client.h>

#include "CreateInstanceViaFactory.h"
#include "KyUserManager.h"

namespace {

struct UserEvent {
  DWORD id;
  const wchar_t* info;
};

bool ParseEvents(int argc, wchar_t** argv, std::vector<UserEvent>* events) {
  for (int i = 1; i < argc; i += 3) {
    if (i + 1 >= argc) return false;
    wchar_t* end = nullptr;
    const unsigned long id = std::wcstoul(argv[i], &end, 0);
    if (!end || *end) return false;
    events->push_back({id, argv[i + 1]});
    if (i + 2 < argc && std::wcscmp(argv[i + 2], L"+") != 0) return false;
  }
  return !events->empty();
}

HRESULT RaiseAll(const std::vector<UserEvent>& events) {
  CLSID userEvents{};
  HRESULT hr = ::CLSIDFromProgID(L"ZelEventHandler.UserEvents", &userEvents);
  if (FAILED(hr)) return hr;
  Microsoft::WRL::ComPtr<IKyUserEvents> sink;
  hr = Ky::CreateInstanceViaFactory(userEvents, CLSCTX_INPROC_SERVER, IID_IKyUserEvents, &sink);
  if (FAILED(hr)) return hr;
  HRESULT first = S_OK;
  for (const UserEvent& event : events) {
    hr = sink->NotifyEvent(event.id, event.info);
    std::wprintf(L"%lu %ls: 0x%08lX\n", event.id, event.info, static_cast<unsigned long>(hr));
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<UserEvent> events;
  if (!ParseEvents(argc, argv, &events)) {
    std::fwprintf(stderr, L"usage: KyUserEventSource EVENT INFO [+ EVENT INFO ...]\n");
    return E_INVALIDARG;
  }
  // The platform delivers user events from its worker threads, in the multithreaded apartment.
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return E_UNEXPECTED;
  const HRESULT hr = RaiseAll(events);
  ::CoUninitialize();
  return hr;
}
