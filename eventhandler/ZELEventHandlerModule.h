// The event-handler library's module: its lock count, the report-logging thread that lives while
// the count is above zero, and the connections the handlers share.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include <wrl/client.h>

#include "ComObject.h"
#include "Handles.h"
#include "KyGSService.h"
#include "LoggingThread.h"
#include "ServiceCalls.h"
#include "SlimLock.h"
#include "ZelTARN.h"

class CZELEventHandlerModule {
 public:
  CZELEventHandlerModule() = default;
  // Runs at library unload, under the loader lock: it neither waits for the logging thread nor
  // calls into other libraries.
  ~CZELEventHandlerModule();
  CZELEventHandlerModule(const CZELEventHandlerModule&) = delete;
  CZELEventHandlerModule& operator=(const CZELEventHandlerModule&) = delete;

  // Each live object and server lock holds one count. The first lock starts the logging thread; the
  // last unlock drops the cached connections and stops the thread, waiting up to 10 seconds for it
  // to drain. Both return the new count.
  LONG Lock();
  LONG Unlock();
  LONG GetLockCount() const { return lockCount_.load(); }
  // A client's lock of the module; E_UNEXPECTED for an unlock without a lock, which would otherwise
  // take the count of live objects down.
  HRESULT LockServer(bool lock);
  // S_OK when no count is held, no last unlock is still tearing down and no caller holds a class
  // object, else S_FALSE.
  HRESULT CanUnloadNow() const;
  // How many of the library's class objects callers hold.
  std::atomic<LONG>& ClassObjectHolds() { return classObjectHolds_; }

  void SetInstance(HINSTANCE instance) { instance_ = instance; }
  HINSTANCE Instance() const { return instance_; }

  // The cached configuration object, created on first use (with one repair by re-registration of
  // the bridge library when its interface is not registered); null when it cannot be had. The
  // caller receives its own reference.
  Microsoft::WRL::ComPtr<IZelConfig> GetZelTarn();
  void ReleaseZelTarn();

  // The cached service root object, connected on first use; null when it cannot be had. The caller
  // receives its own reference.
  Microsoft::WRL::ComPtr<IKyGSService> GetGadrelService();
  // For a caller whose call on `failed` met an RPC failure: the cached object is dropped and made
  // afresh, unless another caller has already replaced it, whose fresh object is then kept.
  Microsoft::WRL::ComPtr<IKyGSService> ReconnectGadrelService(IKyGSService* failed);
  // Runs `call` (HRESULT(IKyGSService*), handed null when there is no service) on the cached service
  // object. When it meets an RPC failure the service's process has gone: `reconnecting(hr)` is told,
  // the object is made afresh and `call` runs once more, on the new one. Every handler reaches the
  // service through here, so that no path keeps using a dead connection.
  template <typename Call, typename Note>
  HRESULT CallGadrelService(Call&& call, Note&& reconnecting) {
    Microsoft::WRL::ComPtr<IKyGSService> service = GetGadrelService();
    HRESULT hr = call(service.Get());
    if (!service || !ServiceCalls::IsRpcFailure(hr)) return hr;
    reconnecting(hr);
    service = ReconnectGadrelService(service.Get());
    return call(service.Get());
  }

  // String `id` of the product resource library, at most 1023 characters; null when the library
  // cannot be loaded.
  std::unique_ptr<wchar_t[]> LoadResourceString(UINT id);

  // Hand an item to the logging thread. False when it was dropped (no thread, out of memory, or a
  // full queue); dropped items are counted, and the count is written once the burst is over.
  bool QueueEvent(long eventType, const wchar_t* webPage, const wchar_t* content, unsigned long session);
  bool QueueUserInfo(long action, const wchar_t* targetUserName, const wchar_t* responsibleUserName);

  // Test seam: how the next logging thread is made (which logger class it creates).
  void SetLoggingThreadSettings(const LoggingThreadSettings& settings);

  static unsigned long getSessionIdFromPID(DWORD processId);
  // Loads the bridge library from the installation directory and runs its registration.
  static bool reregisterZelTarn();
  // Tells the service's own library about a failure; a missing library or export is ignored.
  static void ReportServiceFailure(unsigned code, BYTE flag, unsigned value);

 private:
  static HRESULT connectToGadrelService(Microsoft::WRL::ComPtr<IKyGSService>& made);
  static HRESULT createZelTarn(Microsoft::WRL::ComPtr<IZelConfig>& made);

  // Counts an item that could not be queued; reports a burst of them when the next one is queued.
  bool NoteQueued(bool queued);
  void ReportRefusals();

  std::atomic<LONG> lockCount_{0};
  std::atomic<long> refusedItems_{0};  // dropped since the last report
  std::atomic<LONG> serverLocks_{0};  // the part of lockCount_ that clients' LockServer calls hold
  // Last unlocks that have left the lock but are still releasing and stopping what they took.
  std::atomic<LONG> teardowns_{0};
  std::atomic<LONG> classObjectHolds_{0};

  // Guards loggingThread_ and loggingSettings_. Lock and Unlock hold it exclusively while the
  // count crosses zero; QueueEvent and QueueUserInfo hold it shared while they post.
  Strata::SlimLock lifecycleLock_;
  std::unique_ptr<CLoggingThread> loggingThread_;
  LoggingThreadSettings loggingSettings_;

  // Guards zelTarn_, held only to read or store it: the object is made outside the lock.
  Strata::SlimLock configLock_;
  Microsoft::WRL::ComPtr<IZelConfig> zelTarn_;

  // Guards gadrelService_, held only to read, store or compare it: the object is made outside it.
  Strata::SlimLock serviceLock_;
  Microsoft::WRL::ComPtr<IKyGSService> gadrelService_;

  // Guards resourceLibrary_.
  Strata::SlimLock resourceLock_;
  Strata::UniqueModule resourceLibrary_;

  // Set once by DllMain before any object exists.
  HINSTANCE instance_ = nullptr;
};

// The library's module object.
extern CZELEventHandlerModule g_module;

// Every live handler holds one module lock, which keeps the logging thread running while the
// service or the platform holds a handler.
struct EventHandlerModuleLock {
  static void Lock() { g_module.Lock(); }
  static void Unlock() { g_module.Unlock(); }
};

// The base of the library's event handlers: their event interfaces besides IUnknown, the first of
// which is their identity.
template <typename First, typename... Others>
using CEventHandlerObject = Ky::ComObject<EventHandlerModuleLock, First, Others...>;
