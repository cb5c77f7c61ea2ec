// What every event handler object shares: its event interfaces besides IUnknown (the first is its
// identity), a reference count, no aggregation, and one module lock for as long as it lives, which
// keeps the logging thread running while the service or the platform holds a handler.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

#include "ZELEventHandlerModule.h"

template <typename First, typename... Others>
class CEventHandlerObject : public First, public Others... {
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
    *object = nullptr;
    if (iid == IID_IUnknown || iid == __uuidof(First)) {
      *object = static_cast<First*>(this);
    } else {
      ((iid == __uuidof(Others) ? (*object = static_cast<Others*>(this)) : nullptr), ...);
    }
    if (!*object) return E_NOINTERFACE;
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
