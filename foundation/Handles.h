// Owning wrappers for Windows handles: one template, one alias per close function.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <utility>

namespace Strata {

// Traits: Type, Invalid() and Close(Type).
template <typename Traits>
class UniqueAny {
 public:
  using Type = typename Traits::Type;

  UniqueAny() noexcept = default;
  explicit UniqueAny(Type value) noexcept : value_(value) {}
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // Closes what is held and hands out the slot for an API that writes a new value into it.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

namespace detail {
template <typename T, auto CloseFn>
struct NullTraits {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { CloseFn(value); }
};
struct FileTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { ::CloseHandle(value); }
};
struct MutexLockTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::ReleaseMutex(value); }
};
inline void CoTaskMemFreeFn(void* p) noexcept { ::CoTaskMemFree(p); }
inline void LocalFreeFn(void* p) noexcept { ::LocalFree(p); }
inline void CertCloseStoreFn(HCERTSTORE store) noexcept { ::CertCloseStore(store, 0); }
struct ClassRegistrationTraits {
  using Type = DWORD;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type cookie) noexcept { ::CoRevokeClassObject(cookie); }
};
}  // namespace detail

using UniqueHkey = UniqueAny<detail::NullTraits<HKEY, ::RegCloseKey>>;
using UniqueHandle = UniqueAny<detail::NullTraits<HANDLE, ::CloseHandle>>;
using UniqueFile = UniqueAny<detail::FileTraits>;
using UniqueModule = UniqueAny<detail::NullTraits<HMODULE, ::FreeLibrary>>;
using UniqueCoTaskMem = UniqueAny<detail::NullTraits<void*, detail::CoTaskMemFreeFn>>;
using UniqueLocalMem = UniqueAny<detail::NullTraits<void*, detail::LocalFreeFn>>;
using UniqueBstr = UniqueAny<detail::NullTraits<BSTR, ::SysFreeString>>;
using UniqueCertStore = UniqueAny<detail::NullTraits<HCERTSTORE, detail::CertCloseStoreFn>>;
using UniqueCertContext = UniqueAny<detail::NullTraits<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;
using UniqueCertChain = UniqueAny<detail::NullTraits<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>>;
using UniqueSafeArray = UniqueAny<detail::NullTraits<SAFEARRAY*, ::SafeArrayDestroy>>;
// A class object's registration with COM (its cookie), revoked at the end.
using UniqueClassRegistration = UniqueAny<detail::ClassRegistrationTraits>;
// Holds an acquired mutex and releases it; empty when the wait did not acquire it.
using MutexLock = UniqueAny<detail::MutexLockTraits>;

// Waits for a mutex; an abandoned mutex counts as acquired. Returns an empty lock on time-out.
inline MutexLock AcquireMutex(HANDLE mutex, DWORD timeoutMs) noexcept {
  if (!mutex) return MutexLock();
  DWORD wait = ::WaitForSingleObject(mutex, timeoutMs);
  return (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ? MutexLock(mutex) : MutexLock();
}

// A load of the library holding the code or data at `address`, which keeps that library mapped
// until the handle goes, whatever its other users do; empty when no library holds the address.
inline UniqueModule PinLibraryAt(const void* address) noexcept {
  HMODULE library = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCWSTR>(address), &library);
  return UniqueModule(library);
}

}  // namespace Strata
