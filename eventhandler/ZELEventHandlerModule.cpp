#include "ZELEventHandlerModule.h"

#include <mutex>
#include <new>
#include <shared_mutex>

#include "AtomicCount.h"
#include "CreateInstanceViaFactory.h"
#include "KyClassFactory.h"
#include "LogInstance.h"
#include "ProductFolder.h"
#include "RtMui.h"
#include "SlimLock.h"
#include "TokenSession.h"
#include "VerifiedLibrary.h"

using Microsoft::WRL::ComPtr;
using ETWLogging::kLevelError;
using ETWLogging::kLevelInformation;
using ETWLogging::kLevelNormal;

CZELEventHandlerModule g_module;

namespace {

constexpr wchar_t kSource[] = L"stdafx";
constexpr DWORD kInprocContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr int kResourceStringCapacity = 1024;
constexpr unsigned long kUnknownSession = 0xFFFFFFFF;

// Failure reports to the service library.
constexpr unsigned kNoBridgeLibraryPath = 30;
constexpr unsigned kBridgeLibraryNotLoadable = 42;
constexpr unsigned kConfigNotCreatable = 43;

using DllCanDeferFn = HRESULT(STDAPICALLTYPE*)(long code, BYTE flag, long value);

// The cached objects are made outside their locks: loading, checking and re-registering a library
// takes long, and the last Unlock waits for these locks while it holds the one every event needs.
// Two first callers may both make one; the second is let go.
template <typename Interface>
ComPtr<Interface> CachedOrMade(Strata::SlimLock& lock, ComPtr<Interface>& cache, HRESULT (*make)(ComPtr<Interface>&)) {
  {
    std::lock_guard<Strata::SlimLock> guard(lock);
    if (cache) return cache;
  }
  ComPtr<Interface> made;
  make(made);
  std::lock_guard<Strata::SlimLock> guard(lock);
  if (!cache) cache = made;
  return cache;
}

}  // namespace

CZELEventHandlerModule::~CZELEventHandlerModule() {
  // Reached with a count still held only when the process ends or a host unloads the library
  // under its own objects. The worker finishes on its own; the cached objects belong to libraries
  // that may already be gone, so they are let go unreleased.
  if (loggingThread_) loggingThread_->Abandon();
  gadrelService_.Detach();
  zelTarn_.Detach();
}

LONG CZELEventHandlerModule::Lock() {
  std::unique_lock<Strata::SlimLock> guard(lifecycleLock_);
  LONG count = ++lockCount_;
  if (count == 1) {
    ZEL_LOG(kLevelNormal, kSource, L"CZELEventHandlerModule::Lock", L"Lock count is 1... creating logging thread\r\n");
    loggingThread_.reset(new (std::nothrow) CLoggingThread(loggingSettings_));
  }
  return count;
}

HRESULT CZELEventHandlerModule::LockServer(bool lock) {
  if (lock) {
    ++serverLocks_;
    Lock();
    return S_OK;
  }
  if (!Strata::TakeOneIfAny(serverLocks_)) return E_UNEXPECTED;
  Unlock();
  return S_OK;
}

LONG CZELEventHandlerModule::Unlock() {
  ComPtr<IKyGSService> service;
  ComPtr<IZelConfig> config;
  std::unique_ptr<CLoggingThread> thread;
  {
    std::unique_lock<Strata::SlimLock> guard(lifecycleLock_);
    // Counted before the lock count can read 0, so that CanUnloadNow never sees neither.
    ++teardowns_;
    LONG count = --lockCount_;
    if (count != 0) {
      --teardowns_;
      return count;
    }
    ZEL_LOG(kLevelNormal, kSource, L"CZELEventHandlerModule::Unlock",
            L"Lock count is 0... releasing cached objects\r\n");
    {
      std::lock_guard<Strata::SlimLock> serviceGuard(serviceLock_);
      service.Swap(gadrelService_);
    }
    {
      std::lock_guard<Strata::SlimLock> configGuard(configLock_);
      config.Swap(zelTarn_);
    }
    thread = std::move(loggingThread_);
  }
  // Outside the lock: a first Lock on another thread starts a new logging thread meanwhile instead
  // of waiting up to 10 seconds for this one to drain.
  service.Reset();
  config.Reset();
  thread.reset();
  ReportRefusals();  // a burst that lasted to the end
  --teardowns_;
  return 0;
}

HRESULT CZELEventHandlerModule::CanUnloadNow() const {
  return lockCount_.load() == 0 && teardowns_.load() == 0 && classObjectHolds_.load() == 0 ? S_OK : S_FALSE;
}

void CZELEventHandlerModule::SetLoggingThreadSettings(const LoggingThreadSettings& settings) {
  std::unique_lock<Strata::SlimLock> guard(lifecycleLock_);
  loggingSettings_ = settings;
}

bool CZELEventHandlerModule::QueueEvent(long eventType, const wchar_t* webPage, const wchar_t* content,
                                        unsigned long session) {
  bool queued = false;
  {
    std::shared_lock<Strata::SlimLock> guard(lifecycleLock_);
    queued = loggingThread_ && loggingThread_->queueEvent(eventType, webPage, content, session);
  }
  return NoteQueued(queued);
}

bool CZELEventHandlerModule::QueueUserInfo(long action, const wchar_t* targetUserName,
                                           const wchar_t* responsibleUserName) {
  bool queued = false;
  {
    std::shared_lock<Strata::SlimLock> guard(lifecycleLock_);
    queued = loggingThread_ && loggingThread_->queueUserInfo(action, targetUserName, responsibleUserName);
  }
  return NoteQueued(queued);
}

// Outside the lifecycle lock: the line is written on the service's own thread, once per burst.
bool CZELEventHandlerModule::NoteQueued(bool queued) {
  if (!queued) {
    ++refusedItems_;
    return false;
  }
  ReportRefusals();
  return true;
}

// A plain read first: the exchange would make every queued event of every service thread take the
// counter's cache line for writing.
void CZELEventHandlerModule::ReportRefusals() {
  if (refusedItems_.load(std::memory_order_relaxed) == 0) return;
  if (const long refused = refusedItems_.exchange(0)) {
    ZEL_LOG(kLevelError, kSource, L"CZELEventHandlerModule::QueueEvent",
            L"%ld events could not be queued for the report log and were dropped\r\n", refused);
  }
}

ComPtr<IZelConfig> CZELEventHandlerModule::GetZelTarn() {
  return CachedOrMade<IZelConfig>(configLock_, zelTarn_, [](ComPtr<IZelConfig>& made) {
    HRESULT hr = createZelTarn(made);
    // One repair: a bridge library whose registration keeps failing is not re-registered again.
    if (hr == REGDB_E_IIDNOTREG && reregisterZelTarn()) hr = createZelTarn(made);
    if (FAILED(hr) && hr != REGDB_E_IIDNOTREG) ReportServiceFailure(kConfigNotCreatable, 0, hr);
    return hr;
  });
}

HRESULT CZELEventHandlerModule::createZelTarn(ComPtr<IZelConfig>& made) {
  HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_ZelConfig, kInprocContext, IID_IZelConfig,
                                            reinterpret_cast<void**>(made.ReleaseAndGetAddressOf()),
                                            Ky::CreationForm::Checked);
  if (FAILED(hr)) {
    made.Reset();
    ZEL_LOG(kLevelError, kSource, L"CZELEventHandlerModule::GetZelTarn",
            L"Failed to create the ZEL TARN Config [Error 0x%08X]\r\n", hr);
  }
  return hr;
}

void CZELEventHandlerModule::ReleaseZelTarn() {
  ComPtr<IZelConfig> old;
  std::lock_guard<Strata::SlimLock> guard(configLock_);
  old.Swap(zelTarn_);
}

ComPtr<IKyGSService> CZELEventHandlerModule::GetGadrelService() {
  return CachedOrMade<IKyGSService>(serviceLock_, gadrelService_, &connectToGadrelService);
}

ComPtr<IKyGSService> CZELEventHandlerModule::ReconnectGadrelService(IKyGSService* failed) {
  ComPtr<IKyGSService> dropped;
  {
    std::lock_guard<Strata::SlimLock> guard(serviceLock_);
    if (gadrelService_.Get() == failed) dropped.Swap(gadrelService_);
  }
  // Released outside the lock: a dead proxy's release may itself wait on the gone process.
  dropped.Reset();
  return GetGadrelService();
}

HRESULT CZELEventHandlerModule::connectToGadrelService(ComPtr<IKyGSService>& made) {
  ComPtr<IKyClassFactory> factory;
  HRESULT hr = ::CoGetClassObject(CLSID_KyGSService, kInprocContext, nullptr, IID_IKyClassFactory,
                                  reinterpret_cast<void**>(factory.GetAddressOf()));
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kSource, L"CZELEventHandlerModule::connectToGadrelService",
            L"Failed to get Gadrel Service class factory [Error 0x%08X]\r\n", hr);
    return hr;
  }
  hr = factory->CreateInstance(IID_IKyGSService, reinterpret_cast<IUnknown**>(made.ReleaseAndGetAddressOf()));
  if (FAILED(hr)) {
    made.Reset();
    ZEL_LOG(kLevelError, kSource, L"CZELEventHandlerModule::connectToGadrelService",
            L"Failed to create Gadrel Service class [Error 0x%08X]\r\n", hr);
  }
  return hr;
}

std::unique_ptr<wchar_t[]> CZELEventHandlerModule::LoadResourceString(UINT id) {
  HMODULE library = nullptr;
  {
    std::lock_guard<Strata::SlimLock> guard(resourceLock_);
    if (!resourceLibrary_) {
      std::optional<std::wstring> path = ProductFolder::ResourceLibraryPath();
      if (!path) {
        ZEL_LOG(kLevelError, kSource, L"CZELEventHandlerModule::LoadResourceString",
                L"Failed to get path to zelres2.dll\r\n");
        return nullptr;
      }
      resourceLibrary_.reset(Strata::RtMui::LoadLibraryExW(path->c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
      if (!resourceLibrary_) {
        ZEL_LOG(kLevelError, kSource, L"CZELEventHandlerModule::LoadResourceString",
                L"Failed to load the resource library (Error %d)\r\n", ::GetLastError());
        return nullptr;
      }
    }
    library = resourceLibrary_.get();
  }
  std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[kResourceStringCapacity]());
  if (text) Strata::RtMui::LoadStringW(library, id, text.get(), kResourceStringCapacity);
  return text;
}

unsigned long CZELEventHandlerModule::getSessionIdFromPID(DWORD processId) {
  Strata::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  if (!process) {
    ZEL_LOG(kLevelError, kSource, L"getSessionIdFromPID", L"Failed to open process %d\r\n", processId);
    return kUnknownSession;
  }
  const Strata::TokenSession found = Strata::SessionOfProcessToken(process.get(), kSource, L"getSessionIdFromPID");
  return found.failure == Strata::TokenSession::Failure::None ? found.session : kUnknownSession;
}

bool CZELEventHandlerModule::reregisterZelTarn() {
  ZEL_LOG(kLevelInformation, kSource, L"reregisterZelTarn", L"Reregistering ZelTARN.DLL...\r\n");
  std::optional<std::wstring> path = ProductFolder::BridgeLibraryPath();
  if (!path) {
    ReportServiceFailure(kNoBridgeLibraryPath, 0, 0);
    return false;
  }
  Strata::UniqueModule library;
  HRESULT loaded = Ky::LoadVerifiedLibrary(path->c_str(), library);
  if (FAILED(loaded)) {
    ZEL_LOG(kLevelError, kSource, L"reregisterZelTarn", L"Failed to load ZelTARN.DLL (Error %d)\r\n",
            HRESULT_FACILITY(loaded) == FACILITY_WIN32 ? HRESULT_CODE(loaded) : loaded);
    ReportServiceFailure(kBridgeLibraryNotLoadable, 0, 0);
    return false;
  }
  auto registerServer =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(library.get(), "DllRegisterServer"));
  HRESULT hr = registerServer ? registerServer() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  ZEL_LOG(kLevelInformation, kSource, L"reregisterZelTarn", L"   -> 0x%08X\r\n", hr);
  return SUCCEEDED(hr);
}

void CZELEventHandlerModule::ReportServiceFailure(unsigned code, BYTE flag, unsigned value) {
  std::optional<std::wstring> path = ProductFolder::ServiceLibraryPath();
  if (!path) {
    ZEL_LOG(ETWLogging::kLevelWarning, kSource, L"ReportServiceFailure",
            L"Not reporting %u to zel.dll: the product folder is unknown\r\n", code);
    return;
  }
  Strata::UniqueModule library;
  if (FAILED(Ky::LoadVerifiedLibrary(path->c_str(), library))) return;
  auto canDefer = reinterpret_cast<DllCanDeferFn>(::GetProcAddress(library.get(), "DllCanDefer"));
  if (canDefer) canDefer(static_cast<long>(code), flag, static_cast<long>(value));
}
