// A class object that answers only the older suite factory interface, the way components built
// before the interface was renamed do, and the plain objects it creates.
#pragma once

#include <windows.h>

#include <atomic>
#include <new>

#include "KyClassFactory.h"

namespace ZelTest {

// Objects and class objects alive in this module.
inline std::atomic<long>& LiveServerObjects() {
  static std::atomic<long> count{0};
  return count;
}

template <typename Interface>
class CountedObject : public Interface {
 public:
  CountedObject() { ++LiveServerObjects(); }
  virtual ~CountedObject() { --LiveServerObjects(); }
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = (iid == IID_IUnknown || iid == __uuidof(Interface)) ? static_cast<Interface*>(this) : nullptr;
    if (!*object) return E_NOINTERFACE;
    this->AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// What the factory hands out: an object with nothing but its identity.
using ServedObject = CountedObject<IUnknown>;

class OlderFactory : public CountedObject<IKyClassFactory_PreComponentization> {
 public:
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* created = new (std::nothrow) ServedObject();
    if (!created) return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(iid, reinterpret_cast<void**>(object));
    created->Release();
    return hr;
  }
};

// A class object of this process that poses as COM's proxy to an out-of-process server.
class ProxyClaimingFactory : public OlderFactory, public IClientSecurity {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid != IID_IClientSecurity) return OlderFactory::QueryInterface(iid, object);
    *object = static_cast<IClientSecurity*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return OlderFactory::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return OlderFactory::Release(); }
  STDMETHODIMP QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*) override {
    return S_OK;
  }
  STDMETHODIMP SetBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD) override { return S_OK; }
  STDMETHODIMP CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }
};

}  // namespace ZelTest
