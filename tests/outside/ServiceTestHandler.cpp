// A handler of every service event for the tests of the service's event source. It serves any
// class id registered to it, so each test registers a fresh one, and records each call under
// HKEY_CURRENT_USER\Software\ZelTests\ServiceTestHandler\<class id>\<n> (n from 1, "Count" beside
// them): "Event", each field as text under its command-line name (a null string leaves its value
// out), and "Object", the serial number of the handler object in its process. A DWORD "Answer"
// under the class key is the HRESULT every call returns.
#include <windows.h>

#include <atomic>
#include <new>
#include <string>

#include "KyGSEvents.h"
#include "LiveObjects.h"

namespace {

std::atomic<long> g_serials{0};

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  ::StringFromGUID2(guid, text, ARRAYSIZE(text));
  return text;
}

// The values of one recorded call.
class CallRecord {
 public:
  CallRecord(const std::wstring& classKey, const wchar_t* event, long object) : classKey_(classKey) {
    DWORD count = 0;
    DWORD size = sizeof(count);
    ::RegGetValueW(HKEY_CURRENT_USER, classKey_.c_str(), L"Count", RRF_RT_REG_DWORD, nullptr, &count, &size);
    ++count;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, classKey_.c_str(), L"Count", REG_DWORD, &count, sizeof(count));
    key_ = classKey_ + L"\\" + std::to_wstring(count);
    Text(L"Event", event);
    Number(L"Object", static_cast<DWORD>(object));
  }

  void Text(const wchar_t* name, const wchar_t* value) const {
    if (!value) return;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), name, REG_SZ, value,
                      static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  }
  void Number(const wchar_t* name, DWORD value) const { Text(name, std::to_wstring(value).c_str()); }

  HRESULT Answer() const {
    DWORD answer = S_OK;
    DWORD size = sizeof(answer);
    ::RegGetValueW(HKEY_CURRENT_USER, classKey_.c_str(), L"Answer", RRF_RT_REG_DWORD, nullptr, &answer, &size);
    return static_cast<HRESULT>(answer);
  }

 private:
  std::wstring classKey_;
  std::wstring key_;
};

class CTestHandler
    : public ZelService::ComObject<IKyGSAccessDeniedEvent, IKyGSImageBlockedEvent, IKyGSKeywordBlockedEvent,
                                   IKyGSSignInEvent, IKyGSSignOutEvent, IKyGSUrlVisitedEvent, IKyGSPIIDetectedEvent,
                                   IKyGSSignInRequiredEvent> {
 public:
  explicit CTestHandler(REFCLSID clsid)
      : classKey_(L"Software\\ZelTests\\ServiceTestHandler\\" + GuidText(clsid)), serial_(++g_serials) {}

  STDMETHODIMP OnAccessDeniedEvent(KYGS_ACCESS_DENIED_DETAILS* details) override {
    CallRecord call(classKey_, L"AccessDenied", serial_);
    call.Number(L"pid", details->dwProcessID);
    call.Number(L"content", details->eContentType);
    call.Number(L"reason", details->eReason);
    call.Text(L"url", details->wszUrl);
    return call.Answer();
  }
  STDMETHODIMP OnImageBlockedEvent(KYGS_BLOCKED_IMAGE_DETAILS* details) override {
    CallRecord call(classKey_, L"ImageBlocked", serial_);
    call.Number(L"pid", details->dwProcessID);
    call.Number(L"content", details->eContentType);
    call.Text(L"url", details->wszUrl);
    call.Number(L"rating", details->iRating);
    return call.Answer();
  }
  STDMETHODIMP OnKeywordBlockedEvent(KYGS_KEYWORD_DETAILS* details) override {
    CallRecord call(classKey_, L"KeywordBlocked", serial_);
    call.Number(L"pid", details->dwProcessID);
    call.Number(L"content", details->eContentType);
    call.Text(L"pattern", details->wszPatternMatched);
    call.Text(L"url", details->wszUrl);
    return call.Answer();
  }
  STDMETHODIMP OnSignInEvent() override { return CallRecord(classKey_, L"SignIn", serial_).Answer(); }
  STDMETHODIMP OnSignOutEvent() override { return CallRecord(classKey_, L"SignOut", serial_).Answer(); }
  STDMETHODIMP OnUrlVisitedEvent(KYGS_URL_VISITED_DETAILS* details) override {
    CallRecord call(classKey_, L"UrlVisited", serial_);
    call.Number(L"pid", details->dwProcessID);
    call.Text(L"domain", details->wszDomain);
    call.Text(L"path", details->wszPath);
    return call.Answer();
  }
  STDMETHODIMP OnPIIDetectedEvent(KYGS_PII_DETECTED* details, IKyGSPIIDetectedEventAction* action) override {
    CallRecord call(classKey_, L"PIIDetected", serial_);
    call.Number(L"pid", details->dwProcessID);
    call.Number(L"content", details->eContentType);
    call.Text(L"domain", details->wszDomain);
    call.Text(L"display", details->wszDisplayString);
    call.Text(L"information", details->wszInformation);
    call.Number(L"type", details->dwPersonalInfoType);
    long result = 0;
    if (action && SUCCEEDED(action->Allow(&result))) call.Number(L"verdict", static_cast<DWORD>(result));
    return call.Answer();
  }
  STDMETHODIMP OnSignInRequiredEvent(unsigned long session) override {
    CallRecord call(classKey_, L"SignInRequired", serial_);
    call.Number(L"session", session);
    return call.Answer();
  }

 private:
  const std::wstring classKey_;
  const long serial_;
};

class CTestHandlerFactory : public ZelService::ComObject<IClassFactory> {
 public:
  explicit CTestHandlerFactory(REFCLSID clsid) : clsid_(clsid) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object) *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return ComObject::CreateInstance<CTestHandler>(iid, object, clsid_);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  const CLSID clsid_;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return CTestHandlerFactory::ComObject::CreateInstance<CTestHandlerFactory>(iid, object, clsid);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return ZelService::g_liveObjects == 0 ? S_OK : S_FALSE;
}
