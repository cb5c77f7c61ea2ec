// A product process that raises alerts: `alert_client COUNT TAG` creates the alerter through COM
// and shows COUNT simple alerts titled "TAG n". The exit code is the number of calls that failed,
// or 1000 when the alerter could not be created.
#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <string>

#include <wrl/client.h>

#include "KyAlert.h"

namespace {

class Text {
 public:
  explicit Text(const std::wstring& text) : value_(::SysAllocString(text.c_str())) {}
  ~Text() { ::SysFreeString(value_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

int ShowAlerts(int count, const std::wstring& tag) {
  Microsoft::WRL::ComPtr<IAlert> alert;
  if (FAILED(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &alert))) return 1000;
  Text language(L"en-US"), content(L"Content"), app(L"ZEL"), type(L"Load");
  int failed = 0;
  for (int n = 0; n < count; ++n) {
    Text title(tag + L" " + std::to_wstring(n));
    if (FAILED(alert->ShowSimpleAlert(language, title, content, nullptr, app, type, 1, 1, 30, VARIANT_FALSE,
                                      VARIANT_FALSE)))
      ++failed;
  }
  return failed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 1001;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1002;
  int result = ShowAlerts(_wtoi(argv[1]), argv[2]);
  ::CoUninitialize();
  return result;
}
