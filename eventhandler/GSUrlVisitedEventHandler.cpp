#include "GSUrlVisitedEventHandler.h"

#include <cwchar>
#include <optional>
#include <string>

#include "ComGuard.h"
#include "LogInstance.h"
#include "ProcessImagePath.h"
#include "SlimLock.h"

namespace {

// The product's own web-service hosts, matched whole and with case.
constexpr const wchar_t* kOwnHosts[] = {
    L"zel.varant.com",     L"api.zel.varant.com",     L"update.zel.varant.com",
    L"auth.zel.varant.com", L"reports.zel.varant.com", L"rules.zel.varant.com",
};
// Part of the image path of the product's own web-service client.
constexpr wchar_t kOwnClientMark[] = L"RQAPI";

bool IsOwnHost(const wchar_t* domain) {
  if (!domain) return false;
  for (const wchar_t* host : kOwnHosts)
    if (std::wcscmp(domain, host) == 0) return true;
  return false;
}

// A visit to an own host is the product's own client unless the process is known to be another
// program; a process whose path cannot be read is given the benefit of the doubt and left out.
bool IsOwnClientVisit(DWORD processId, const wchar_t* domain) {
  if (!IsOwnHost(domain)) return false;
  std::optional<std::wstring> path = ProcessImagePath(processId);
  return !path || path->find(kOwnClientMark) != std::wstring::npos;
}

}  // namespace

bool CGSUrlVisitedEventHandler::RepeatsLastDomain(DWORD processId, const wchar_t* domain) {
  Strata::UniqueBstr copy(::SysAllocString(domain));
  // Without memory for the copy the domain can be neither compared nor remembered; the visit is
  // still reported.
  if (domain && !copy) return false;
  auto last = lastDomains_.find(processId);
  if (last != lastDomains_.end() &&
      ::VarBstrCmp(last->second.get(), copy.get(), LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ))
    return true;
  lastDomains_[processId] = std::move(copy);
  return false;
}

STDMETHODIMP CGSUrlVisitedEventHandler::OnUrlVisitedEvent(KYGS_URL_VISITED_DETAILS* pDetails) {
  if (!pDetails) return E_POINTER;
  return GuardHResult([&] {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    ZEL_LOG(ETWLogging::kLevelNormal, L"GSUrlVisitedEventHandler", L"CGSUrlVisitedEventHandler::OnUrlVisitedEvent",
            L"ZEL Event: OnUrlVisitedEvent - Process[%d], Url[%s%s]\r\n", pDetails->dwProcessID, pDetails->wszDomain,
            pDetails->wszPath);
    if (IsOwnClientVisit(pDetails->dwProcessID, pDetails->wszDomain)) return S_OK;
    if (RepeatsLastDomain(pDetails->dwProcessID, pDetails->wszDomain)) return S_OK;
    g_module.QueueEvent(LogEvent_UrlVisited, pDetails->wszDomain, L"",
                        CZELEventHandlerModule::getSessionIdFromPID(pDetails->dwProcessID));
    return S_OK;
  });
}
