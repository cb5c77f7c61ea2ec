// A second process for the service stand-in's tests: it uses the service the way the product's
// libraries do, through "zel.dll" in its own process, and answers with the result code.
//   ServiceTestProbe signin SESSION NAME   exit code: the sign-in's result code
//   ServiceTestProbe adduser NAME          exit code: the result code of adding and applying
// A failed HRESULT is the exit code instead.
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cwchar>

#include "CreateInstanceViaFactory.h"
#include "KyGSService.h"
#include "ServiceResults.h"
#include "ServiceVariant.h"

using Microsoft::WRL::ComPtr;
using ZelService::UniqueBstr;
using ZelService::Variant;

namespace {

long SignIn(IKyGSService* service, const wchar_t* session, const wchar_t* name) {
  UniqueBstr user(::SysAllocString(name));
  long result = 0;
  HRESULT hr = service->SignIn(std::wcstoul(session, nullptr, 0), user.get(), nullptr, &result);
  return FAILED(hr) ? hr : result;
}

long AddUser(IKyGSService* service, const wchar_t* name) {
  Variant users;
  long result = 0;
  HRESULT hr = service->GetValue(ZelService::kUsersCollection, users.Put(), &result);
  ComPtr<IKyGSConfigCollection> collection;
  if (SUCCEEDED(hr)) hr = V_UNKNOWN(&users.Get())->QueryInterface(IID_PPV_ARGS(&collection));
  Variant item;
  if (SUCCEEDED(hr)) hr = collection->CreateItem(item.Put(), &result);
  ComPtr<IKyConfig> user;
  if (SUCCEEDED(hr)) hr = V_UNKNOWN(&item.Get())->QueryInterface(IID_PPV_ARGS(&user));
  if (SUCCEEDED(hr)) hr = user->SetValue(ZelService::kUserName, Variant::Text(name).Get(), &result);
  if (SUCCEEDED(hr)) hr = collection->Add(item.Get(), &result);
  if (SUCCEEDED(hr) && ZelService::Succeeded(hr, result)) hr = collection->Apply(&result);
  return FAILED(hr) ? hr : result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return E_FAIL;
  long answer = E_INVALIDARG;
  {
    ComPtr<IKyGSService> service;
    HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_KyGSService, CLSCTX_INPROC_SERVER, IID_IKyGSService,
                                              reinterpret_cast<void**>(service.GetAddressOf()));
    if (FAILED(hr)) {
      answer = hr;
    } else if (argc == 4 && std::wcscmp(argv[1], L"signin") == 0) {
      answer = SignIn(service.Get(), argv[2], argv[3]);
    } else if (argc == 3 && std::wcscmp(argv[1], L"adduser") == 0) {
      answer = AddUser(service.Get(), argv[2]);
    }
  }
  ::CoUninitialize();
  return answer;
}
