// A class object that answers only the older suite factory interface, the way components built
// before the interface was renamed do, and the plain objects it creates.
#pragma once

#include <windows.h>

#include <atomic>

#include "ComObject.h"
#include "KyClassFactory.h"

namespace ZelTest {

// Objects and class objects alive in this module.
inline std::atomic<long>& LiveServerObjects() {
  static std::atomic<long> count{0};
  return count;
}

struct LiveServerObjectCount {
  static void Lock() noexcept { ++LiveServerObjects(); }
  static void Unlock() noexcept { --LiveServerObjects(); }
};

template <typename... Interfaces>
using CountedObject = Ky::ComObject<LiveServerObjectCount, Interfaces...>;

// What the factory hands out: an object with nothing but its identity.
using ServedObject = CountedObject<IUnknown>;

// `Others` are further interfaces the class object answers.
template <typename... Others>
class OlderFactoryAnswering : public CountedObject<IKyClassFactory_PreComponentization, Others...> {
 public:
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override {
    return ServedObject::CreateInstance<ServedObject>(iid, reinterpret_cast<void**>(object));
  }
};

using OlderFactory = OlderFactoryAnswering<>;

// A class object of this process that poses as COM's proxy to an out-of-process server.
class ProxyClaimingFactory : public OlderFactoryAnswering<IClientSecurity> {
 public:
  STDMETHODIMP QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*) override {
    return S_OK;
  }
  STDMETHODIMP SetBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD) override { return S_OK; }
  STDMETHODIMP CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }
};

}  // namespace ZelTest
