// What every service-event handler object shares: one event interface besides IUnknown, a
// reference count, no aggregation, and one module lock for as long as it lives, which keeps the
// logging thread running while the service holds a handler.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

#include "ZELEventHandlerModule.h"

template <typename Interface>
class CEventHandlerObject : public Interface {
 public:
  CEventHandlerObject() { g_module.Lock(); }
  virtual ~CEventHandlerObject() { g_module.Unlock(); }
  CEventHandlerObject(const CEventHandlerObject&) = delete;
  CEventHandlerObject& operator=(const CEventHandlerObject&) = delete;

  // Creates a `Handler` and asks it for `iid`; the object map's creation function of its class.
  template <typename Handler>
  static HRESULT Create(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    Handler* handler = new (std::nothrow) Handler();
    if (!handler) return E_OUTOFMEMORY;
    HRESULT hr = handler->QueryInterface(iid, object);
    // The creation reference; the caller holds its own from QueryInterface, or nothing is left.
    handler->Release();
    return hr;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid != IID_IUnknown && iid != __uuidof(Interface)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};
