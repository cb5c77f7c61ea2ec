// A product process that raises alerts: `alert_client COUNT TAG` creates the alerter through COM
// and shows COUNT simple alerts titled "TAG n". The exit code is the number of calls that failed,
// or 1000 when the alerter could not be created.
#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <string>

#include <wrl/client.h>

#include "AlerterTestSupport.h"
#include "KyAlert.h"

namespace {

using AlerterTest::Text;

int ShowAlerts(int count, const std::wstring& tag) {
  Microsoft::WRL::ComPtr<IAlert> alert;
  if (FAILED(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &alert))) return 1000;
  Text language(L"en-US"), content(L"Content"), app(L"ZEL"), type(L"Load");
  int failed = 0;
  for (int n = 0; n < count; ++n) {
    const std::wstring titleText = tag + L" " + std::to_wstring(n);
    Text title(titleText.c_str());
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
