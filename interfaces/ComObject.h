// Reference counting and QueryInterface for every COM class of the product, its stand-ins and its
// test doubles: a class lists the interfaces it answers and implements only their methods. The
// first listed interface is the object's identity (IUnknown); a listed interface that derives from
// IDispatch also answers IDispatch. Each home says through ModuleLock what a live object holds of
// its module (a library's lock count, a server process reference, nothing).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include <wrl/client.h>

#include "ComGuard.h"

namespace Ky {

// For objects whose life keeps nothing else alive: test doubles, and classes that hold their
// module themselves.
struct NoModuleLock {
  static void Lock() noexcept {}
  static void Unlock() noexcept {}
};

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

// Takes over the creation reference of a new COM object. (MinGW's ComPtr::Attach adds a reference
// of its own, unlike the Windows SDK's, so it cannot be used for this.)
template <typename T>
Microsoft::WRL::ComPtr<T> AdoptNew(T* created) {
  Microsoft::WRL::ComPtr<T> owner;
  *owner.GetAddressOf() = created;
  return owner;
}

// ModuleLock has static Lock() and Unlock(): one Lock for as long as each object lives.
template <typename ModuleLock, typename First, typename... Others>
class ComObject : public First, public Others... {
 public:
  ComObject() noexcept(noexcept(ModuleLock::Lock())) { ModuleLock::Lock(); }
  virtual ~ComObject() { ModuleLock::Unlock(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = Find(iid);
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // A new object of class T handed out as `iid`; the creator's reference goes either way, so a
  // failure leaves nothing alive and *object null. A constructor that throws is a failed creation.
  template <typename T, typename... Args>
  static HRESULT CreateInstance(REFIID iid, void** object, Args&&... args) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    return GuardHResult([&]() -> HRESULT {
      T* created = new (std::nothrow) T(std::forward<Args>(args)...);
      if (!created) return E_OUTOFMEMORY;
      HRESULT hr = created->FinalConstruct();
      if (SUCCEEDED(hr)) hr = created->QueryInterface(iid, object);
      created->Release();
      return hr;
    });
  }

  // Work that may fail after construction; a class with such work declares its own.
  HRESULT FinalConstruct() noexcept { return S_OK; }

 protected:
  // For test doubles that report whether a holder still has them.
  ULONG References() const noexcept { return references_.load(); }

 private:
  template <typename Base>
  void* Match(REFIID iid) noexcept {
    using I = typename InterfaceOf<Base>::type;
    I* answer = static_cast<I*>(static_cast<Base*>(this));
    if (iid == __uuidof(I)) return answer;
    if constexpr (std::is_base_of_v<IDispatch, I>) {
      if (iid == IID_IDispatch) return static_cast<IDispatch*>(answer);
    }
    return nullptr;
  }
  void* Find(REFIID iid) noexcept {
    if (iid == IID_IUnknown) return static_cast<typename InterfaceOf<First>::type*>(static_cast<First*>(this));
    void* found = Match<First>(iid);
    ((found = found ? found : Match<Others>(iid)), ...);
    return found;
  }

  // Atomic, so it needs no lock: references are added and released on any thread.
  std::atomic<ULONG> references_{1};
};

}  // namespace Ky
