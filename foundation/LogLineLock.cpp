#include "LogLineLock.h"

#include "LogLock.h"

namespace ETWLogging {
namespace {

// System and administrators: everything. Everyone else: map it for reading and writing, so that
// every user's process of the module shares the one word.
constexpr wchar_t kSectionAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0006;;;WD)";
constexpr DWORD kSectionBytes = 4096;
// How long a waiter spins before it yields, and how often it asks whether the holder still lives.
constexpr unsigned kSpins = 64;
constexpr ULONGLONG kOwnerCheckMs = 20;

Strata::UniqueHandle OpenSection(const std::wstring& name) {
  Strata::UniqueLocalMem descriptor = DescriptorFromSddl(kSectionAccess);
  if (!descriptor) return Strata::UniqueHandle();
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
  const std::wstring global = L"Global\\" + name;
  Strata::UniqueHandle section(
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, kSectionBytes, global.c_str()));
  if (!section) section.reset(::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, global.c_str()));
  return section;
}

bool ProcessHasEnded(DWORD processId) {
  if (processId == ::GetCurrentProcessId()) return false;
  Strata::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  // A process of another user may not be opened; it is taken to be alive.
  if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace

std::wstring LogLineLock::SectionName(const std::wstring& moduleBaseName) {
  return LogMutexName(moduleBaseName) + L"_Lines";
}

LogLineLock::LogLineLock(const std::wstring& moduleBaseName, HANDLE fallback) : fallback_(fallback) {
  section_ = OpenSection(SectionName(moduleBaseName));
  if (!section_) return;
  void* view = ::MapViewOfFile(section_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(int64_t));
  if (!view) section_.reset();
  word_ = static_cast<volatile int64_t*>(view);
}

LogLineLock::~LogLineLock() {
  if (word_) ::UnmapViewOfFile(const_cast<int64_t*>(word_));
}

LogLineLock::Held::~Held() {
  if (lock_) lock_->Release(value_);
}

bool LogLineLock::TryTake(int64_t expected, int64_t* taken) noexcept {
  *taken = OwnerValue(::GetCurrentProcessId(), ::GetCurrentThreadId());
  return ::InterlockedCompareExchange64(word_, *taken, expected) == expected;
}

void LogLineLock::Release(int64_t taken) noexcept {
  // A holder replaced after its time-out leaves the word to its replacement.
  ::InterlockedCompareExchange64(word_, 0, taken);
}

LogLineLock::Held LogLineLock::Acquire(DWORD timeoutMs) {
  Held held;
  if (!word_) {
    held.mutex_ = Strata::AcquireMutex(fallback_, timeoutMs);
    return held;
  }
  const ULONGLONG start = ::GetTickCount64();
  ULONGLONG nextOwnerCheck = start + kOwnerCheckMs;
  for (unsigned attempt = 0;; ++attempt) {
    if (TryTake(0, &held.value_)) break;
    const int64_t owner = *word_;
    const ULONGLONG now = ::GetTickCount64();
    if (owner != 0 && now >= nextOwnerCheck) {
      nextOwnerCheck = now + kOwnerCheckMs;
      if ((ProcessHasEnded(static_cast<DWORD>(static_cast<uint64_t>(owner) >> 32)) || now - start >= timeoutMs) &&
          TryTake(owner, &held.value_))
        break;
    }
    if (attempt < kSpins) {
      YieldProcessor();
    } else {
      ::Sleep(attempt < 4 * kSpins ? 0 : 1);
    }
  }
  held.lock_ = this;
  return held;
}

}  // namespace ETWLogging
