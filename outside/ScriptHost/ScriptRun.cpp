// The platform's user-interface process stand-in, as far as it runs product scripts: a signed
// program, unlike Wine's cscript, so that the product sees a caller it can verify.
//   ZelScriptRun.exe FILE.js|FILE.vbs
// The script sees one object, WScript, with CreateObject(progId), Echo(text) and Quit(code). The exit
// code is Quit's, 0 when the script ends by itself, 1 after a script error.
#include <windows.h>
#include <activscp.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "DispatchObject.h"

namespace {

using Microsoft::WRL::ComPtr;
using namespace ZelStandIns;

class WScriptObject : public DispatchObject<Ky::NoModuleLock> {
 protected:
  size_t MethodCount() const override { return 3; }
  const wchar_t* MethodName(size_t index) const override {
    static const wchar_t* const kNames[] = {L"CreateObject", L"Echo", L"Quit"};
    return kNames[index];
  }
  HRESULT CallMethod(DISPID id, const DISPPARAMS& parameters, VARIANT* result) override {
    VARIANT argument;
    HRESULT hr = Argument(parameters, 0, id == 3 ? VT_I4 : VT_BSTR, &argument);
    if (FAILED(hr)) return hr;
    if (id == 1) hr = CreateObject(V_BSTR(&argument), result);
    if (id == 2) std::fwprintf(stdout, L"%ls\n", V_BSTR(&argument));
    if (id == 3) {
      std::fflush(stdout);
      ::ExitProcess(static_cast<UINT>(V_I4(&argument)));
    }
    ::VariantClear(&argument);
    return hr;
  }

 private:
  static HRESULT CreateObject(const wchar_t* progId, VARIANT* result) {
    CLSID classId;
    HRESULT hr = ::CLSIDFromProgID(progId, &classId);
    if (FAILED(hr)) return hr;
    IDispatch* object = nullptr;
    hr = ::CoCreateInstance(classId, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) return hr;
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object;
    return S_OK;
  }
};

class Site : public ComObject<IActiveScriptSite> {
 public:
  explicit Site(IUnknown* wscript) : wscript_(wscript) {}
  bool failed = false;

  STDMETHODIMP GetLCID(LCID* lcid) override {
    *lcid = LOCALE_USER_DEFAULT;
    return S_OK;
  }
  STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
    if (info) *info = nullptr;
    if (item) *item = nullptr;
    if (_wcsicmp(name, L"WScript") != 0) return TYPE_E_ELEMENTNOTFOUND;
    if (mask & SCRIPTINFO_ITYPEINFO) return TYPE_E_ELEMENTNOTFOUND;
    if (!item) return E_POINTER;
    wscript_->AddRef();
    *item = wscript_.Get();
    return S_OK;
  }
  STDMETHODIMP GetDocVersionString(BSTR* version) override {
    *version = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
  STDMETHODIMP OnScriptError(IActiveScriptError* error) override {
    failed = true;
    EXCEPINFO info{};
    if (SUCCEEDED(error->GetExceptionInfo(&info))) {
      std::fwprintf(stderr, L"script error 0x%08lX: %ls\n", static_cast<unsigned long>(info.scode),
                    info.bstrDescription ? info.bstrDescription : L"");
      ::SysFreeString(info.bstrSource);
      ::SysFreeString(info.bstrDescription);
      ::SysFreeString(info.bstrHelpFile);
    }
    return S_OK;
  }
  STDMETHODIMP OnEnterScript() override { return S_OK; }
  STDMETHODIMP OnLeaveScript() override { return S_OK; }

 private:
  ComPtr<IUnknown> wscript_;
};

std::wstring ReadScript(const wchar_t* path) {
  HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::vector<char> bytes(static_cast<size_t>(::GetFileSize(file, nullptr)));
  DWORD read = 0;
  const BOOL ok = bytes.empty() || ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  ::CloseHandle(file);
  if (!ok || read != bytes.size()) return {};
  std::wstring text(bytes.size(), L'\0');
  text.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                        text.data(), static_cast<int>(text.size()))));
  return text;
}

int RunScript(const wchar_t* path) {
  const std::wstring text = ReadScript(path);
  if (text.empty()) return 2;
  const size_t length = wcslen(path);
  const bool vbscript = length > 4 && _wcsicmp(path + length - 4, L".vbs") == 0;
  CLSID engineId;
  if (FAILED(::CLSIDFromProgID(vbscript ? L"VBScript" : L"JScript", &engineId))) return 3;
  ComPtr<IActiveScript> engine;
  ComPtr<IActiveScriptParse64> parser;
  if (FAILED(::CoCreateInstance(engineId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&engine))) ||
      FAILED(engine.As(&parser)))
    return 3;
  ComPtr<IUnknown> wscript = Ky::AdoptNew<IUnknown>(static_cast<IDispatch*>(new WScriptObject()));
  ComPtr<Site> site = Ky::AdoptNew<Site>(new Site(wscript.Get()));
  EXCEPINFO exception{};
  HRESULT hr = engine->SetScriptSite(site.Get());
  if (SUCCEEDED(hr)) hr = parser->InitNew();
  if (SUCCEEDED(hr)) hr = engine->AddNamedItem(L"WScript", SCRIPTITEM_ISVISIBLE);
  if (SUCCEEDED(hr)) hr = engine->SetScriptState(SCRIPTSTATE_STARTED);
  if (SUCCEEDED(hr)) {
    hr = parser->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE, nullptr,
                                 &exception);
  }
  engine->Close();
  return (FAILED(hr) || site->failed) ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  const int result = RunScript(argv[1]);
  ::CoUninitialize();
  return result;
}
