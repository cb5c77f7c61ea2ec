// The file back end of the diagnostic log: UTF-16 lines appended to a small ring of files.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "Handles.h"
#include "LevelGate.h"
#include "LogLineLock.h"
#include "LoggingIf.h"
#include "ObfuscatedIniReader.h"
#include "ShlObjAPI.h"
#include "SlimLock.h"

namespace ETWLogging {

class CLogging : public CLoggingIf, public LevelPublisher {
 public:
  static constexpr DWORD kDefaultMaxSize = 262144;
  static constexpr DWORD kLargestMaxSize = 10485760;
  static constexpr DWORD kDefaultMaxEntries = 3;
  static constexpr DWORD kFewestEntries = 2;
  static constexpr DWORD kMostEntries = 100;
  static constexpr DWORD kDefaultSeverity = kLevelInformation;
  static constexpr DWORD kDefaultOptions = 16;
  static constexpr DWORD kMutexWaitMs = 7000;

  // The shell seam decides where the program-data folder is; tests point it at a folder of theirs.
  explicit CLogging(Strata::ShlObjAPI& shell = Strata::ShlObjAPI::System());
  ~CLogging() override;
  CLogging(const CLogging&) = delete;
  CLogging& operator=(const CLogging&) = delete;

  DWORD Initialize(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                   LoggingConfigListenerIf* listener) override;
  DWORD EnsureReady() override { return kLogOk; }
  DWORD GetModuleLogName(std::wstring*) override { return kLogOk; }
  DWORD GetGroupName(std::wstring*) override { return kLogOk; }
  DWORD Uninitialize() override;
  void SetEnabled(bool enabled) override {
    enabled_ = enabled;
    PublishLevels();
  }
  bool IsEnabled() const override { return enabled_; }
  DWORD LogFormat(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format,
                  ...) override;
  DWORD LogText(const wchar_t* sourceFile, const wchar_t* function, int line, DWORD level,
                const wchar_t* text) override;
  bool IsLevelEnabled(DWORD level) const override;
  void SetMaxEntries(DWORD entries) override;
  DWORD GetMaxEntries() const override { return maxEntries_; }
  void SetMaxSize(DWORD bytes) override;
  DWORD GetMaxSize() const override { return maxSize_; }
  void SetSeverity(DWORD level) override;
  DWORD GetSeverity() const override { return severity_; }
  ULONG AddRef() override { return ++refCount_; }
  ULONG Release() override { return --refCount_; }

  // The machine's program-data folder, created when missing: 0, or 87 when it cannot be had.
  DWORD GetLogRootFolder(wchar_t* buffer, size_t capacity);

  DWORD GetOptions() const { return options_; }
  std::wstring LogFolderPath() const;

 private:
  enum class WriteCheck { NotRun, Passed, Failed };
  struct ConfigKey;
  static const ConfigKey kConfigKeys[];

  void StoreEnable(DWORD value) { SetEnabled(value != 0); }
  void StoreSeverity(DWORD value) {
    severity_ = value;
    PublishLevels();
  }
  void PublishLevels() const;
  void StoreOptions(DWORD value) { options_ = value; }
  DWORD InitializeLocked(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix);
  void ResetToDefaults();
  void LoadConfiguration();
  void LoadConfigKey(const ConfigKey& key);
  bool CanWrite();
  DWORD PrepareCurrentFile(DWORD* indexError);
  // `indexError` receives why "LastLogIdx" could not be read or written; the line still goes out.
  DWORD OpenCurrentFile(Strata::UniqueFile* file, DWORD* indexError);
  DWORD OpenForAppend(unsigned index, Strata::UniqueFile* file);
  DWORD CreateFresh(unsigned index);
  DWORD Rotate(unsigned from, unsigned to, Strata::UniqueFile* file, DWORD* indexError);
  std::wstring FilePath(unsigned index) const;

  Strata::ShlObjAPI& shell_;

  // Read on callers' threads without a lock to decide whether to format at all.
  std::atomic<bool> enabled_{true};
  std::atomic<DWORD> severity_{kDefaultSeverity};
  std::atomic<DWORD> options_{kDefaultOptions};
  std::atomic<DWORD> maxSize_{kDefaultMaxSize};
  std::atomic<DWORD> maxEntries_{kDefaultMaxEntries};
  std::atomic<ULONG> refCount_{0};

  // Guards everything below within the process. Processes that share the executable name (and so
  // the files) take the line lock around each append, and the named mutex, after it, to move the
  // ring or rewrite log.ini; a write goes on when a wait times out.
  mutable Strata::SlimLock guard_;
  bool initialized_ = false;
  bool hasGroup_ = false;
  std::wstring group_;
  bool hasHostSuffix_ = false;
  std::wstring hostSuffix_;
  std::wstring moduleBaseName_;
  std::wstring moduleFileName_;
  std::wstring logBase_;    // LogBaseFolder of the root
  std::wstring logFolder_;  // this module's folder inside it
  DWORD processId_ = 0;
  Strata::UniqueHandle mutex_;
  std::unique_ptr<LogLineLock> lineLock_;  // falls back to mutex_
  WriteCheck writeCheck_ = WriteCheck::NotRun;
  unsigned lastIndex_ = 0;  // the index last read or written, used while the INI cannot be read
  Strata::UniqueFile current_;  // append-only handle on the current file, kept between lines
  Strata::CObfuscatedIniReader moduleIni_;
  Strata::CObfuscatedIniReader sharedIni_;
};

}  // namespace ETWLogging
