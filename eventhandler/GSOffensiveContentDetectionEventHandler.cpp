#include "GSOffensiveContentDetectionEventHandler.h"

#include <memory>

#include "ComGuard.h"
#include "LogInstance.h"

namespace {

constexpr UINT kChatLabel = 6017;
constexpr UINT kEmailLabel = 6018;

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
    std::unique_ptr<wchar_t[]> label;
    const wchar_t* webPage = L"";
    switch (details.eContentType) {
      case KyGS_Content_Http:
        webPage = details.wszUrl;
        break;
      case KyGS_Content_Chat:
        label = g_module.LoadResourceString(kChatLabel);
        webPage = label.get();
        break;
      case KyGS_Content_Email:
        label = g_module.LoadResourceString(kEmailLabel);
        webPage = label.get();
        break;
      default:
        break;
    }
    g_module.QueueEvent(LogEvent_Keyword, webPage, details.wszPatternMatched,
                        CZELEventHandlerModule::getSessionIdFromPID(details.dwProcessID));
    return S_OK;
  });
}
