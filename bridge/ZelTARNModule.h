// The bridge library's module: its lock count, its own type library and the class objects it
// serves, each made on first request and kept until the library unloads.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include <wrl/client.h>

#include "ComObject.h"
#include "SuiteClassObject.h"
#include "SlimLock.h"

// One class of the library: how it is created and how it is registered.
struct ZelTARNClass {
  const CLSID* clsid;
  Ky::ObjectCreator create;  // null: registered, but not served by this build
  const wchar_t* progId;  // version-independent; the versioned one adds ".1"
  const wchar_t* description;
  bool control;  // registered with the keys of a control
};

// The library's classes.
const ZelTARNClass* ZelTARNClassesBegin();
const ZelTARNClass* ZelTARNClassesEnd();

// The library's own fixed AppID.
extern const GUID kZelTARNAppId;

class CZelTARNModule {
 public:
  CZelTARNModule();
  // Runs at unload under the loader lock: frees plain memory only, never calls into COM.
  ~CZelTARNModule();
  CZelTARNModule(const CZelTARNModule&) = delete;
  CZelTARNModule& operator=(const CZelTARNModule&) = delete;

  // Each live object holds one count.
  LONG Lock() noexcept { return ++lockCount_; }
  LONG Unlock() noexcept { return --lockCount_; }
  LONG GetLockCount() const noexcept { return lockCount_.load(); }
  // S_OK when no object is alive and no caller holds a class object (the cached type library is
  // then let go), else S_FALSE.
  HRESULT CanUnloadNow();

  void SetInstance(HINSTANCE instance) noexcept { instance_ = instance; }
  HINSTANCE Instance() const noexcept { return instance_; }
  // The full path of the library's file.
  std::wstring ModulePath() const;

  // The class object of `clsid` asked for `iid`. CLASS_E_CLASSNOTAVAILABLE for a class this
  // library does not serve (yet).
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);

  // Type information of one interface of the library's embedded type library.
  HRESULT GetTypeInfo(REFIID iid, ITypeInfo** info);

 private:
  std::atomic<LONG> lockCount_{0};
  std::atomic<LONG> classObjectHolds_{0};
  HINSTANCE instance_ = nullptr;

  // Guards classObjects_.
  Strata::SlimLock classObjectLock_;
  std::map<GUID, Microsoft::WRL::ComPtr<Ky::CSuiteClassObject>, bool (*)(const GUID&, const GUID&)> classObjects_;

  // Guards typeLibrary_ and typeInfos_.
  Strata::SlimLock typeLock_;
  Microsoft::WRL::ComPtr<ITypeLib> typeLibrary_;
  std::map<GUID, Microsoft::WRL::ComPtr<ITypeInfo>, bool (*)(const GUID&, const GUID&)> typeInfos_;
};

// The library's module object.
extern CZelTARNModule g_module;

// Every live object of the library keeps it loaded.
struct ZelModuleLock {
  static void Lock() noexcept { g_module.Lock(); }
  static void Unlock() noexcept { g_module.Unlock(); }
};

// The base of the library's COM classes.
template <typename First, typename... Others>
using CZelComObject = Ky::ComObject<ZelModuleLock, First, Others...>;
