// A product process that raises alerts: `alert_client COUNT TAG [retry]` creates the alerter
// through COM and shows COUNT simple alerts titled "TAG n". Without "retry" they may repeat and
// are not retried, and the exit code is the number of calls that failed. With "retry" each is a
// distinct tracked alert that must not repeat and is retried if its show fails: the client prints
// "queued Q refused R" (answered E_FAIL or S_OK, and HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA))
// and its exit code is the number of other answers. 1000: the alerter could not be created.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include <wrl/client.h>

#include "AlerterTestSupport.h"
#include "KyAlert.h"

namespace {

using AlerterTest::Text;

int ShowAlerts(int count, const std::wstring& tag, bool retry) {
  Microsoft::WRL::ComPtr<IAlert> alert;
  if (FAILED(::CoCreateInstance(CLSID_Alert, nullptr, CLSCTX_LOCAL_SERVER, IID_IAlert, &alert))) return 1000;
  // A retried alert carries 32 KB of texts, so that what the server holds of it shows.
  const std::wstring contentText = retry ? std::wstring(16384, L'c') : L"Content";
  Text language(L"en-US"), content(contentText.c_str()), app(L"ZEL"), type(L"Load");
  const VARIANT_BOOL flag = retry ? VARIANT_TRUE : VARIANT_FALSE;
  int failed = 0;
  int queued = 0;
  int refused = 0;
  for (int n = 0; n < count; ++n) {
    const std::wstring titleText = tag + L" " + std::to_wstring(n);
    Text title(titleText.c_str());
    const HRESULT hr = alert->ShowSimpleAlert(language, title, content, nullptr, app, type, 1, 1, 30, flag, flag);
    if (!retry) {
      failed += FAILED(hr) ? 1 : 0;
    } else if (hr == E_FAIL || hr == S_OK) {
      ++queued;
    } else if (hr == HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA)) {
      ++refused;
    } else {
      ++failed;
    }
  }
  if (retry) std::printf("queued %d refused %d\n", queued, refused);
  return failed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && argc != 4) return 1001;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1002;
  int result = ShowAlerts(_wtoi(argv[1]), argv[2], argc == 4 && std::wcscmp(argv[3], L"retry") == 0);
  ::CoUninitialize();
  return result;
}
