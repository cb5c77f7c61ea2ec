#include "EventSource.h"

#include <cstdio>

#include "CreateInstanceViaFactory.h"
#include "EventKinds.h"
#include "Handles.h"

using Microsoft::WRL::ComPtr;

namespace ZelEventSource {

namespace {

using UniqueBstr = Strata::UniqueAny<Strata::detail::NullTraits<BSTR, ::SysFreeString>>;

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  ::StringFromGUID2(guid, text, ARRAYSIZE(text));
  return text;
}

}  // namespace

HRESULT EventSource::HandlerFor(const std::wstring& product, REFIID eventIid, IUnknown** handler) {
  const std::wstring key = product + L"|" + GuidText(eventIid);
  auto held = handlers_.find(key);
  if (held != handlers_.end()) return held->second.CopyTo(handler);

  if (!registry_) {
    HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_KyGSEventRegistry, CLSCTX_INPROC_SERVER, IID_IKyGSEventRegistry,
                                              reinterpret_cast<void**>(registry_.GetAddressOf()));
    if (FAILED(hr)) return hr;
  }
  UniqueBstr productText(::SysAllocString(product.c_str()));
  UniqueBstr eventText(::SysAllocString(GuidText(eventIid).c_str()));
  UniqueBstr handlerText;
  long result = 0;
  HRESULT hr = registry_->FindBinding(productText.get(), eventText.get(), handlerText.put(), &result);
  if (FAILED(hr)) return hr;
  if ((result & 0x1FFFF) != 0 || !handlerText) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

  CLSID handlerClass;
  hr = ::CLSIDFromString(handlerText.get(), &handlerClass);
  if (FAILED(hr)) return hr;
  ComPtr<IUnknown> created;
  hr = ::CoCreateInstance(handlerClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created));
  if (FAILED(hr)) return hr;
  handlers_[key] = created;
  return created.CopyTo(handler);
}

HRESULT EventSource::Raise(const EventCommand& command) {
  const EventKind* kind = FindEventKind(command.Name());
  if (!kind) return E_INVALIDARG;
  ComPtr<IUnknown> handler;
  HRESULT hr = HandlerFor(command.Product(), *kind->iid, &handler);
  if (SUCCEEDED(hr)) hr = kind->deliver(handler.Get(), command);
  if (announce_) std::printf("%ls for %ls: 0x%08lX\n", kind->name, command.Product().c_str(), static_cast<unsigned long>(hr));
  return hr;
}

}  // namespace ZelEventSource
