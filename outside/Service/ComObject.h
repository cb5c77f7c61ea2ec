// The IUnknown half of every COM class of the service stand-in: a reference count, a
// QueryInterface over the class's interface list, and the library's count of live objects that
// DllCanUnloadNow reads.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <new>
#include <utility>

namespace ZelService {

// Objects and class objects alive in this process; the library can unload only at zero.
inline std::atomic<long> g_liveObjects{0};

template <typename First, typename... Rest>
class ComObject : public First, public Rest... {
 public:
  ComObject() { ++g_liveObjects; }
  virtual ~ComObject() { --g_liveObjects; }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown) {
      *object = static_cast<First*>(this);
    } else {
      Find<First, Rest...>(iid, object);
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

  // Creates an object of `Derived` and hands out `iid` of it; the caller's reference is the only one.
  template <typename Derived, typename... Args>
  static HRESULT CreateFor(REFIID iid, void** object, Args&&... args) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* created = new (std::nothrow) Derived(std::forward<Args>(args)...);
    if (!created) return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
  }

 private:
  template <typename Interface, typename... More>
  void Find(REFIID iid, void** object) {
    if (iid == __uuidof(Interface)) {
      *object = static_cast<Interface*>(this);
      return;
    }
    if constexpr (sizeof...(More) > 0) Find<More...>(iid, object);
  }

  std::atomic<ULONG> references_{1};
};

}  // namespace ZelService
