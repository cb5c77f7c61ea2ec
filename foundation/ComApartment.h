// COM for the current thread in the multithreaded apartment, for as long as the guard lives.
// Another apartment already chosen for the thread is refused (Result() says so) and nothing is
// undone at the end, as the thread's owner set it up.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace Strata {

class MultithreadedApartment {
 public:
  MultithreadedApartment() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~MultithreadedApartment() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  MultithreadedApartment(const MultithreadedApartment&) = delete;
  MultithreadedApartment& operator=(const MultithreadedApartment&) = delete;

  HRESULT Result() const noexcept { return hr_; }

 private:
  const HRESULT hr_;
};

}  // namespace Strata
