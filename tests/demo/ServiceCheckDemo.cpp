// Creates the service's root object the way the product's libraries do, through the checked form,
// and says what came of it: which library the machine registers for the class, and whether it was
// served or refused.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include <wrl/client.h>

#include "CreateInstanceViaFactory.h"
#include "KyGSService.h"

int wmain() {
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  wchar_t library[MAX_PATH] = L"";
  DWORD bytes = sizeof(library);
  ::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{7EB483B0-414C-4B45-A46C-CF4620531F8F}\\InprocServer32",
                 nullptr, RRF_RT_REG_SZ, nullptr, library, &bytes);
  Microsoft::WRL::ComPtr<IKyGSService> service;
  HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_KyGSService, CLSCTX_INPROC_SERVER, IID_IKyGSService, &service,
                                            Ky::CreationForm::Checked);
  std::wprintf(L"%ls: %ls [0x%08lX]\n", library, SUCCEEDED(hr) ? L"served" : L"refused", static_cast<unsigned long>(hr));
  service.Reset();
  ::CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 2;
}
