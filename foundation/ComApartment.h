// COM for the current thread in apartment `Model` (a COINIT value), for as long as the guard lives.
// Another apartment already chosen for the thread is refused (Result() says so) and nothing is
// undone at the end, as the thread's owner set it up.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace Strata {

template <DWORD Model>
class ComApartment {
 public:
  ComApartment() noexcept : hr_(::CoInitializeEx(nullptr, Model)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  HRESULT Result() const noexcept { return hr_; }

 private:
  const HRESULT hr_;
};

using MultithreadedApartment = ComApartment<COINIT_MULTITHREADED>;
using SingleThreadedApartment = ComApartment<COINIT_APARTMENTTHREADED>;

}  // namespace Strata
