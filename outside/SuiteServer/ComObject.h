// Reference counting and a table-free QueryInterface for the stand-ins' COM classes: a class lists
// the interfaces it answers as template arguments and implements only their methods.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>
#include <utility>

#include <wrl/client.h>

namespace ZelStandIns {

// Keeps the serving module (an in-process library or a local server) alive while an object lives.
// Each module defines these two in its own module file.
void LockServer() noexcept;
void UnlockServer() noexcept;

// Runs `body` and turns an exception (an allocation failure, here) into `failure`, so that
// nothing throws across a COM or C boundary.
template <typename Body>
auto Guarded(Body&& body, decltype(body()) failure = E_OUTOFMEMORY) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

struct ServerReference {
  ServerReference() noexcept { LockServer(); }
  ~ServerReference() { UnlockServer(); }
  ServerReference(const ServerReference&) = delete;
  ServerReference& operator=(const ServerReference&) = delete;
};

// `First` also answers IUnknown. Every interface needs a __uuidof (widl headers declare one).
template <typename First, typename... Others>
class ComObject : public First, public Others... {
 public:
  virtual ~ComObject() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(First)) {
      *object = static_cast<First*>(this);
    } else {
      ((*object == nullptr && iid == __uuidof(Others) ? (*object = static_cast<Others*>(this)) : nullptr), ...);
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

  // A new object of class T, handed out as `iid`; the creator's reference is dropped either way.
  template <typename T, typename... Args>
  static HRESULT CreateInstance(REFIID iid, void** object, Args&&... args) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    T* created = new (std::nothrow) T(std::forward<Args>(args)...);
    if (!created) return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
  }

 private:
  std::atomic<ULONG> references_{1};
};

// Takes over the one reference a new object starts with. MinGW's ComPtr::Attach adds a reference
// of its own, unlike the Windows SDK's, so an object handed to it is never freed.
template <typename Interface>
Microsoft::WRL::ComPtr<Interface> Adopt(Interface* object) {
  Microsoft::WRL::ComPtr<Interface> owner;
  *owner.GetAddressOf() = object;
  return owner;
}

}  // namespace ZelStandIns
