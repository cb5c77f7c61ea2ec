#include "GSOffensiveContentDetectionEventHandler.h"

#include <atomic>
#include <memory>

#include "ComGuard.h"
#include "LogInstance.h"

namespace {

// A label of the product resource library, loaded by the first event that needs it and kept: the
// module keeps the library loaded until it unloads, so the text cannot change under the copy, and
// the service's thread no longer loads a string for every chat or e-mail event. A label that could
// not be loaded is tried again by the next event.
class CachedLabel {
 public:
  explicit constexpr CachedLabel(UINT id) : id_(id) {}
  ~CachedLabel() { delete[] text_.load(); }
  CachedLabel(const CachedLabel&) = delete;
  CachedLabel& operator=(const CachedLabel&) = delete;

  // Null when the label cannot be loaded.
  const wchar_t* Get() {
    if (const wchar_t* text = text_.load(std::memory_order_acquire)) return text;
    std::unique_ptr<wchar_t[]> loaded = g_module.LoadResourceString(id_);
    if (!loaded) return nullptr;
    wchar_t* first = nullptr;
    // Of two first events, the one that stores its copy first wins; the other's is freed.
    if (text_.compare_exchange_strong(first, loaded.get(), std::memory_order_acq_rel)) return loaded.release();
    return first;
  }

 private:
  const UINT id_;
  std::atomic<wchar_t*> text_{nullptr};
};

CachedLabel g_chatLabel(6017);
CachedLabel g_emailLabel(6018);

}  // namespace

STDMETHODIMP CGSKeywordBlockedEventHandler::OnKeywordBlockedEvent(KYGS_KEYWORD_DETAILS* pKeywordBlockedInformation) {
  if (!pKeywordBlockedInformation) return E_POINTER;
  return GuardHResult([&] {
    const KYGS_KEYWORD_DETAILS& details = *pKeywordBlockedInformation;
    ZEL_LOG(ETWLogging::kLevelNormal, L"GSOffensiveContentDetectionEventHandler",
            L"CGSKeywordBlockedEventHandler::OnKeywordBlockedEvent",
            L"ZEL Event: OnKeywordBlockedEvent - Process[%d], Pattern[%s]\r\n", details.dwProcessID,
            details.wszPatternMatched);
    // A label that cannot be loaded leaves the page null; the event is reported all the same.
    const wchar_t* webPage = L"";
    switch (details.eContentType) {
      case KyGS_Content_Http:
        webPage = details.wszUrl;
        break;
      case KyGS_Content_Chat:
        webPage = g_chatLabel.Get();
        break;
      case KyGS_Content_Email:
        webPage = g_emailLabel.Get();
        break;
      default:
        break;
    }
    g_module.QueueEvent(LogEvent_Keyword, webPage, details.wszPatternMatched,
                        CZELEventHandlerModule::getSessionIdFromPID(details.dwProcessID));
    return S_OK;
  });
}
