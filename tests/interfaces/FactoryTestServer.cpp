// An in-process server whose class objects answer only the older suite factory interface, the
// way components built before the interface was renamed do. It serves every class id registered
// to it, so each test can register a class of its own.
#include <windows.h>

#include <atomic>
#include <new>

#include "KyClassFactory.h"

namespace {

std::atomic<long> g_objects{0};

// What the factory hands out: an object with nothing but its identity.
class TestObject : public IUnknown {
 public:
  TestObject() { ++g_objects; }
  virtual ~TestObject() { --g_objects; }
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = iid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
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

class OlderFactory : public IKyClassFactory_PreComponentization {
 public:
  OlderFactory() { ++g_objects; }
  virtual ~OlderFactory() { --g_objects; }
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    bool known = iid == IID_IUnknown || iid == IID_IKyClassFactory_PreComponentization;
    *object = known ? static_cast<IKyClassFactory_PreComponentization*>(this) : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* created = new (std::nothrow) TestObject();
    if (!created) return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(iid, reinterpret_cast<void**>(object));
    created->Release();
    return hr;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace

// Text that the signature tests change after signing, to prove a changed file is refused.
extern "C" __declspec(dllexport) const char FactoryTestServerMark[] = "ZEL factory test server, unchanged";

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* factory = new (std::nothrow) OlderFactory();
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}
