// What a stand-in's COM object holds of its serving module (an in-process library or a local
// server): the classes that keep it alive derive from ServerObject, the others from ComObject.
#pragma once

#include <windows.h>

#include "ComObject.h"

namespace ZelStandIns {

// Keeps the serving module alive while an object lives. Each module defines these two in its own
// module file.
void LockServer() noexcept;
void UnlockServer() noexcept;

struct ServerLock {
  static void Lock() noexcept { LockServer(); }
  static void Unlock() noexcept { UnlockServer(); }
};

// `First` also answers IUnknown. Every interface needs a __uuidof (widl headers declare one).
template <typename First, typename... Others>
using ComObject = Ky::ComObject<Ky::NoModuleLock, First, Others...>;
template <typename First, typename... Others>
using ServerObject = Ky::ComObject<ServerLock, First, Others...>;

// One hold on the serving module, for a class whose base holds none.
struct ServerReference {
  ServerReference() noexcept { LockServer(); }
  ~ServerReference() { UnlockServer(); }
  ServerReference(const ServerReference&) = delete;
  ServerReference& operator=(const ServerReference&) = delete;
};

}  // namespace ZelStandIns
