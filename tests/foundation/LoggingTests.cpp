#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>

#include "LogTestSupport.h"
#include "LogLock.h"
#include "LogPaths.h"
#include "Logging.h"
#include "ObfuscatedIniReader.h"
#include "PublishedLevels.h"

namespace {

using ETWLogging::CLogging;
using namespace ZelTest;

constexpr wchar_t kGroup[] = L"TestGroup";

class FileLoggerTest : public ::testing::Test {
 protected:
  FileLoggerTest()
      : shell_(root_.Path()),
        folder_(root_.Path() + L"\\Varant\\KYLOGS\\" + kGroup + L"\\" + ExecutableBaseName()),
        sharedIni_(root_.Path() + L"\\Varant\\KYLOGS\\log.ini") {}

  std::wstring LogFile(unsigned index) const {
    wchar_t name[16];
    swprintf(name, 16, L"%03u.log", index);
    return folder_ + L"\\" + ExecutableBaseName() + name;
  }
  std::wstring ModuleIni() const { return folder_ + L"\\log.ini"; }

  void WriteIni(const std::wstring& path, const wchar_t* key, DWORD value) {
    std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    Strata::CObfuscatedIniReader ini;
    ini.Load(path.c_str());
    ASSERT_TRUE(ini.WriteDword(L"Config", key, value));
  }
  bool ReadIni(const std::wstring& path, const wchar_t* key, DWORD* value) {
    Strata::CObfuscatedIniReader ini;
    ini.Load(path.c_str());
    return ini.ReadDword(L"Config", key, value);
  }
  DWORD IniValue(const std::wstring& path, const wchar_t* key) {
    DWORD value = ~0u;
    EXPECT_TRUE(ReadIni(path, key, &value)) << key;
    return value;
  }

  void Initialize() { ASSERT_EQ(0u, logger_->Initialize(kGroup, nullptr, nullptr, nullptr)); }
  DWORD Write(const std::wstring& text, DWORD level = ETWLogging::kLevelError) {
    return logger_->LogText(L"LoggingTests", L"FileLoggerTest::Write", 1, level, text.c_str());
  }

  TempFolder root_;
  FakeShell shell_;
  std::wstring folder_;
  std::wstring sharedIni_;
  std::unique_ptr<CLogging> logger_ = std::make_unique<CLogging>(shell_);
};

TEST_F(FileLoggerTest, WritesUtf16LinesWithByteOrderMarkIntoTheGroupFolder) {
  Initialize();
  EXPECT_EQ(0u, Write(L"first\r\n"));
  EXPECT_EQ(0u, Write(L"second"));
  bool hadMark = false;
  std::vector<std::wstring> lines = SplitLines(ReadLogText(LogFile(0), &hadMark));
  EXPECT_TRUE(hadMark);
  ASSERT_EQ(2u, lines.size());
  std::wstring moduleColumn = L"[" + std::wstring(15, L' ') + L"]$ ";
  std::wstring exe = ExecutableBaseName() + L".exe";
  moduleColumn.replace(1 + 15 - std::min<size_t>(15, exe.size()), std::min<size_t>(15, exe.size()), exe.substr(0, 15));
  EXPECT_NE(std::wstring::npos, lines[0].find(L"$ -- (Error)$ " + moduleColumn + L"first")) << lines[0];
  EXPECT_NE(std::wstring::npos, lines[1].find(L"second"));
}

TEST_F(FileLoggerTest, InitializeChecksItsArgumentsAndState) {
  EXPECT_EQ(87u, logger_->Initialize(L"", nullptr, nullptr, nullptr));
  EXPECT_EQ(87u, logger_->Initialize(kGroup, nullptr, L"", nullptr));
  EXPECT_EQ(20002u, logger_->Uninitialize());
  EXPECT_EQ(87u, Write(L"not initialized"));
  Initialize();
  EXPECT_EQ(20001u, logger_->Initialize(kGroup, nullptr, nullptr, nullptr));
  EXPECT_EQ(0u, logger_->Uninitialize());
  EXPECT_EQ(20002u, logger_->Uninitialize());
}

TEST_F(FileLoggerTest, HostSuffixAndModuleNameShapeTheFile) {
  ASSERT_EQ(0u, logger_->Initialize(kGroup, L"C:\\somewhere\\Plugin.dll", L"host", nullptr));
  EXPECT_EQ(0u, Write(L"with suffix"));
  std::wstring text = ReadLogText(folder_ + L"\\" + ExecutableBaseName() + L"_host000.log");
  EXPECT_NE(std::wstring::npos, text.find(L"[     Plugin.dll]$ with suffix")) << text;
}

TEST_F(FileLoggerTest, RotatesAcrossTheRingAndWrapsTruncatingTheFirstFile) {
  WriteIni(ModuleIni(), L"MaxSize", 262144);
  WriteIni(ModuleIni(), L"MaxEntries", 3);
  Initialize();
  ASSERT_EQ(262144u, logger_->GetMaxSize());
  const std::wstring text(2000, L'r');
  auto writeUntil = [&](auto done) {
    for (int i = 0; i < 400 && !done(); ++i) ASSERT_EQ(0u, Write(text));
    ASSERT_TRUE(done());
  };
  writeUntil([&] { return FileExists(LogFile(1)); });
  EXPECT_EQ(1u, IniValue(ModuleIni(), L"LastLogIdx"));
  size_t full = ReadFileBytes(LogFile(0)).size();
  EXPECT_GE(full, 262144u);
  EXPECT_LT(full, 262144u + 4200u) << "a file grows past the size by one line at most";

  writeUntil([&] { return FileExists(LogFile(2)); });
  EXPECT_EQ(2u, IniValue(ModuleIni(), L"LastLogIdx"));
  writeUntil([&] { return ReadFileBytes(LogFile(0)).size() < full; });
  EXPECT_EQ(0u, IniValue(ModuleIni(), L"LastLogIdx"));
  bool hadMark = false;
  EXPECT_EQ(1u, SplitLines(ReadLogText(LogFile(0), &hadMark)).size());
  EXPECT_TRUE(hadMark);
}

TEST_F(FileLoggerTest, EntriesLoweredBelowTheCurrentIndexRestartAtTheFirstFile) {
  WriteIni(ModuleIni(), L"LastLogIdx", 2);
  WriteIni(ModuleIni(), L"MaxEntries", 2);
  Initialize();
  EXPECT_EQ(0u, Write(L"restart"));
  EXPECT_EQ(0u, IniValue(ModuleIni(), L"LastLogIdx"));
  EXPECT_NE(std::wstring::npos, ReadLogText(LogFile(0)).find(L"restart"));
  EXPECT_FALSE(FileExists(LogFile(2)));
}

TEST_F(FileLoggerTest, InvalidSettingsAreRewrittenWithDefaults) {
  WriteIni(ModuleIni(), L"MaxEntries", 1);
  WriteIni(ModuleIni(), L"MaxSize", 100);
  WriteIni(ModuleIni(), L"Severity", 7);
  WriteIni(sharedIni_, L"MaxEntries", 101);
  Initialize();
  EXPECT_EQ(3u, logger_->GetMaxEntries());
  EXPECT_EQ(262144u, logger_->GetMaxSize());
  EXPECT_EQ(3u, logger_->GetSeverity());
  EXPECT_EQ(3u, IniValue(ModuleIni(), L"MaxEntries"));
  EXPECT_EQ(262144u, IniValue(ModuleIni(), L"MaxSize"));
  EXPECT_EQ(3u, IniValue(ModuleIni(), L"Severity"));
  EXPECT_EQ(3u, IniValue(sharedIni_, L"MaxEntries"));
}

TEST_F(FileLoggerTest, ModuleSettingsWinOverSharedOnesAndBothOverDefaults) {
  WriteIni(sharedIni_, L"MaxEntries", 7);
  WriteIni(sharedIni_, L"Options", 4);
  WriteIni(ModuleIni(), L"MaxEntries", 9);
  WriteIni(ModuleIni(), L"MaxSize", 10485760);
  Initialize();
  EXPECT_EQ(9u, logger_->GetMaxEntries());
  EXPECT_EQ(10485760u, logger_->GetMaxSize());
  EXPECT_EQ(4u, logger_->GetOptions());
  DWORD unused;
  EXPECT_FALSE(ReadIni(sharedIni_, L"LastLogIdx", &unused)) << "the index is kept only per module";
}

TEST_F(FileLoggerTest, SeverityZeroLetsEveryLevelThroughAndDefaultStopsOneAndTwo) {
  EXPECT_FALSE(logger_->IsLevelEnabled(1));
  EXPECT_FALSE(logger_->IsLevelEnabled(2));
  EXPECT_TRUE(logger_->IsLevelEnabled(3));
  WriteIni(ModuleIni(), L"Severity", 0);
  Initialize();
  EXPECT_EQ(0u, logger_->GetSeverity());
  EXPECT_TRUE(logger_->IsLevelEnabled(1));
}

// What every call site tests is the word the logger publishes: it must follow log.ini and the
// setters at once.
TEST_F(FileLoggerTest, PublishedLevelsFollowLogIniAndTheSettersAtOnce) {
  ZelTest::PublishedLevels published(*logger_, ETWLogging::LevelGate::kAskLogger);
  ZelTest::ExpectWordFollowsEachChange(*logger_, published, {
      {"defaults", [] {}, 0xF8},
      {"log.ini's Severity 0", [&] {
         WriteIni(ModuleIni(), L"Severity", 0);
         Initialize();
       }, 0xFF},
      {"SetSeverity(5)", [&] { logger_->SetSeverity(5); }, 0xE0},
      {"log.ini's Enable 0", [&] {
         logger_->Uninitialize();
         WriteIni(ModuleIni(), L"Enable", 0);
         Initialize();
       }, 0},
      {"SetEnabled(true)", [&] { logger_->SetEnabled(true); }, 0xFF},
      {"Uninitialize", [&] { logger_->Uninitialize(); }, 0xF8},
  });
}

TEST_F(FileLoggerTest, SettersKeepTheirRanges) {
  logger_->SetSeverity(0);
  EXPECT_EQ(1u, logger_->GetSeverity());
  logger_->SetSeverity(9);
  EXPECT_EQ(6u, logger_->GetSeverity());
  logger_->SetMaxEntries(1);
  EXPECT_EQ(2u, logger_->GetMaxEntries());
  logger_->SetMaxEntries(500);
  EXPECT_EQ(100u, logger_->GetMaxEntries());
  logger_->SetMaxSize(1);
  EXPECT_EQ(262144u, logger_->GetMaxSize());
  logger_->SetMaxSize(~0u);
  EXPECT_EQ(10485760u, logger_->GetMaxSize());
}

TEST_F(FileLoggerTest, InvalidLevelsAndEmptyTextsWriteNothing) {
  Initialize();
  EXPECT_EQ(87u, Write(L"level zero", 0));
  EXPECT_EQ(87u, Write(L"level seven", 7));
  EXPECT_EQ(87u, Write(L""));
  EXPECT_EQ(0u, Write(L"level six", 6));
  std::vector<std::wstring> lines = SplitLines(ReadLogText(LogFile(0)));
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::wstring::npos, lines[0].find(L"(Information)$"));
}

TEST_F(FileLoggerTest, LogFormatHonoursEnableAndLevelButFixedLevelOperationsDoNot) {
  Initialize();
  EXPECT_EQ(0u, logger_->LogFormat(2, L"LoggingTests", L"f", 1, L"%s", L"below threshold"));
  logger_->SetEnabled(false);
  EXPECT_EQ(0u, logger_->LogFormat(4, L"LoggingTests", L"f", 1, L"%s", L"disabled"));
  EXPECT_EQ(0u, logger_->LogNormal(L"LoggingTests", L"f", 1, L"%s %d", L"fixed", 1));
  std::wstring longArgument(5000, L'x');
  EXPECT_EQ(0u, logger_->LogCritical(L"LoggingTests", L"f", 1, L"%s", longArgument.c_str()));
  std::vector<std::wstring> lines = SplitLines(ReadLogText(LogFile(0)));
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::wstring::npos, lines[0].find(L"(Normal)$ [")) << lines[0];
  EXPECT_NE(std::wstring::npos, lines[0].find(L"fixed 1"));
  EXPECT_NE(std::wstring::npos, lines[1].find(std::wstring(4159, L'x')));
  EXPECT_EQ(std::wstring::npos, lines[1].find(std::wstring(4160, L'x')));
}

TEST_F(FileLoggerTest, AFolderThatCannotBeCreatedSilencesTheLoggerForGood) {
  // A file where the program-data folder should be: nothing can be created beneath it.
  std::wstring blocker = root_ / L"blocker";
  ::CloseHandle(::CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  FakeShell blockedShell(blocker);
  CLogging blocked(blockedShell);
  ASSERT_EQ(0u, blocked.Initialize(kGroup, nullptr, nullptr, nullptr));
  ZelTest::PublishedLevels published(blocked, ETWLogging::LevelGate::kAskLogger);
  EXPECT_TRUE(blocked.IsLevelEnabled(4));
  EXPECT_EQ(87u, blocked.LogText(L"LoggingTests", L"f", 1, 4, L"lost"));
  EXPECT_FALSE(blocked.IsEnabled());
  EXPECT_FALSE(blocked.IsLevelEnabled(5));
  EXPECT_FALSE(blocked.IsLevelEnabled(6));
  EXPECT_FALSE(ETWLogging::LevelGate::Allows(published.Word(), 4)) << "callers must stop formatting too";
  EXPECT_EQ(87u, blocked.LogText(L"LoggingTests", L"f", 1, 4, L"still lost"));
}

TEST_F(FileLoggerTest, RootFolderFailuresAreInvalidParameter) {
  FakeShell failing(L"", E_FAIL);
  CLogging logger(failing);
  wchar_t buffer[MAX_PATH];
  EXPECT_EQ(87u, logger.GetLogRootFolder(buffer, MAX_PATH));
  EXPECT_EQ(87u, logger.GetLogRootFolder(nullptr, MAX_PATH));
  EXPECT_EQ(87u, logger.Initialize(kGroup, nullptr, nullptr, nullptr));
  EXPECT_EQ(0u, logger_->GetLogRootFolder(buffer, MAX_PATH));
  EXPECT_EQ(root_.Path(), buffer);
}

TEST_F(FileLoggerTest, UninitializeRestoresDefaults) {
  WriteIni(ModuleIni(), L"MaxEntries", 9);
  WriteIni(ModuleIni(), L"Severity", 5);
  Initialize();
  EXPECT_EQ(9u, logger_->GetMaxEntries());
  EXPECT_EQ(0u, logger_->Uninitialize());
  EXPECT_EQ(3u, logger_->GetMaxEntries());
  EXPECT_EQ(3u, logger_->GetSeverity());
  EXPECT_EQ(16u, logger_->GetOptions());
  Initialize();
  EXPECT_EQ(9u, logger_->GetMaxEntries());
}

// Several threads of one process: every line arrives whole.
TEST_F(FileLoggerTest, ConcurrentWritersNeitherLoseNorInterleaveLines) {
  WriteIni(ModuleIni(), L"MaxEntries", 100);
  Initialize();
  constexpr int kThreads = 4, kLines = 200;
  std::vector<HANDLE> threads;
  struct Job { CLogging* logger; int id; };
  std::vector<Job> jobs;
  for (int t = 0; t < kThreads; ++t) jobs.push_back({logger_.get(), t});
  for (Job& job : jobs) {
    threads.push_back(::CreateThread(nullptr, 0, [](void* p) -> DWORD {
      auto* job = static_cast<Job*>(p);
      for (int i = 0; i < kLines; ++i) {
        std::wstring text = L"thread " + std::to_wstring(job->id) + L" line " + std::to_wstring(i) + L" end";
        job->logger->LogText(L"LoggingTests", L"f", 1, 4, text.c_str());
      }
      return 0;
    }, &job, 0, nullptr));
  }
  ::WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 60000);
  for (HANDLE h : threads) ::CloseHandle(h);
  std::set<std::wstring> seen;
  for (const std::wstring& line : SplitLines(ReadLogText(LogFile(0)))) {
    size_t at = line.find(L"$ thread ");
    ASSERT_NE(std::wstring::npos, at) << line;
    EXPECT_EQ(L" end", line.substr(line.size() - 4)) << line;
    seen.insert(line.substr(at));
  }
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), seen.size());
}

// A virus scanner or backup agent may hold log.ini open without sharing reads for a moment.
TEST_F(FileLoggerTest, AnUnreadableIniIsNeitherWrittenOverNorMisreadAsIndexZero) {
  WriteIni(ModuleIni(), L"MaxEntries", 5);
  WriteIni(ModuleIni(), L"LastLogIdx", 1);
  Initialize();
  ASSERT_EQ(0u, Write(L"before"));
  {
    Strata::UniqueFile scanner(::CreateFileW(ModuleIni().c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(scanner.valid());
    Write(L"while held");
    Strata::CObfuscatedIniReader other;
    other.Load(ModuleIni().c_str());
    EXPECT_FALSE(other.WriteDword(L"Config", L"Severity", 4)) << "a file that cannot be read is not rewritten";
  }
  std::wstring current = ReadLogText(LogFile(1));
  EXPECT_NE(std::wstring::npos, current.find(L"before"));
  EXPECT_NE(std::wstring::npos, current.find(L"while held"));
  EXPECT_FALSE(FileExists(LogFile(0)));
  EXPECT_EQ(5u, IniValue(ModuleIni(), L"MaxEntries"));
  EXPECT_EQ(1u, IniValue(ModuleIni(), L"LastLogIdx"));
}

TEST_F(FileLoggerTest, ARefusedIndexWriteStopsTheRingInsteadOfTruncating) {
  WriteIni(ModuleIni(), L"MaxEntries", 3);
  WriteIni(ModuleIni(), L"LastLogIdx", 0);
  Initialize();
  const std::wstring filler(2000, L'f');
  while (ReadFileBytes(LogFile(0)).size() < 262144) ASSERT_EQ(0u, Write(filler));
  {
    // A reader that does not share deletion: the INI reads, but cannot be replaced.
    Strata::UniqueFile reader(::CreateFileW(ModuleIni().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader.valid());
    EXPECT_NE(0u, Write(L"first after full")) << "the failed index write is reported";
    EXPECT_NE(0u, Write(L"second after full"));
  }
  std::wstring all = ReadLogText(LogFile(0)) + ReadLogText(LogFile(1));
  EXPECT_NE(std::wstring::npos, all.find(L"first after full"));
  EXPECT_NE(std::wstring::npos, all.find(L"second after full"));
  EXPECT_EQ(0u, IniValue(ModuleIni(), L"LastLogIdx"));
  ASSERT_EQ(0u, Write(L"rotates once the index can be written"));
  EXPECT_EQ(1u, IniValue(ModuleIni(), L"LastLogIdx"));
  EXPECT_NE(std::wstring::npos, ReadLogText(LogFile(1)).find(L"rotates once"));
}

// The folder's access list is set once, when the folder is made, and Wine keeps none: what is
// checked is the list every machine gets. A list that does not parse would silence every logger.
TEST(LogFolderAccess, UsersMayWriteButNotDeleteRenameOrRepermission) {
  Strata::UniqueLocalMem descriptor = ETWLogging::DescriptorFromSddl(ETWLogging::kLogFolderAccess);
  ASSERT_TRUE(descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing is inherited from the program-data folder";
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);

  struct Granted {
    ACCESS_MASK folder = 0;
    ACCESS_MASK file = 0;
  };
  auto grantedTo = [&](const wchar_t* sidText) {
    PSID sid = nullptr;
    EXPECT_TRUE(::ConvertStringSidToSidW(sidText, &sid)) << sidText;
    Strata::UniqueLocalMem owner(sid);
    Granted granted;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
      EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
      if (!::EqualSid(sid, &ace->SidStart)) continue;
      if (!(ace->Header.AceFlags & INHERIT_ONLY_ACE)) granted.folder |= ace->Mask;
      if (ace->Header.AceFlags & OBJECT_INHERIT_ACE) granted.file |= ace->Mask;
    }
    return granted;
  };

  constexpr ACCESS_MASK kDestroying = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;
  Granted users = grantedTo(L"BU");
  EXPECT_EQ(0u, users.folder & kDestroying);
  EXPECT_EQ(0u, users.file & kDestroying);
  EXPECT_EQ(FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_LIST_DIRECTORY,
            users.folder & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_LIST_DIRECTORY));
  EXPECT_EQ(FILE_GENERIC_READ | FILE_GENERIC_WRITE, users.file & (FILE_GENERIC_READ | FILE_GENERIC_WRITE))
      << "rotation truncates files another user's process made";
  Granted owners = grantedTo(L"S-1-3-4");
  EXPECT_EQ(0u, owners.file & (WRITE_DAC | WRITE_OWNER)) << "an owner's implicit rights are limited too";
  EXPECT_EQ(static_cast<ACCESS_MASK>(DELETE), owners.file & DELETE) << "a log.ini rewrite renames its own file";
  EXPECT_EQ(0u, grantedTo(L"WD").folder | grantedTo(L"WD").file);
  for (const wchar_t* machine : {L"SY", L"BA"}) {
    EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_ALL_ACCESS), grantedTo(machine).folder) << machine;
    EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_ALL_ACCESS), grantedTo(machine).file) << machine;
  }
}

}  // namespace
