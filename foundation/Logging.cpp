#include "Logging.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdarg>
#include <new>

#include "FormatText.h"
#include "LogLine.h"
#include "LogLock.h"
#include "LogPaths.h"
#include "ModuleFileName.h"
#include "SlimLock.h"

namespace ETWLogging {
namespace {

constexpr wchar_t kConfigSection[] = L"Config";
constexpr wchar_t kLastLogIdx[] = L"LastLogIdx";
constexpr DWORD kSilencedThreshold = 10000;
constexpr WCHAR kByteOrderMark = 0xFEFF;

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

std::wstring WithoutExtension(const std::wstring& fileName) {
  size_t dot = fileName.find_last_of(L'.');
  return dot == std::wstring::npos ? fileName : fileName.substr(0, dot);
}

DWORD WriteAll(HANDLE file, const void* data, DWORD bytes) {
  DWORD written = 0;
  if (!::WriteFile(file, data, bytes, &written, nullptr)) return ::GetLastError();
  return written == bytes ? 0 : ERROR_WRITE_FAULT;
}

}  // namespace

struct CLogging::ConfigKey {
  const wchar_t* name;
  DWORD defaultValue;
  DWORD lowest;
  DWORD highest;
  void (CLogging::*apply)(DWORD);
};

// The size and count go through their limiting setters; "Severity" is kept as read, so 0 lets
// every level through.
const CLogging::ConfigKey CLogging::kConfigKeys[] = {
    {L"Enable", 1, 0, MAXDWORD, &CLogging::StoreEnable},
    {L"MaxSize", kDefaultMaxSize, kDefaultMaxSize, kLargestMaxSize, &CLogging::SetMaxSize},
    {L"MaxEntries", kDefaultMaxEntries, kFewestEntries, kMostEntries, &CLogging::SetMaxEntries},
    {L"Severity", kDefaultSeverity, 0, 6, &CLogging::StoreSeverity},
    {L"Options", kDefaultOptions, 0, MAXDWORD, &CLogging::StoreOptions},
};

CLogging::CLogging(Strata::ShlObjAPI& shell) : shell_(shell) { PublishLevels(); }

CLogging::~CLogging() = default;

void CLogging::SetMaxEntries(DWORD entries) { maxEntries_ = std::clamp(entries, kFewestEntries, kMostEntries); }

void CLogging::SetMaxSize(DWORD bytes) { maxSize_ = std::clamp(bytes, kDefaultMaxSize, kLargestMaxSize); }

void CLogging::SetSeverity(DWORD level) {
  severity_ = std::clamp<DWORD>(level, kLevelNormal, kLevelInformation6);
  PublishLevels();
}

bool CLogging::IsLevelEnabled(DWORD level) const { return enabled_ && level >= severity_; }

void CLogging::PublishLevels() const {
  levels_.Publish([this] { return LevelGate::LevelsOf([this](DWORD level) { return IsLevelEnabled(level); }); });
}

std::wstring CLogging::LogFolderPath() const {
  std::lock_guard<Strata::SlimLock> lock(guard_);
  return logFolder_;
}

DWORD CLogging::GetLogRootFolder(wchar_t* buffer, size_t capacity) {
  std::wstring folder;
  if (!buffer || GetProgramDataFolder(shell_, &folder) != kLogOk || folder.size() >= capacity)
    return kLogInvalidParameter;
  wcscpy(buffer, folder.c_str());
  return kLogOk;
}

DWORD CLogging::Initialize(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                           LoggingConfigListenerIf*) {
  std::lock_guard<Strata::SlimLock> lock(guard_);
  if (initialized_) return kLogAlreadyInitialized;
  DWORD result;
  try {
    result = InitializeLocked(group, module, hostSuffix);
  } catch (const std::bad_alloc&) {
    result = kLogOutOfMemory;
  }
  if (result != kLogOk) ResetToDefaults();
  return result;
}

DWORD CLogging::InitializeLocked(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix) {
  if ((group && !*group) || (hostSuffix && !*hostSuffix)) return kLogInvalidParameter;
  hasGroup_ = group != nullptr;
  group_ = group ? group : L"";

  std::wstring executable = Strata::ModuleFileName(nullptr);
  moduleBaseName_ = WithoutExtension(FileNameOf(executable));
  if (moduleBaseName_.empty()) return kLogOutOfMemory;

  mutex_ = OpenLogMutex(moduleBaseName_);
  if (!mutex_) return ::GetLastError();
  lineLock_ = std::make_unique<LogLineLock>(moduleBaseName_, mutex_.get());

  moduleFileName_ = FileNameOf(module ? std::wstring(module) : executable);
  hasHostSuffix_ = hostSuffix != nullptr;
  hostSuffix_ = hostSuffix ? hostSuffix : L"";

  wchar_t root[MAX_PATH];
  DWORD rootResult = GetLogRootFolder(root, MAX_PATH);
  if (rootResult != kLogOk) return rootResult;
  logBase_ = LogBaseFolder(root);
  logFolder_ = LogFolder(root, group_, moduleBaseName_);

  Strata::MutexLock crossProcess = Strata::AcquireMutex(mutex_.get(), kMutexWaitMs);
  bool moduleIniExists = moduleIni_.Load(ModuleIniPath(logFolder_).c_str());
  bool sharedIniExists = sharedIni_.Load(SharedIniPath(root).c_str());
  if (moduleIniExists || sharedIniExists) LoadConfiguration();
  processId_ = ::GetCurrentProcessId();
  initialized_ = true;
  return kLogOk;
}

void CLogging::LoadConfiguration() {
  for (const ConfigKey& key : kConfigKeys) LoadConfigKey(key);
}

void CLogging::LoadConfigKey(const ConfigKey& key) {
  auto valid = [&key](DWORD value) { return value >= key.lowest && value <= key.highest; };
  auto apply = [this, &key](DWORD value) { (this->*key.apply)(value); };

  DWORD value = 0;
  if (moduleIni_.ReadDword(kConfigSection, key.name, &value)) {
    if (valid(value)) return apply(value);
    if (!moduleIni_.WriteDword(kConfigSection, key.name, key.defaultValue)) return;
  }
  if (!sharedIni_.ReadDword(kConfigSection, key.name, &value)) return apply(key.defaultValue);
  if (valid(value)) return apply(value);
  if (sharedIni_.WriteDword(kConfigSection, key.name, key.defaultValue)) apply(key.defaultValue);
}

DWORD CLogging::Uninitialize() {
  Strata::UniqueHandle retiredMutex;  // closed only after the lock below has released it
  std::lock_guard<Strata::SlimLock> lock(guard_);
  Strata::MutexLock crossProcess = Strata::AcquireMutex(mutex_.get(), kMutexWaitMs);
  if (!initialized_) return kLogNotInitialized;
  retiredMutex = std::move(mutex_);
  ResetToDefaults();
  return kLogOk;
}

void CLogging::ResetToDefaults() {
  initialized_ = false;
  hasGroup_ = false;
  group_.clear();
  hasHostSuffix_ = false;
  hostSuffix_.clear();
  moduleBaseName_.clear();
  moduleFileName_.clear();
  logBase_.clear();
  logFolder_.clear();
  processId_ = 0;
  lineLock_.reset();
  mutex_.reset();
  writeCheck_ = WriteCheck::NotRun;
  lastIndex_ = 0;
  current_.reset();
  enabled_ = true;
  severity_ = kDefaultSeverity;
  PublishLevels();
  options_ = kDefaultOptions;
  maxSize_ = kDefaultMaxSize;
  maxEntries_ = kDefaultMaxEntries;
  refCount_ = 0;
}

DWORD CLogging::LogFormat(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                          const wchar_t* format, ...) {
  if (!IsLevelEnabled(level)) return kLogOk;
  va_list args;
  va_start(args, format);
  DWORD result = FormatAndLog(level, sourceFile, function, line, format, args);
  va_end(args);
  return result;
}

// A folder that cannot be created would fail every write at the cost of a file-system call each
// time; the logger switches itself off for the life of the process instead.
bool CLogging::CanWrite() {
  if (writeCheck_ == WriteCheck::NotRun) {
    writeCheck_ = CreateLogFolder(logBase_, logFolder_) ? WriteCheck::Passed : WriteCheck::Failed;
    if (writeCheck_ == WriteCheck::Failed) {
      enabled_ = false;
      severity_ = kSilencedThreshold;
      PublishLevels();
    }
  }
  return writeCheck_ == WriteCheck::Passed;
}

DWORD CLogging::LogText(const wchar_t* sourceFile, const wchar_t* function, int line, DWORD level,
                        const wchar_t* text) {
  if (!text || !*text) return kLogInvalidParameter;
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  std::wstring formatted;
  std::lock_guard<Strata::SlimLock> lock(guard_);
  if (!initialized_) return kLogInvalidParameter;
  try {
    formatted = FormatLogLine({now, level, options_, moduleFileName_.c_str(), processId_, ::GetCurrentThreadId(),
                               sourceFile, line, function, text});
  } catch (const std::bad_alloc&) {
    return kLogOutOfMemory;
  }
  if (formatted.empty()) return kLogInvalidParameter;

  DWORD indexError = kLogOk;
  // One line at a time across the processes that share the files: an append is placed at the end
  // by the system on Windows, but not atomically everywhere (Wine computes the end, then writes),
  // and two processes placing lines at the same end lose one of them.
  LogLineLock::Held appending = lineLock_->Acquire(kMutexWaitMs);
  DWORD opened = PrepareCurrentFile(&indexError);
  if (opened != kLogOk) return opened;
  DWORD written = WriteAll(current_.get(), formatted.data(), static_cast<DWORD>(formatted.size() * sizeof(wchar_t)));
  if (written != kLogOk) current_.reset();
  if (written == 0 && (options_ & kOptionDebugger)) ::OutputDebugStringW(formatted.c_str());
  return written != kLogOk ? written : indexError;
}

std::wstring CLogging::FilePath(unsigned index) const {
  return LogFilePath(logFolder_, moduleBaseName_, hasHostSuffix_ ? &hostSuffix_ : nullptr, index);
}

// The current file stays open between lines: reopening it and reading "LastLogIdx" for every line
// cost far more than the line. Another process of the same name rotates only a full file, so the
// held file being full is the one sign that the ring may have moved on; only then are the index
// and the file looked up again, under the named mutex. The caller holds the line lock. A size that
// cannot be had counts as room.
DWORD CLogging::PrepareCurrentFile(DWORD* indexError) {
  LARGE_INTEGER size{};
  if (current_ && (!::GetFileSizeEx(current_.get(), &size) || static_cast<ULONGLONG>(size.QuadPart) < maxSize_))
    return kLogOk;
  Strata::MutexLock crossProcess = Strata::AcquireMutex(mutex_.get(), kMutexWaitMs);
  if (!CanWrite()) return kLogInvalidParameter;
  current_.reset();
  return OpenCurrentFile(&current_, indexError);
}

// Appends are positioned by the system (an append-only handle), so a writer that goes on after a
// lost lock wait cannot overwrite another's line. Links planted in the folder are not followed.
DWORD CLogging::OpenForAppend(unsigned index, Strata::UniqueFile* file) {
  file->reset(::CreateFileW(FilePath(index).c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!*file) return ::GetLastError();
  if (::GetLastError() == ERROR_ALREADY_EXISTS) return kLogOk;
  return WriteAll(file->get(), &kByteOrderMark, sizeof(kByteOrderMark));
}

DWORD CLogging::CreateFresh(unsigned index) {
  Strata::UniqueFile file(::CreateFileW(FilePath(index).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
  if (!file) return ::GetLastError();
  return WriteAll(file.get(), &kByteOrderMark, sizeof(kByteOrderMark));
}

// The index is written before the next file is truncated: with the old index still on disk, the
// next line would find the full file again and truncate the one just started. When the index
// cannot be written the ring stands still and the line goes to the current file.
DWORD CLogging::Rotate(unsigned from, unsigned to, Strata::UniqueFile* file, DWORD* indexError) {
  if (!moduleIni_.WriteDword(kConfigSection, kLastLogIdx, to)) {
    *indexError = ERROR_WRITE_FAULT;
    return *file ? kLogOk : OpenForAppend(from, file);
  }
  file->reset();
  lastIndex_ = to;
  DWORD created = CreateFresh(to);
  return created != kLogOk ? created : OpenForAppend(to, file);
}

// A "LastLogIdx" or a size that cannot be read never truncates anything: the line is appended to
// the file last known to be current.
DWORD CLogging::OpenCurrentFile(Strata::UniqueFile* file, DWORD* indexError) {
  if (logFolder_.empty() || moduleBaseName_.empty() || (hasHostSuffix_ && hostSuffix_.empty()))
    return kLogInvalidParameter;
  DWORD index = 0;
  // Another process may have moved the ring a moment ago; its INI can look like the one parsed.
  moduleIni_.Forget();
  DWORD read = moduleIni_.TryReadDword(kConfigSection, kLastLogIdx, &index);
  if (read != ERROR_SUCCESS && read != ERROR_NOT_FOUND) {
    *indexError = read;
    return OpenForAppend(lastIndex_, file);
  }
  if (read == ERROR_NOT_FOUND) index = 0;
  if (index >= maxEntries_) return Rotate(index, 0, file, indexError);
  lastIndex_ = index;
  DWORD opened = OpenForAppend(index, file);
  LARGE_INTEGER size{};
  if (opened != kLogOk || !::GetFileSizeEx(file->get(), &size) || static_cast<ULONGLONG>(size.QuadPart) < maxSize_)
    return opened;
  return Rotate(index, (index + 1) % maxEntries_, file, indexError);
}

}  // namespace ETWLogging
