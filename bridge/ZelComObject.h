// Reference counting and QueryInterface for the library's COM classes: a class lists the
// interfaces it answers and implements only their methods. A listed dual interface also answers
// IDispatch. Every live object keeps the library loaded.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "ZelTARNModule.h"

// The interface a base stands for: itself, or the dual interface of an implementation base that
// names it as DualInterface.
template <typename Base, typename = void>
struct InterfaceOf {
  using type = Base;
};
template <typename Base>
struct InterfaceOf<Base, std::void_t<typename Base::DualInterface>> {
  using type = typename Base::DualInterface;
};

template <typename First, typename... Others>
class CZelComObject : public First, public Others... {
 public:
  CZelComObject() noexcept { g_module.Lock(); }
  virtual ~CZelComObject() { g_module.Unlock(); }
  CZelComObject(const CZelComObject&) = delete;
  CZelComObject& operator=(const CZelComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = Find(iid);
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

  // A new object of class T handed out as `iid`; the creator's reference goes either way.
  template <typename T, typename... Args>
  static HRESULT CreateInstance(REFIID iid, void** object, Args&&... args) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    T* created = new (std::nothrow) T(std::forward<Args>(args)...);
    if (!created) return E_OUTOFMEMORY;
    HRESULT hr = created->FinalConstruct();
    if (SUCCEEDED(hr)) hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
  }

  // Work that may fail after construction; the default has none.
  HRESULT FinalConstruct() noexcept { return S_OK; }

 private:
  template <typename Base>
  void* Match(REFIID iid) {
    using I = typename InterfaceOf<Base>::type;
    I* answer = static_cast<I*>(static_cast<Base*>(this));
    if (iid == __uuidof(I)) return answer;
    if constexpr (std::is_base_of_v<IDispatch, I>) {
      if (iid == IID_IDispatch) return static_cast<IDispatch*>(answer);
    }
    return nullptr;
  }
  void* Find(REFIID iid) {
    if (iid == IID_IUnknown) return static_cast<typename InterfaceOf<First>::type*>(static_cast<First*>(this));
    void* found = Match<First>(iid);
    ((found = found ? found : Match<Others>(iid)), ...);
    return found;
  }

  std::atomic<ULONG> references_{1};
};
