// One creation path for every suite and service object, shared by the product's libraries.
#include "CreateInstanceViaFactory.h"

#include <wrl/client.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ComGuard.h"
#include "Handles.h"
#include "KyClassFactory.h"
#include "LogInstance.h"
#include "ServerCommandLine.h"
#include "SlimLock.h"
#include "VerifiedLibrary.h"

using Microsoft::WRL::ComPtr;

namespace Ky {
namespace {

constexpr wchar_t kSource[] = L"CreateInstanceViaFactory";
constexpr wchar_t kFunction[] = L"Ky::CreateInstanceViaFactory";

// The class object through whichever of the two factory interfaces it serves.
class SuiteFactory {
 public:
  HRESULT Get(REFCLSID clsid, DWORD classContext) {
    HRESULT hr = ::CoGetClassObject(clsid, classContext, nullptr, IID_IKyClassFactory, &current_);
    if (SUCCEEDED(hr)) return hr;
    return ::CoGetClassObject(clsid, classContext, nullptr, IID_IKyClassFactory_PreComponentization, &older_);
  }

  IUnknown* Object() const { return current_ ? static_cast<IUnknown*>(current_.Get()) : older_.Get(); }

  // The code that CreateInstance is about to run: the first method after IUnknown's three.
  const void* CreationMethod() const { return (*reinterpret_cast<void* const* const*>(Object()))[3]; }

  HRESULT CreateInstance(REFIID iid, void** object) {
    auto* out = reinterpret_cast<IUnknown**>(object);
    return current_ ? current_->CreateInstance(iid, out) : older_->CreateInstance(iid, out);
  }

 private:
  ComPtr<IKyClassFactory> current_;
  ComPtr<IKyClassFactory_PreComponentization> older_;
};

std::wstring ClassIdText(REFCLSID clsid) {
  wchar_t text[40] = L"";
  ::StringFromGUID2(clsid, text, ARRAYSIZE(text));
  return text;
}

// The file a class's registration names under `serverKind` ("InprocServer32" or "LocalServer32"),
// read from the machine's classes only: a per-user registration, which Windows lets override them,
// is under the control of whoever runs the process. Empty when there is none.
std::wstring RegisteredServerPath(REFCLSID clsid, const wchar_t* serverKind) {
  const std::wstring subKey = L"Software\\Classes\\CLSID\\" + ClassIdText(clsid) + L"\\" + serverKind;
  // RRF_RT_REG_SZ also takes REG_EXPAND_SZ, expanded.
  DWORD size = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return std::wstring();
  std::wstring commandLine(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(commandLine.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, &commandLine[0], &size) !=
      ERROR_SUCCESS)
    return std::wstring();
  commandLine.resize(commandLine.find(L'\0'));
  return ServerPathOfCommandLine(commandLine);
}

// A directory change notification: INVALID_HANDLE_VALUE when there is none, closed by a call of its own.
struct ChangeNotificationTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { ::FindCloseChangeNotification(value); }
};
using UniqueChangeNotification = Strata::UniqueAny<ChangeNotificationTraits>;

// What a checked creation verified, with the two watches that say whether it still holds: the
// class's machine registration, and the folder of the server it names. While neither has changed,
// the registration names the same server, that file is the one that passed the check, and a library
// of it that is loaded is verified code, however often it was unloaded and loaded again meanwhile.
// A later creation then looks at the watches instead of reading the registration, opening the file
// and loading the library. Nothing is held on the server file itself, so that an installer can move
// a loaded library aside.
class VerifiedServer {
 public:
  // Watches the registration from before it is read, so that no change after the reading goes
  // unseen. Null when a watch cannot be set: every creation is then checked in full.
  static std::unique_ptr<VerifiedServer> WatchRegistration(REFCLSID clsid);
  // Watches the folder of `server`, from before it is verified; false when that cannot be done.
  bool WatchServer(std::wstring server);

  const std::wstring& Server() const { return server_; }
  // True while neither the registration nor the server's folder has changed.
  bool Unchanged() const {
    HANDLE watches[] = {registrationChanged_.get(), folderChanged_.get()};
    return ::WaitForMultipleObjects(ARRAYSIZE(watches), watches, FALSE, 0) == WAIT_TIMEOUT;
  }

 private:
  VerifiedServer() = default;

  std::wstring server_;
  Strata::UniqueHkey classKey_;  // open while its notification is wanted
  Strata::UniqueHandle registrationChanged_;
  UniqueChangeNotification folderChanged_;
};

std::unique_ptr<VerifiedServer> VerifiedServer::WatchRegistration(REFCLSID clsid) {
  std::unique_ptr<VerifiedServer> watch(new VerifiedServer());
  const std::wstring classKey = L"Software\\Classes\\CLSID\\" + ClassIdText(clsid);
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, classKey.c_str(), 0, KEY_NOTIFY, watch->classKey_.put()) != ERROR_SUCCESS)
    return nullptr;
  watch->registrationChanged_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!watch->registrationChanged_) return nullptr;
  // Where the system knows it (Windows 8 on), the notification outlives the thread that asked for
  // it; elsewhere that thread's end signals it, which costs a full check and no more.
  constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
  for (DWORD filter : {kChanges | REG_NOTIFY_THREAD_AGNOSTIC, kChanges}) {
    if (::RegNotifyChangeKeyValue(watch->classKey_.get(), TRUE, filter, watch->registrationChanged_.get(), TRUE) ==
        ERROR_SUCCESS)
      return watch;
  }
  return nullptr;
}

bool VerifiedServer::WatchServer(std::wstring server) {
  const size_t folderEnd = server.find_last_of(L'\\');
  if (folderEnd == std::wstring::npos || folderEnd == 0) return false;
  const std::wstring folder = server.substr(0, folderEnd);
  folderChanged_.reset(::FindFirstChangeNotificationW(
      folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE));
  server_ = std::move(server);
  return folderChanged_.valid();
}

// The servers this process's checked creations verified, by class, server kind and policy. A
// process creates objects of a handful of classes this way; past the bound the oldest is forgotten,
// which costs its next creation a full check. The lock guards the table and is never held across
// a call out: entries are shared, read-only once remembered, and their watches are looked at
// outside it.
class VerifiedServers {
 public:
  std::shared_ptr<const VerifiedServer> Find(REFCLSID clsid, DWORD kind, UnsignedModules policy) {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [&](const Entry& entry) { return entry.Is(clsid, kind, policy); });
    return found == entries_.end() ? nullptr : found->server;
  }

  void Remember(REFCLSID clsid, DWORD kind, UnsignedModules policy, std::shared_ptr<const VerifiedServer> server) {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    Drop(clsid, kind, policy);
    if (entries_.size() >= kCapacity) entries_.erase(entries_.begin());
    entries_.push_back({clsid, kind, policy, std::move(server)});
  }

  void Forget(REFCLSID clsid, DWORD kind, UnsignedModules policy) {
    std::shared_ptr<const VerifiedServer> closedOutsideTheLock;
    std::lock_guard<Strata::SlimLock> guard(lock_);
    closedOutsideTheLock = Drop(clsid, kind, policy);
  }

 private:
  struct Entry {
    CLSID clsid;
    DWORD kind;
    UnsignedModules policy;
    std::shared_ptr<const VerifiedServer> server;
    bool Is(REFCLSID otherClsid, DWORD otherKind, UnsignedModules otherPolicy) const {
      return ::IsEqualCLSID(clsid, otherClsid) && kind == otherKind && policy == otherPolicy;
    }
  };
  static constexpr size_t kCapacity = 16;

  std::shared_ptr<const VerifiedServer> Drop(REFCLSID clsid, DWORD kind, UnsignedModules policy) {
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [&](const Entry& entry) { return entry.Is(clsid, kind, policy); });
    if (found == entries_.end()) return nullptr;
    std::shared_ptr<const VerifiedServer> dropped = std::move(found->server);
    entries_.erase(found);
    return dropped;
  }

  Strata::SlimLock lock_;
  std::vector<Entry> entries_;
};

VerifiedServers g_verifiedServers;  // at namespace scope, unguarded (see OnceFlag.h)

HRESULT Refuse(REFCLSID clsid, const std::wstring& module, const wchar_t* reason, HRESULT hr) {
  ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction, L"Refusing to create %s from \"%s\": %s [0x%08X]\r\n",
          ClassIdText(clsid).c_str(), module.c_str(), reason, hr);
  return E_ACCESSDENIED;
}

// A proxy's identity is COM's own proxy manager, whose code is the system's COM runtime. An object
// that some module of this process registered under the class is served from that module instead,
// whatever interfaces it claims.
bool IsSystemComProxy(IUnknown* classObject) {
  ComPtr<IUnknown> identity;
  if (FAILED(classObject->QueryInterface(IID_PPV_ARGS(&identity)))) return false;
  HMODULE module = ModuleOfCode(**reinterpret_cast<void* const* const*>(identity.Get()));
  if (!module) return false;
  wchar_t systemFolder[MAX_PATH] = L"";
  UINT chars = ::GetSystemDirectoryW(systemFolder, ARRAYSIZE(systemFolder));
  if (chars == 0 || chars >= ARRAYSIZE(systemFolder)) return false;
  const std::wstring path = ModuleFileName(module);
  for (const wchar_t* runtime : {L"\\ole32.dll", L"\\combase.dll"}) {
    if (::lstrcmpiW(path.c_str(), (std::wstring(systemFolder) + runtime).c_str()) == 0) return true;
  }
  return false;
}

// The server a checked creation of one kind verifies: one verified before, while its watches say
// nothing changed, or else the one the registration names, read under a new watch.
struct ServerToCheck {
  std::wstring path;  // empty when the class has no machine-wide registration of this kind
  bool verifiedBefore = false;
  std::shared_ptr<const VerifiedServer> watch;  // remembered once this server passes; may be null
};

// `pinned` (in process only) receives the verified library when it is loaded: it is pinned before
// the watches are looked at, so that it cannot be unloaded and loaded from another file after the
// look.
ServerToCheck FindServer(REFCLSID clsid, DWORD kind, UnsignedModules unsignedPolicy, Strata::UniqueModule* pinned) {
  if (std::shared_ptr<const VerifiedServer> known = g_verifiedServers.Find(clsid, kind, unsignedPolicy)) {
    if (pinned) ::GetModuleHandleExW(0, known->Server().c_str(), pinned->put());
    if (known->Unchanged()) return {known->Server(), true, nullptr};
    if (pinned) pinned->reset();
    g_verifiedServers.Forget(clsid, kind, unsignedPolicy);
  }
  std::shared_ptr<VerifiedServer> watch = VerifiedServer::WatchRegistration(clsid);
  std::wstring path = RegisteredServerPath(clsid, kind == CLSCTX_INPROC_SERVER ? L"InprocServer32" : L"LocalServer32");
  if (watch && (path.empty() || !watch->WatchServer(path))) watch.reset();
  return {std::move(path), false, std::move(watch)};
}

// In process: the registered library is verified before it is loaded, so a library that fails never
// runs, and the creation method must then be code of that very library. A library verified before
// and still loaded is taken as it is.
HRESULT GetVerifiedInprocFactory(REFCLSID clsid, const std::wstring& library, Strata::UniqueModule& verified,
                                 UnsignedModules unsignedPolicy, SuiteFactory& factory) {
  if (!verified) {
    HRESULT hr = LoadVerifiedLibrary(library.c_str(), verified, unsignedPolicy);
    // The refusal's line, naming the library, is the load's own.
    if (FAILED(hr)) return E_ACCESSDENIED;
  }
  HRESULT hr = factory.Get(clsid, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) return hr;
  const HMODULE creator = ModuleOfCode(factory.CreationMethod());
  if (creator != verified.get()) {
    return Refuse(clsid, creator ? ModuleFileName(creator) : library,
                  L"the class object's creation method is not code of the verified library", E_ACCESSDENIED);
  }
  // COM holds a load of its own for as long as the class's objects need the library.
  return S_OK;
}

// Out of process: the registered executable is verified (unless it was, and nothing changed since),
// and the class object must be COM's proxy to a server, not an object of this process posing as one.
HRESULT GetVerifiedLocalFactory(REFCLSID clsid, const ServerToCheck& server, UnsignedModules unsignedPolicy,
                                SuiteFactory& factory) {
  if (!server.verifiedBefore) {
    HRESULT hr = CheckPublisher(server.path.c_str(), unsignedPolicy);
    if (FAILED(hr)) return Refuse(clsid, server.path, L"the server fails the publisher check", hr);
  }
  HRESULT hr = factory.Get(clsid, CLSCTX_LOCAL_SERVER);
  if (FAILED(hr)) return hr;
  if (!IsSystemComProxy(factory.Object())) {
    HMODULE module = ModuleOfCode(factory.CreationMethod());
    return Refuse(clsid, module ? ModuleFileName(module) : server.path,
                  L"the class object is served in this process, not by the registered server", E_ACCESSDENIED);
  }
  return S_OK;
}

HRESULT GetVerifiedFactory(REFCLSID clsid, DWORD classContext, UnsignedModules unsignedPolicy,
                           SuiteFactory& factory) {
  for (DWORD kind : {DWORD{CLSCTX_INPROC_SERVER}, DWORD{CLSCTX_LOCAL_SERVER}}) {
    if (!(classContext & kind)) continue;
    const bool inProcess = kind == CLSCTX_INPROC_SERVER;
    Strata::UniqueModule library;
    ServerToCheck server = FindServer(clsid, kind, unsignedPolicy, inProcess ? &library : nullptr);
    if (server.path.empty()) continue;
    HRESULT hr = inProcess ? GetVerifiedInprocFactory(clsid, server.path, library, unsignedPolicy, factory)
                           : GetVerifiedLocalFactory(clsid, server, unsignedPolicy, factory);
    if (hr == S_OK && server.watch) g_verifiedServers.Remember(clsid, kind, unsignedPolicy, std::move(server.watch));
    return hr;
  }
  ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction,
          L"No machine-wide registration of %s to verify for class context 0x%X\r\n", ClassIdText(clsid).c_str(),
          classContext);
  return REGDB_E_CLASSNOTREG;
}

}  // namespace

HRESULT CreateInstanceViaFactory(REFCLSID clsid, DWORD classContext, REFIID iid, void** object, CreationForm form,
                                 UnsignedModules unsignedPolicy) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (form == CreationForm::CoCreate) return ::CoCreateInstance(clsid, nullptr, classContext, iid, object);

  return GuardHResult([&] {
    SuiteFactory factory;
    HRESULT hr = form == CreationForm::Checked ? GetVerifiedFactory(clsid, classContext, unsignedPolicy, factory)
                                               : factory.Get(clsid, classContext);
    if (FAILED(hr)) return hr;
    hr = factory.CreateInstance(iid, object);
    // A factory that fails yet leaves something behind must not hand it on.
    if (FAILED(hr)) *object = nullptr;
    return hr;
  });
}

}  // namespace Ky
