// Lines per second through the file back end, against a floor measured in the same run: one
// WriteFile of the same bytes per line to a file that is already open. Then what each system call
// a line could make costs against that floor, to show where the time of a line goes: a line makes
// GetLocalTime, GetFileSizeEx and WriteFile under the line lock; the named mutex is taken, and the
// INI and the file are opened, only when the held file is full.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "Handles.h"
#include "LogLine.h"
#include "LogLineLock.h"
#include "LogTestSupport.h"
#include "Logging.h"

namespace {

constexpr int kLines = 3000;

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Body>
double LinesPerSecond(Body body) {
  LARGE_INTEGER start, end;
  ::QueryPerformanceCounter(&start);
  for (int i = 0; i < kLines; ++i) body(i);
  ::QueryPerformanceCounter(&end);
  return kLines / Seconds(start, end);
}

}  // namespace

int main() {
  ZelTest::TempFolder folder;
  const std::wstring& root = folder.Path();
  ZelTest::FakeShell shell(root);
  ETWLogging::CLogging logger(shell);
  if (logger.Initialize(L"Bench", nullptr, nullptr, nullptr) != 0) return 1;
  const wchar_t* text = L"Processed an event for session 1 with result 0x00020000";
  double logged = LinesPerSecond([&](int) { logger.LogText(L"FileLogBench", L"main", 1, 4, text); });

  SYSTEMTIME now;
  ::GetLocalTime(&now);
  std::wstring line = ETWLogging::FormatLogLine({now, 4, 16, L"FileLogBench.exe", 0, 0, L"", 0, L"", text});
  Strata::UniqueFile floorFile(::CreateFileW((root + L"\\floor.log").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, 0, nullptr));
  DWORD bytes = static_cast<DWORD>(line.size() * sizeof(wchar_t)), written = 0;
  double floor = LinesPerSecond([&](int) { ::WriteFile(floorFile.get(), line.data(), bytes, &written, nullptr); });

  printf("file back end: %.0f lines/s\n", logged);
  printf("floor (one WriteFile per line to an open file): %.0f lines/s\n", floor);
  printf("ratio floor/back end: %.1f\n", floor / logged);

  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, nullptr);
  ETWLogging::LogLineLock lineLock(L"FileLogBenchProbe", mutex);
  std::wstring probe = root + L"\\probe.log";
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  LARGE_INTEGER size;
  SYSTEMTIME time;
  struct Operation {
    const char* name;
    double perSecond;
  } operations[] = {
      {"GetLocalTime", LinesPerSecond([&](int) { ::GetLocalTime(&time); })},
      {"GetFileSizeEx on the open file", LinesPerSecond([&](int) { ::GetFileSizeEx(floorFile.get(), &size); })},
      {"wait for and release a mutex", LinesPerSecond([&](int) {
         ::WaitForSingleObject(mutex, INFINITE);
         ::ReleaseMutex(mutex);
       })},
      {"take and release the line lock", LinesPerSecond([&](int) { lineLock.Acquire(INFINITE); })},
      {"GetFileAttributesExW by path", LinesPerSecond([&](int) {
         ::GetFileAttributesExW(probe.c_str(), GetFileExInfoStandard, &attributes);
       })},
      {"CreateFileW + CloseHandle", LinesPerSecond([&](int) {
         ::CloseHandle(::CreateFileW(probe.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, 0, nullptr));
       })},
  };
  printf("cost of one call against the floor:\n");
  for (const Operation& operation : operations) printf("  %-32s %7.1f\n", operation.name, floor / operation.perSecond);
  ::CloseHandle(mutex);
  logger.Uninitialize();
  floorFile.reset();
  return 0;
}
