#include "KyThread.h"

#include "ComGuard.h"

DWORD CKyThread::Start() {
  if (IsRunning()) return ERROR_ALREADY_INITIALIZED;
  thread_.reset(::CreateThread(nullptr, 0, &CKyThread::ThreadStart, this, 0, nullptr));
  return thread_ ? 0 : ::GetLastError();
}

void CKyThread::Stop() noexcept {
  if (!IsRunning()) return;
  Signal();
  ::WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
}

DWORD WINAPI CKyThread::ThreadStart(void* self) noexcept {
  return static_cast<DWORD>(GuardHResult([self] {
    static_cast<CKyThread*>(self)->Run();
    return S_OK;
  }));
}
