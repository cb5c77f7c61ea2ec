// Records per second through one ZelLogger, against writing the same record straight through
// IKyReportLog, into the report log served in this process and from its own server process,
// measured in one run. Each pair is interleaved round by round; the ratios are the result, the
// absolute rates are this machine's. The stand-in runs with its "MemoryOnly" knob, so that its
// registry store does not dominate both sides: what is measured is the writer's own cost.
//
// The end-to-end line compares records per second from a keyword event raised in the service
// stand-in's process (GSEventLoad, one thread) to the record the report log's server received,
// through zelevh, its logging thread and ZelTARN, against direct out-of-process writes of the same
// record. The event process's own start and end are measured with bindings of no product and taken
// off.
//
// Run it where scripts/prefix installed the product and the platform:
//   scripts/prefix /tmp/bench && scripts/wine-run --prefix /tmp/bench build/bin/ReportLogBench.exe
#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <wrl/client.h>

#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyLogInfoEvent.h"
#include "TarnRecordContext.h"
#include "ZelLogger.h"

namespace {

using Microsoft::WRL::ComPtr;
using Clock = std::chrono::steady_clock;

constexpr int kRecordsPerRound = 2000;
constexpr int kRounds = 5;
constexpr long kEventType = 3;
constexpr DWORD kSession = 1;
constexpr wchar_t kPage[] = L"http://www.example.com/chat";
constexpr wchar_t kPattern[] = L"forbidden*";
const std::wstring kPlatform = L"C:\\Program Files\\Common Files\\Varant\\Platform\\";
const std::wstring kProduct = L"C:\\Program Files\\Varant\\ZEL\\";

constexpr wchar_t kStandInKey[] = L"Software\\ZelStandIns\\ReportLog";

// Every report-log object made while this lives counts records in memory instead of storing them.
class MemoryOnlyStandIn {
 public:
  MemoryOnlyStandIn() {
    const DWORD on = 1;
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kStandInKey, L"MemoryOnly", REG_DWORD, &on, sizeof(on));
  }
  ~MemoryOnlyStandIn() { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kStandInKey, L"MemoryOnly"); }
  MemoryOnlyStandIn(const MemoryOnlyStandIn&) = delete;
  MemoryOnlyStandIn& operator=(const MemoryOnlyStandIn&) = delete;
};

// Seconds for `count` calls of `write`; a failed write ends the run.
template <typename Write>
double Measure(int count, Write write) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (FAILED(write())) {
      std::fprintf(stderr, "a write failed\n");
      std::exit(1);
    }
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The logger's rate divided by the direct rate, for one way of serving the report log.
void Compare(const char* name, DWORD classContext) {
  auto createReportLog = [classContext](IKyReportLog** reportLog) {
    return Ky::CreateInstanceViaFactory(CLSID_KyReportLog, classContext, IID_IKyReportLog,
                                        reinterpret_cast<void**>(reportLog));
  };
  ComPtr<IZelLogger> logger;
  ComPtr<IKyReportLog> direct;
  if (FAILED(CZelLogger::CreateWithReportLog(createReportLog, IID_IZelLogger, &logger)) ||
      FAILED(createReportLog(&direct))) {
    std::fprintf(stderr, "%s: the report log cannot be created\n", name);
    std::exit(1);
  }
  Strata::UniqueBstr page(::SysAllocString(kPage));
  Strata::UniqueBstr pattern(::SysAllocString(kPattern));
  // The direct writer builds the same record each time, as the logger does.
  CTarnUserHelper users;
  CTarnRecordContext context(users);

  double loggerSeconds = 0;
  double directSeconds = 0;
  for (int round = 0; round < kRounds; ++round) {
    loggerSeconds += Measure(kRecordsPerRound, [&] {
      LONG type = kEventType;
      LONG result = 0;
      return logger->LogEvent(&type, page.get(), pattern.get(), kSession, &result);
    });
    directSeconds += Measure(kRecordsPerRound, [&] {
      CKyLogInfoWebEvent record(context, kEventType, kPage, kPattern, kSession);
      LONG result = 0;
      return direct->Write(&record.Info(), &result);
    });
  }
  const double records = static_cast<double>(kRecordsPerRound) * kRounds;
  std::printf("%-15s logger %8.0f records/s, direct %8.0f records/s, ratio %.2f\n", name, records / loggerSeconds,
              records / directSeconds, directSeconds / loggerSeconds);
}

// Seconds the service stand-in's process takes to raise `count` keyword events to the handlers
// `product` binds and to end, which it does once the product's libraries have let go: once every
// record was written.
double RaiseInServiceProcess(const wchar_t* product, int count) {
  std::wstring command = L"\"" + kProduct + L"GSEventLoad.exe\" --threads 1 --count " + std::to_wstring(count) +
                         L" KeywordBlocked product=" + product + L" pid=self content=0 pattern=" + kPattern +
                         L" url=" + kPage;
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  const Clock::time_point start = Clock::now();
  if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
    std::fprintf(stderr, "GSEventLoad cannot be started\n");
    std::exit(1);
  }
  Strata::UniqueHandle processHandle(process.hProcess);
  Strata::UniqueHandle threadHandle(process.hThread);
  ::WaitForSingleObject(processHandle.get(), INFINITE);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void CompareEndToEnd() {
  ComPtr<IKyReportLog> direct;
  if (FAILED(Ky::CreateInstanceViaFactory(CLSID_KyReportLog, CLSCTX_LOCAL_SERVER, IID_IKyReportLog,
                                          reinterpret_cast<void**>(direct.GetAddressOf())))) {
    std::fprintf(stderr, "end to end: the report log cannot be created\n");
    std::exit(1);
  }
  CTarnUserHelper users;
  CTarnRecordContext context(users);
  double endToEndSeconds = 0;
  double directSeconds = 0;
  for (int round = 0; round < kRounds; ++round) {
    endToEndSeconds += RaiseInServiceProcess(L"ZEL", kRecordsPerRound) - RaiseInServiceProcess(L"NONE", kRecordsPerRound);
    directSeconds += Measure(kRecordsPerRound, [&] {
      CKyLogInfoWebEvent record(context, kEventType, kPage, kPattern, kSession);
      LONG result = 0;
      return direct->Write(&record.Info(), &result);
    });
  }
  const double records = static_cast<double>(kRecordsPerRound) * kRounds;
  std::printf("%-15s events %8.0f records/s, direct %8.0f records/s, ratio %.2f\n", "end to end",
              records / endToEndSeconds, records / directSeconds, directSeconds / endToEndSeconds);
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  MemoryOnlyStandIn memoryOnly;
  Compare("out-of-process", CLSCTX_LOCAL_SERVER);
  CompareEndToEnd();
  // The platform's registration the other way round, for the in-process pair; then back again.
  Strata::UniqueModule inProcess(::LoadLibraryW((kPlatform + L"KyReportLog.dll").c_str()));
  auto registerServer =
      inProcess ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(inProcess.get(), "DllRegisterServer"))
                : nullptr;
  if (!registerServer || FAILED(registerServer())) {
    std::fprintf(stderr, "the in-process report log cannot be registered\n");
    return 1;
  }
  Compare("in-process", CLSCTX_INPROC_SERVER);
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  std::wstring restore = L"\"" + kPlatform + L"KyReportLogServer.exe\" /RegServer";
  if (::CreateProcessW(nullptr, &restore[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    Strata::UniqueHandle processHandle(process.hProcess);
    Strata::UniqueHandle threadHandle(process.hThread);
    ::WaitForSingleObject(processHandle.get(), 30000);
  }
  ::CoUninitialize();
  return 0;
}
