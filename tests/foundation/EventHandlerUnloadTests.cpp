// The event handler is loaded into the service's process and unloaded again while the service
// runs. Its diagnostic log registers a trace provider there; once the library is gone, a trace
// controller must find nothing of it to call. The bridge library comes and goes with it, and
// neither may leave memory behind each time.
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>

#include "ProcessFigures.h"
#include "TestSupport.h"
#include "TraceRecorder.h"

namespace {

using ZelTest::TraceRecorder;

TraceRecorder* g_recorder = nullptr;

// The system's provider functions, routed to the recorder for the whole process. The event
// handler carries its own copy of the logging library, which no seam of this process reaches.
ULONG WINAPI RegisterHook(WMIDPREQUEST callback, void* context, LPCGUID control, ULONG, PTRACE_GUID_REGISTRATION guids,
                          LPCWSTR, LPCWSTR, PTRACEHANDLE registration) {
  return g_recorder->RegisterTraceGuids(callback, context, *control, guids, registration);
}
TRACEHANDLE WINAPI LoggerHandleHook(void* buffer) { return g_recorder->GetTraceLoggerHandle(buffer); }
UCHAR WINAPI EnableLevelHook(TRACEHANDLE session) { return g_recorder->GetTraceEnableLevel(session); }
ULONG WINAPI EnableFlagsHook(TRACEHANDLE session) { return g_recorder->GetTraceEnableFlags(session); }
ULONG WINAPI TraceEventHook(TRACEHANDLE session, PEVENT_TRACE_HEADER header) {
  return g_recorder->TraceEvent(session, header);
}
ULONG WINAPI UnregisterHook(TRACEHANDLE registration) { return g_recorder->UnregisterTraceGuids(registration); }

// Overwrites the start of a system function with a jump to a hook (mov rax, imm64; jmp rax), and
// puts the original bytes back when it goes, so that later tests of this process meet the system.
class Redirection {
 public:
  Redirection(const char* name, void* hook)
      : target_(reinterpret_cast<BYTE*>(::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), name))) {
    BYTE jump[kBytes] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};
    memcpy(jump + 2, &hook, sizeof(hook));
    if (target_) memcpy(saved_, target_, kBytes);
    active_ = target_ && Write(jump);
  }
  ~Redirection() {
    if (active_) Write(saved_);
  }
  Redirection(const Redirection&) = delete;
  Redirection& operator=(const Redirection&) = delete;
  bool Active() const { return active_; }

 private:
  static constexpr size_t kBytes = 12;
  bool Write(const BYTE* code) {
    DWORD old = 0;
    if (!::VirtualProtect(target_, kBytes, PAGE_EXECUTE_READWRITE, &old)) return false;
    memcpy(target_, code, kBytes);
    ::VirtualProtect(target_, kBytes, old, &old);
    return ::FlushInstructionCache(::GetCurrentProcess(), target_, kBytes) != 0;
  }
  BYTE* target_;
  BYTE saved_[kBytes] = {};
  bool active_ = false;
};

TEST(EventHandlerUnload, AnEnableRequestAfterUnloadCallsNothingInTheLibrary) {
  TraceRecorder recorder;
  g_recorder = &recorder;
  ::LoadLibraryW(L"advapi32.dll");
  Redirection redirections[] = {
      {"RegisterTraceGuidsW", reinterpret_cast<void*>(&RegisterHook)},
      {"GetTraceLoggerHandle", reinterpret_cast<void*>(&LoggerHandleHook)},
      {"GetTraceEnableLevel", reinterpret_cast<void*>(&EnableLevelHook)},
      {"GetTraceEnableFlags", reinterpret_cast<void*>(&EnableFlagsHook)},
      {"TraceEvent", reinterpret_cast<void*>(&TraceEventHook)},
      {"UnregisterTraceGuids", reinterpret_cast<void*>(&UnregisterHook)},
  };
  for (const Redirection& redirection : redirections) ASSERT_TRUE(redirection.Active());

  HMODULE library = ::LoadLibraryW(ZelTest::SiblingPath(L"zelevh.dll").c_str());
  ASSERT_NE(nullptr, library);
  EXPECT_TRUE(recorder.Registrations().empty()) << "DllMain, under the loader lock, registers nothing";
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(::GetProcAddress(library, "DllGetClassObject"));
  ASSERT_NE(nullptr, getClassObject);
  // The sign-out handler's class: its object's life is logged by the library's module.
  const CLSID signOutHandler = {0x343C9095, 0x4E7B, 0x4417, {0x94, 0x67, 0x1D, 0x63, 0x8D, 0x2D, 0xE2, 0x68}};
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, getClassObject(signOutHandler, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  ASSERT_EQ(1u, recorder.Registrations().size()) << "the library's first message registers its provider";
  ASSERT_EQ(0u, recorder.Enable(0x99, 1)) << "a session enables it at every level";
  IUnknown* handler = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&handler)));
  handler->Release();
  factory->Release();

  ASSERT_TRUE(::FreeLibrary(library));
  ASSERT_EQ(nullptr, ::GetModuleHandleW(L"zelevh.dll")) << "the library really went";
  bool saidGoodbye = false;
  for (const TraceRecorder::Event& event : recorder.Events())
    saidGoodbye |= event.session == 0x99 && event.payload.size() > 0;
  EXPECT_TRUE(saidGoodbye) << "the session received the library's messages";
  EXPECT_EQ(std::vector<TRACEHANDLE>{recorder.Registrations()[0].handle}, recorder.Unregistrations());
  EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_HANDLE), recorder.Enable(0x99, 1)) << "no registration left to call";
  g_recorder = nullptr;
}

// The C++ runtime in each library keeps a reserve for exceptions (some 70 KB) that it takes at load
// and never gives back unless the library does. Without that, 40 reloads leave almost 3 MB behind.
TEST(LibraryUnload, ReloadingTheLibrariesLeavesNoMemoryBehind) {
  constexpr int kWarmUp = 5;
  constexpr int kReloads = 40;
  constexpr size_t kAllowedGrowth = 512 * 1024;
  for (const wchar_t* name : {L"zelevh.dll", L"ZelTARN.dll"}) {
    const std::wstring path = ZelTest::SiblingPath(name);
    auto reload = [&] {
      HMODULE library = ::LoadLibraryW(path.c_str());
      ASSERT_NE(nullptr, library) << ::GetLastError();
      using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
      auto canUnload = reinterpret_cast<CanUnloadFn>(::GetProcAddress(library, "DllCanUnloadNow"));
      ASSERT_NE(nullptr, canUnload);
      EXPECT_EQ(S_OK, canUnload());
      ASSERT_TRUE(::FreeLibrary(library));
      ASSERT_EQ(nullptr, ::GetModuleHandleW(name)) << "something else keeps " << name;
    };
    for (int i = 0; i < kWarmUp; ++i) ASSERT_NO_FATAL_FAILURE(reload());
    const size_t before = ZelStandIns::PrivateBytesOfThisProcess();
    for (int i = 0; i < kReloads; ++i) ASSERT_NO_FATAL_FAILURE(reload());
    const size_t after = ZelStandIns::PrivateBytesOfThisProcess();
    ASSERT_NE(0u, before);
    EXPECT_LE(after, before + kAllowedGrowth) << name << " grew by " << (after - before) / 1024 << " KB";
  }
}

}  // namespace
