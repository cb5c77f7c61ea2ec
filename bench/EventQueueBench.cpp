// What one content event costs the service thread that raises it: one OnKeywordBlockedEvent on an
// HTTP event, through the handler object the service would hold, against two floors measured in
// this one process, interleaved round by round:
// - one allocation, two SysAllocString and one PostThreadMessage to a thread that frees what it
//   receives;
// - the same with the session lookup of the raising process made as the handler must make it, on
//   the caller's thread (open the process, its token, read the token's session, close both), since
//   the process may be gone by the time the logging thread would look.
// Then what each step of the handler's path costs against the first floor, so that the gap has
// names. The ratios are the result, the absolute times are this machine's.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#include <wrl/client.h>

#include "ComObject.h"
#include "KyClassFactory.h"
#include "KyGSEvents.h"
#include "LogInstance.h"
#include "ObjectMap.h"
#include "SlimLock.h"
#include "TypelessDispatch.h"
#include "ZELEventHandlerModule.h"
#include "ZelEventHandler.h"

namespace {

constexpr int kEventsPerRound = 20000;
constexpr int kRounds = 5;
wchar_t kUrl[] = L"http://www.example.com/search?q=forbidden+words&lang=en";
wchar_t kPattern[] = L"forbidden*";
// {5D0F4A61-8C3B-4E7A-9E52-0B7C2E1A9F30}: served by this program only, through CoRegisterClassObject.
constexpr CLSID kBenchLoggerClass = {0x5d0f4a61, 0x8c3b, 0x4e7a, {0x9e, 0x52, 0x0b, 0x7c, 0x2e, 0x1a, 0x9f, 0x30}};

// Items the logging thread and the floor's thread have finished with: a round starts only once the
// last one's items are gone, so that no round pays for draining another's.
std::atomic<long> g_logged{0};
std::atomic<long> g_floorFreed{0};

void WaitUntil(const std::atomic<long>& done, long expected) {
  while (done.load() < expected) ::Sleep(1);
}

// A logger that accepts everything at once, so the worker drains the queue as fast as it can.
class NullLogger final : public Ky::ComObject<Ky::NoModuleLock, Ky::TypelessDispatch<IZelLogger>> {
 public:
  STDMETHODIMP LogInfoUser(long*, BSTR, BSTR, long* result) override { return Accept(result); }
  STDMETHODIMP LogBlockingFeature(long, long*, long* result) override { return Accept(result); }
  STDMETHODIMP LogWebsite(long*, long*, BSTR, long* result) override { return Accept(result); }
  STDMETHODIMP LogPersonalInfo(long*, BSTR, long* result) override { return Accept(result); }
  STDMETHODIMP LogKeyword(BSTR, BSTR, long* result) override { return Accept(result); }
  STDMETHODIMP LogEvent(long*, BSTR, BSTR, ULONG, long* result) override {
    ++g_logged;
    return Accept(result);
  }
  STDMETHODIMP LogInetTimeLimit(BSTR, VARIANT, VARIANT, VARIANT, long* result) override { return Accept(result); }

 private:
  static HRESULT Accept(long* result) {
    *result = 0;
    return S_OK;
  }
};

// Lives for the whole program, which keeps its creation reference.
class NullLoggerFactory : public Ky::ComObject<Ky::NoModuleLock, IKyClassFactory> {
 public:
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override {
    return NullLogger::CreateInstance<NullLogger>(iid, reinterpret_cast<void**>(object));
  }
};

// The floor's receiving side: frees each item as the logging thread would.
struct FloorItem {
  long eventType;
  BSTR webPage;
  BSTR content;
  unsigned long session;
};

void DrainFloor(std::atomic<DWORD>* threadId) {
  MSG message;
  ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  *threadId = ::GetCurrentThreadId();
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    auto* item = reinterpret_cast<FloorItem*>(message.wParam);
    ::SysFreeString(item->webPage);
    ::SysFreeString(item->content);
    delete item;
    ++g_floorFreed;
  }
}

// The session of a process through the calls the handler makes, with nothing logged.
DWORD LookUpSession(DWORD processId) {
  DWORD session = 0xFFFFFFFF;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
  if (!process) return session;
  HANDLE token = nullptr;
  if (::OpenProcessToken(process, TOKEN_QUERY, &token)) {
    DWORD bytes = 0;
    ::GetTokenInformation(token, TokenSessionId, &session, sizeof(session), &bytes);
    ::CloseHandle(token);
  }
  ::CloseHandle(process);
  return session;
}

template <typename Call>
double NanosecondsPerCall(Call call) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kEventsPerRound; ++i) call();
  std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / kEventsPerRound;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  // Nothing is written to the diagnostic log, so neither side pays for it.
  GetLogInstance()->SetLogger(nullptr);
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  NullLoggerFactory factory;
  DWORD registration = 0;
  if (FAILED(::CoRegisterClassObject(kBenchLoggerClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                     &registration))) {
    std::printf("Could not register the bench logger class\n");
    return 1;
  }

  LoggingThreadSettings settings;
  settings.loggerClass = kBenchLoggerClass;
  // Every event of a round is queued, as every floor item is posted: none is refused for a full queue.
  settings.maxQueuedItems = 2 * kEventsPerRound;
  g_module.SetLoggingThreadSettings(settings);
  // The handler object holds the module, and so the logging thread, for as long as it lives.
  Microsoft::WRL::ComPtr<IClassFactory> classObject;
  Microsoft::WRL::ComPtr<IKyGSKeywordBlockedEvent> handler;
  if (FAILED(GetEventHandlerClassObject(CLSID_GSKeywordBlockedEventHandler, IID_PPV_ARGS(&classObject))) ||
      FAILED(classObject->CreateInstance(nullptr, IID_PPV_ARGS(&handler)))) {
    std::printf("Could not create the keyword handler\n");
    return 1;
  }
  KYGS_KEYWORD_DETAILS details{::GetCurrentProcessId(), KyGS_Content_Http, kPattern, kUrl};

  std::atomic<DWORD> floorThreadId{0};
  std::thread floorThread(DrainFloor, &floorThreadId);
  while (floorThreadId == 0) ::Sleep(1);

  const DWORD processId = ::GetCurrentProcessId();
  auto postFloorItem = [&](unsigned long session) {
    auto* item = new FloorItem{LogEvent_Keyword, ::SysAllocString(kUrl), ::SysAllocString(kPattern), session};
    ::PostThreadMessageW(floorThreadId, WM_LOG_EVENT, reinterpret_cast<WPARAM>(item), 0);
  };
  std::vector<double> eventCalls;
  std::vector<double> floor;
  std::vector<double> floorWithLookup;
  for (int round = 1; round <= kRounds; ++round) {
    eventCalls.push_back(NanosecondsPerCall([&] { handler->OnKeywordBlockedEvent(&details); }));
    WaitUntil(g_logged, round * kEventsPerRound);
    floor.push_back(NanosecondsPerCall([&] { postFloorItem(1); }));
    WaitUntil(g_floorFreed, (2 * round - 1) * kEventsPerRound);
    floorWithLookup.push_back(NanosecondsPerCall([&] { postFloorItem(LookUpSession(processId)); }));
    WaitUntil(g_floorFreed, 2 * round * kEventsPerRound);
  }

  // Each step of the handler's path on its own, against the first floor.
  volatile bool enabled = false;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
  HANDLE token = nullptr;
  ::OpenProcessToken(process, TOKEN_QUERY, &token);
  Strata::SlimLock lock;
  std::atomic<long> counter{0};
  const std::pair<const char*, double> steps[] = {
      {"LogIsEnabled of a disabled level", NanosecondsPerCall([&] { enabled = LogIsEnabled(ETWLogging::kLevelNormal); })},
      {"OpenProcess + CloseHandle", NanosecondsPerCall([&] {
         ::CloseHandle(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
       })},
      {"OpenProcessToken + CloseHandle", NanosecondsPerCall([&] {
         HANDLE opened = nullptr;
         if (::OpenProcessToken(process, TOKEN_QUERY, &opened)) ::CloseHandle(opened);
       })},
      {"GetTokenInformation(TokenSessionId)", NanosecondsPerCall([&] {
         DWORD session = 0, bytes = 0;
         ::GetTokenInformation(token, TokenSessionId, &session, sizeof(session), &bytes);
       })},
      {"the whole session lookup", NanosecondsPerCall([&] { LookUpSession(processId); })},
      {"getSessionIdFromPID", NanosecondsPerCall([&] { CZELEventHandlerModule::getSessionIdFromPID(processId); })},
      {"a slim lock taken shared and let go", NanosecondsPerCall([&] {
         lock.lock_shared();
         lock.unlock_shared();
       })},
      {"an interlocked exchange", NanosecondsPerCall([&] { counter.exchange(0); })},
      {"QueueEvent of a looked-up event", NanosecondsPerCall([&] {
         g_module.QueueEvent(LogEvent_Keyword, kUrl, kPattern, 1);
       })},
  };
  ::CloseHandle(token);
  ::CloseHandle(process);

  ::PostThreadMessageW(floorThreadId, WM_QUIT, 0, 0);
  floorThread.join();
  handler.Reset();
  classObject.Reset();
  ::CoRevokeClassObject(registration);
  ::CoUninitialize();

  double eventCost = Median(eventCalls);
  double floorCost = Median(floor);
  double lookupFloorCost = Median(floorWithLookup);
  std::printf("OnKeywordBlockedEvent (HTTP): %.0f ns per event\n", eventCost);
  std::printf("Floor (new + 2 SysAllocString + PostThreadMessage): %.0f ns per event\n", floorCost);
  std::printf("Floor with the session lookup (+ OpenProcess, OpenProcessToken, GetTokenInformation, 2 CloseHandle): "
              "%.0f ns per event\n",
              lookupFloorCost);
  std::printf("Ratio: %.2f (median of %d rounds of %d events)\n", eventCost / floorCost, kRounds, kEventsPerRound);
  std::printf("Ratio with the session lookup: %.2f\n", eventCost / lookupFloorCost);
  std::printf("cost of one step against the first floor:\n");
  for (const auto& step : steps) std::printf("  %-38s %6.2f\n", step.first, step.second / floorCost);
  return 0;
}
