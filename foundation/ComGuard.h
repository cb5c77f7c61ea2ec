// The one guard at every boundary of a library or program (COM methods, exports, callbacks, thread
// starts): whatever a body throws ends here as an HRESULT and never unwinds into a caller that
// cannot take it.
#pragma once

#include <windows.h>

#include <new>
#include <system_error>

template <typename Body>
HRESULT GuardHResult(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::system_error& error) {
    return HRESULT_FROM_WIN32(static_cast<DWORD>(error.code().value()));
  } catch (...) {
    return E_UNEXPECTED;
  }
}
