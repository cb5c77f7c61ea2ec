#include "EventKinds.h"

#include <wrl/client.h>

#include <cstddef>
#include <cstdio>

#include "KyGSEvents.h"
#include "LiveObjects.h"

using Microsoft::WRL::ComPtr;

// The records cross into handlers built separately: their layout must not move.
static_assert(sizeof(KYGS_ACCESS_DENIED_DETAILS) == 24 && offsetof(KYGS_ACCESS_DENIED_DETAILS, eReason) == 8 &&
                  offsetof(KYGS_ACCESS_DENIED_DETAILS, wszUrl) == 16,
              "KYGS_ACCESS_DENIED_DETAILS layout");
static_assert(sizeof(KYGS_BLOCKED_IMAGE_DETAILS) == 24 && offsetof(KYGS_BLOCKED_IMAGE_DETAILS, wszUrl) == 8 &&
                  offsetof(KYGS_BLOCKED_IMAGE_DETAILS, iRating) == 16,
              "KYGS_BLOCKED_IMAGE_DETAILS layout");
static_assert(sizeof(KYGS_KEYWORD_DETAILS) == 24 && offsetof(KYGS_KEYWORD_DETAILS, wszPatternMatched) == 8 &&
                  offsetof(KYGS_KEYWORD_DETAILS, wszUrl) == 16,
              "KYGS_KEYWORD_DETAILS layout");
static_assert(sizeof(KYGS_URL_VISITED_DETAILS) == 24 && offsetof(KYGS_URL_VISITED_DETAILS, wszDomain) == 8 &&
                  offsetof(KYGS_URL_VISITED_DETAILS, wszPath) == 16,
              "KYGS_URL_VISITED_DETAILS layout");
static_assert(sizeof(KYGS_PII_DETECTED) == 40 && offsetof(KYGS_PII_DETECTED, wszDomain) == 8 &&
                  offsetof(KYGS_PII_DETECTED, wszDisplayString) == 16 &&
                  offsetof(KYGS_PII_DETECTED, wszInformation) == 24 &&
                  offsetof(KYGS_PII_DETECTED, dwPersonalInfoType) == 32,
              "KYGS_PII_DETECTED layout");

namespace ZelEventSource {

namespace {

constexpr long kResultSuccess = 0x08020000;

// The number fields of one record; remembers whether any of them was malformed.
class Numbers {
 public:
  explicit Numbers(const EventCommand& command) : command_(command) {}
  DWORD operator()(const wchar_t* field) {
    std::optional<unsigned long> value = command_.Number(field);
    valid_ = valid_ && value.has_value();
    return value.value_or(0);
  }
  bool Valid() const { return valid_; }

 private:
  const EventCommand& command_;
  bool valid_ = true;
};

LPWSTR Text(const EventCommand& command, const wchar_t* field) { return const_cast<LPWSTR>(command.Text(field)); }

template <typename Interface, typename Call>
HRESULT CallSink(IUnknown* handler, Call call) {
  ComPtr<Interface> sink;
  HRESULT hr = handler->QueryInterface(IID_PPV_ARGS(&sink));
  return FAILED(hr) ? hr : call(sink.Get());
}

// The verdict object handed with a personal-information event: it reports the handler's verdict.
class CPIIAction : public ZelService::ComObject<IKyGSPIIDetectedEventAction> {
 public:
  STDMETHODIMP Allow(long* result) override {
    std::printf("PII verdict: allow\n");
    return Answer(result);
  }
  STDMETHODIMP Disallow(BSTR cloaking, long* result) override {
    std::printf("PII verdict: disallow, cloaking %ls\n", cloaking ? cloaking : L"(null)");
    return Answer(result);
  }

 private:
  static HRESULT Answer(long* result) {
    if (!result) return E_POINTER;
    *result = kResultSuccess;
    return S_OK;
  }
};

HRESULT DeliverAccessDenied(IUnknown* handler, const EventCommand& command) {
  Numbers number(command);
  KYGS_ACCESS_DENIED_DETAILS details{number(L"pid"), static_cast<KyGS_ContentType>(number(L"content")),
                                     static_cast<KyGS_AccessDeniedType>(number(L"reason")), Text(command, L"url")};
  if (!number.Valid()) return E_INVALIDARG;
  return CallSink<IKyGSAccessDeniedEvent>(handler, [&](auto* sink) { return sink->OnAccessDeniedEvent(&details); });
}

HRESULT DeliverImageBlocked(IUnknown* handler, const EventCommand& command) {
  Numbers number(command);
  KYGS_BLOCKED_IMAGE_DETAILS details{number(L"pid"), static_cast<KyGS_ContentType>(number(L"content")),
                                     Text(command, L"url"), number(L"rating")};
  if (!number.Valid()) return E_INVALIDARG;
  return CallSink<IKyGSImageBlockedEvent>(handler, [&](auto* sink) { return sink->OnImageBlockedEvent(&details); });
}

HRESULT DeliverKeywordBlocked(IUnknown* handler, const EventCommand& command) {
  Numbers number(command);
  KYGS_KEYWORD_DETAILS details{number(L"pid"), static_cast<KyGS_ContentType>(number(L"content")),
                               Text(command, L"pattern"), Text(command, L"url")};
  if (!number.Valid()) return E_INVALIDARG;
  return CallSink<IKyGSKeywordBlockedEvent>(handler,
                                            [&](auto* sink) { return sink->OnKeywordBlockedEvent(&details); });
}

HRESULT DeliverUrlVisited(IUnknown* handler, const EventCommand& command) {
  Numbers number(command);
  KYGS_URL_VISITED_DETAILS details{number(L"pid"), Text(command, L"domain"), Text(command, L"path")};
  if (!number.Valid()) return E_INVALIDARG;
  return CallSink<IKyGSUrlVisitedEvent>(handler, [&](auto* sink) { return sink->OnUrlVisitedEvent(&details); });
}

HRESULT DeliverPIIDetected(IUnknown* handler, const EventCommand& command) {
  Numbers number(command);
  KYGS_PII_DETECTED details{number(L"pid"),           static_cast<KyGS_ContentType>(number(L"content")),
                            Text(command, L"domain"), Text(command, L"display"),
                            Text(command, L"information"), number(L"type")};
  if (!number.Valid()) return E_INVALIDARG;
  ComPtr<IKyGSPIIDetectedEventAction> action;
  HRESULT hr = CPIIAction::CreateInstance<CPIIAction>(IID_PPV_ARGS(&action));
  if (FAILED(hr)) return hr;
  return CallSink<IKyGSPIIDetectedEvent>(
      handler, [&](auto* sink) { return sink->OnPIIDetectedEvent(&details, action.Get()); });
}

HRESULT DeliverSignIn(IUnknown* handler, const EventCommand&) {
  return CallSink<IKyGSSignInEvent>(handler, [](auto* sink) { return sink->OnSignInEvent(); });
}

HRESULT DeliverSignOut(IUnknown* handler, const EventCommand&) {
  return CallSink<IKyGSSignOutEvent>(handler, [](auto* sink) { return sink->OnSignOutEvent(); });
}

HRESULT DeliverSignInRequired(IUnknown* handler, const EventCommand& command) {
  std::optional<unsigned long> session = command.Number(L"session");
  if (!session) return E_INVALIDARG;
  return CallSink<IKyGSSignInRequiredEvent>(handler,
                                            [&](auto* sink) { return sink->OnSignInRequiredEvent(*session); });
}

const EventKind kEventKinds[] = {
    {L"AccessDenied", &IID_IKyGSAccessDeniedEvent, &DeliverAccessDenied},
    {L"ImageBlocked", &IID_IKyGSImageBlockedEvent, &DeliverImageBlocked},
    {L"KeywordBlocked", &IID_IKyGSKeywordBlockedEvent, &DeliverKeywordBlocked},
    {L"UrlVisited", &IID_IKyGSUrlVisitedEvent, &DeliverUrlVisited},
    {L"PIIDetected", &IID_IKyGSPIIDetectedEvent, &DeliverPIIDetected},
    {L"SignIn", &IID_IKyGSSignInEvent, &DeliverSignIn},
    {L"SignOut", &IID_IKyGSSignOutEvent, &DeliverSignOut},
    {L"SignInRequired", &IID_IKyGSSignInRequiredEvent, &DeliverSignInRequired},
};

}  // namespace

const EventKind* FindEventKind(const std::wstring& name) {
  for (const EventKind& kind : kEventKinds)
    if (name == kind.name) return &kind;
  return nullptr;
}

}  // namespace ZelEventSource
