#include <gtest/gtest.h>
#include <shlobj.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "DefaultLogBuilder.h"
#include "ETWLogging.h"
#include "LogInstance.h"
#include "LogLineLock.h"
#include "Logging.h"
#include "LogLock.h"
#include "LogRecorder.h"
#include "LogTestSupport.h"
#include "ObfuscatedIniReader.h"
#include "ObfuscatedRegKey.h"

namespace {

using namespace ZelTest;
using ETWLogging::CLoggingIf;
using ETWLogging::CLoggingIf_ex;

struct Recorded {
  DWORD level;
  std::wstring text;
};

// A logger that records what reaches it; `Base` chooses the plain or the extended interface.
template <typename Base>
class RecordingLogger : public ZelTest::InertLogger<Base> {
 public:
  explicit RecordingLogger(std::vector<Recorded>* sink, DWORD readiness = 0) : sink_(sink), readiness_(readiness) {}
  DWORD EnsureReady() override { return readiness_; }
  DWORD LogText(const wchar_t*, const wchar_t*, int, DWORD level, const wchar_t* text) override {
    sink_->push_back({level, text});
    return 0;
  }
  bool IsLevelEnabled(DWORD level) const override { return level >= 3; }
  DWORD GetSeverity() const override { return 3; }

 protected:
  std::vector<Recorded>* sink_;
  DWORD readiness_;
};

class RecordingLoggerEx : public RecordingLogger<CLoggingIf_ex> {
 public:
  using RecordingLogger::RecordingLogger;
  DWORD InitializeEx(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                     ETWLogging::LoggingConfigListenerIf*) override {
    return 0;
  }
  DWORD LogTextEx(DWORD level, const wchar_t*, const wchar_t*, int, const wchar_t* text) override {
    sink_->push_back({level, L"ex:" + std::wstring(text)});
    return 0;
  }
};

DWORD Write(CLogInstance& instance, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  DWORD result = instance.WriteV(4, L"LogInstanceTests", L"Write", 1, format, args);
  va_end(args);
  return result;
}

TEST(LogInstance, PlainPathCutsOnlyTextsLongerThan4160To2080) {
  std::vector<Recorded> sink;
  CLogInstance instance;
  instance.SetLogger(std::make_unique<RecordingLogger<CLoggingIf>>(&sink));
  for (size_t length : {3000u, 4160u, 4161u, 5000u}) {
    std::wstring text(length, L'p');
    ASSERT_EQ(0u, Write(instance, L"%s", text.c_str()));
  }
  ASSERT_EQ(4u, sink.size());
  EXPECT_EQ(3000u, sink[0].text.size());
  EXPECT_EQ(4160u, sink[1].text.size());
  EXPECT_EQ(2080u, sink[2].text.size());
  EXPECT_EQ(2080u, sink[3].text.size());
}

TEST(LogInstance, ExtendedPathFormatsInto2080Characters) {
  std::vector<Recorded> sink;
  CLogInstance instance;
  instance.SetLogger(std::make_unique<RecordingLoggerEx>(&sink));
  std::wstring text(3000, L'e');
  ASSERT_EQ(0u, Write(instance, L"%s", text.c_str()));
  ASSERT_EQ(1u, sink.size());
  EXPECT_EQ(L"ex:" + std::wstring(2079, L'e'), sink[0].text);
}

// A logger put in the place of the process's own is asked at every test: the word the process's
// logger kept goes with it. (The file back end's, which its logger's destructor does not touch.)
TEST(LogInstance, TheProcessLevelTestAsksALoggerPutInThePlaceOfItsOwn) {
  SetLogIdentity(nullptr, L"TestGroup", nullptr, nullptr, ETWLogging::kMechanismFile);
  CLogInstance* instance = GetLogInstance();
  ASSERT_NE(instance, nullptr);
  ASSERT_NE(dynamic_cast<ETWLogging::CLogging*>(instance->Logger()), nullptr) << "the process's log made first here";
  instance->Logger()->SetSeverity(5);
  EXPECT_FALSE(LogIsEnabled(3));
  std::vector<Recorded> sink;
  instance->SetLogger(std::make_unique<RecordingLogger<CLoggingIf>>(&sink));
  EXPECT_TRUE(LogIsEnabled(3));
  EXPECT_FALSE(LogIsEnabled(2));
  instance->SetLogger(nullptr);
  EXPECT_FALSE(LogIsEnabled(3));
}

TEST(LogInstance, NoLoggerAnswers1627AndANotReadyLoggerStopsTheMessage) {
  CLogInstance empty;
  EXPECT_EQ(1627u, Write(empty, L"nothing"));
  EXPECT_EQ(1627u, empty.WriteText(4, L"s", L"f", 1, L"nothing"));
  EXPECT_FALSE(empty.IsEnabled(5));

  std::vector<Recorded> sink;
  CLogInstance notReady;
  notReady.SetLogger(std::make_unique<RecordingLogger<CLoggingIf>>(&sink, 31));
  EXPECT_EQ(31u, Write(notReady, L"held back"));
  EXPECT_TRUE(sink.empty());
}

TEST(LogInstance, StrataReportsReachTheInstanceAtMappedLevels) {
  std::vector<Recorded> sink;
  {
    CLogInstance instance;
    ASSERT_EQ(ETWLogging::kLogOk, instance.Create({nullptr, L"StrataGroup", nullptr, nullptr, 0}));
    ASSERT_TRUE(instance.HasStrataHandler());
    instance.SetLogger(std::make_unique<RecordingLogger<CLoggingIf>>(&sink));
    Strata::LogStrata(Strata::kStrataTrace, L"src", L"fn", 1, L"trace %d", 0);
    Strata::LogStrata(Strata::kStrataInfo, L"src", L"fn", 1, L"info %s", L"one");
    Strata::LogStrata(Strata::kStrataError, L"src", L"fn", 1, L"error");
    Strata::LogStrata(9, L"src", L"fn", 1, L"other");
  }
  ASSERT_EQ(4u, sink.size());
  EXPECT_EQ(1u, sink[0].level);
  EXPECT_EQ(L"trace 0", sink[0].text);
  EXPECT_EQ(1u, sink[1].level);
  EXPECT_EQ(L"info one", sink[1].text);
  EXPECT_EQ(4u, sink[2].level);
  EXPECT_EQ(2u, sink[3].level);
  EXPECT_EQ(&Strata::CDefaultLoggingHandler::Instance(), (Strata::LogStrata(1, L"s", L"f", 1, L"x"),
                                                          Strata::CLogger::CurrentHandler()))
      << "the instance gave the slot back when it went";
}

class SlotHandler : public Strata::ILoggingHandler {
 public:
  DWORD OnLog(int type, const wchar_t*, const wchar_t* function, int, const wchar_t* text) override {
    reports.push_back({static_cast<DWORD>(type), std::wstring(function) + L"|" + text});
    return 0;
  }
  std::vector<Recorded> reports;
};

TEST(StrataLogger, HandlerSlotRefusesConflictsAndReportsThem) {
  SlotHandler first, second;
  EXPECT_EQ(87u, Strata::CLogger::RegisterHandler(nullptr));
  EXPECT_EQ(0u, Strata::CLogger::RegisterHandler(&first)) << "the default handler gives way";
  EXPECT_EQ(0u, Strata::CLogger::RegisterHandler(&first));
  EXPECT_EQ(5023u, Strata::CLogger::RegisterHandler(&second));
  EXPECT_EQ(5023u, Strata::CLogger::UnregisterHandler(&second));
  EXPECT_EQ(87u, Strata::CLogger::UnregisterHandler(nullptr));
  EXPECT_EQ(&first, Strata::CLogger::CurrentHandler());
  ASSERT_EQ(3u, first.reports.size());
  for (const Recorded& report : first.reports) EXPECT_EQ(2u, report.level);
  EXPECT_NE(std::wstring::npos, first.reports[0].text.find(L"Strata::CLogger::RegisterHandler|"));
  EXPECT_NE(std::wstring::npos, first.reports[0].text.find(L"cannot be replaced with 0x"));
  EXPECT_NE(std::wstring::npos, first.reports[1].text.find(L"(requested handler 0x"));
  EXPECT_NE(std::wstring::npos, first.reports[2].text.find(L": Cannot Unregister (NULL) handler"));

  EXPECT_EQ(0u, Strata::CLogger::UnregisterHandler(&first));
  EXPECT_EQ(5023u, Strata::CLogger::UnregisterHandler(&first)) << "none registered";
  EXPECT_EQ(0u, Strata::CLogger::RegisterHandler(&second));
  Strata::CLogger::UnregisterHandler(&second);
}

class LogBuilderTest : public ::testing::Test {
 protected:
  ETWLogging::LogConfigSource Source() { return {key_.Root(), key_.Path()}; }
  void SetMechanism(DWORD value) {
    Strata::CObfuscatedRegKey key;
    ASSERT_EQ(0, key.Open(key_.Root(), key_.Path().c_str(), KEY_READ | KEY_WRITE));
    ASSERT_EQ(0, key.SetDWORDValue(L"Logging Mechanism", value));
  }
  std::unique_ptr<CLoggingIf> Build(DWORD mechanism) {
    CLoggingIf* logger = nullptr;
    ETWLogging::LogConfigSource source = Source();
    EXPECT_EQ(0u, ETWLogging::CDefaultLogBuilder::Instance().BuildEx(nullptr, L"BuilderGroup", nullptr, nullptr,
                                                                       mechanism, &logger, &source));
    return std::unique_ptr<CLoggingIf>(logger);
  }
  static bool IsFileLogger(const std::unique_ptr<CLoggingIf>& logger) {
    return dynamic_cast<ETWLogging::CLogging*>(logger.get()) != nullptr;
  }
  TempRegistryKey key_;
};

TEST_F(LogBuilderTest, MechanismSwitchChoosesTheBackEnd) {
  EXPECT_FALSE(IsFileLogger(Build(0))) << "absent value";
  SetMechanism(0);
  EXPECT_FALSE(IsFileLogger(Build(0)));
  SetMechanism(2);
  EXPECT_FALSE(IsFileLogger(Build(0)));
  SetMechanism(1);
  EXPECT_TRUE(IsFileLogger(Build(0)));
  auto etw = Build(0);
  SetMechanism(0);
  EXPECT_TRUE(IsFileLogger(Build(1))) << "the argument 1 needs no registry";
}

TEST_F(LogBuilderTest, APlainValueIsNotTheScrambledSwitch) {
  DWORD one = 1;
  ASSERT_EQ(0, ::RegSetKeyValueW(key_.Root(), key_.Path().c_str(), L"Logging Mechanism", REG_DWORD, &one, 4));
  EXPECT_FALSE(IsFileLogger(Build(0)));
}

TEST_F(LogBuilderTest, MissingKeyChoosesEventTracing) {
  ETWLogging::LogConfigSource missing{HKEY_CURRENT_USER, L"Software\\ZelTests\\NoSuchKey\\" + NewGuidText()};
  EXPECT_FALSE(ETWLogging::CDefaultLogBuilder::FileLoggerSelected(0, &missing));
  EXPECT_TRUE(ETWLogging::CDefaultLogBuilder::FileLoggerSelected(1, &missing));
}

TEST_F(LogBuilderTest, ALoggerThatFailsToInitializeIsNotHandedOut) {
  CLoggingIf* logger = reinterpret_cast<CLoggingIf*>(1);
  EXPECT_EQ(87u, ETWLogging::CDefaultLogBuilder::Instance().BuildEx(nullptr, L"", nullptr, nullptr, 1, &logger,
                                                                     nullptr));
  EXPECT_EQ(nullptr, logger);
}

// Processes with the same executable name share the files, in every user's session; the lock
// they share keeps every line whole and in order, across rotations.
class ProcessLog : public ::testing::Test {
 protected:
  ProcessLog() {
    PWSTR programData = nullptr;
    ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData);
    groupFolder_ = std::wstring(programData) + L"\\Varant\\KYLOGS\\" + group_;
    ::CoTaskMemFree(programData);
    ::CopyFileW(SiblingPath(L"LogAppender.exe").c_str(), Program().c_str(), FALSE);
  }
  ~ProcessLog() override { DeleteTree(groupFolder_); }

  std::wstring ModuleFolder() const { return groupFolder_ + L"\\" + appender_; }
  std::wstring Program() const { return programFolder_ / (appender_ + L".exe"); }
  HANDLE Start(const wchar_t* tag, int lines) {
    std::wstring command = L"\"" + Program() + L"\" " + group_ + L" " + tag + L" " +
                           std::to_wstring(lines);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      return nullptr;
    ::CloseHandle(info.hThread);
    return info.hProcess;
  }
  static DWORD Finish(HANDLE process) {
    DWORD code = 99;
    if (::WaitForSingleObject(process, 300000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    return code;
  }
  // Every line of the ring, oldest file first (the ring does not wrap in these tests).
  std::vector<std::wstring> Lines() const {
    std::vector<std::wstring> lines;
    for (unsigned i = 0; i < 100; ++i) {
      wchar_t name[32];
      swprintf(name, 32, L"\\%ls%03u.log", appender_.c_str(), i);
      for (std::wstring& line : SplitLines(ReadLogText(ModuleFolder() + name))) lines.push_back(std::move(line));
    }
    return lines;
  }
  void Configure(const wchar_t* key, DWORD value) {
    ::SHCreateDirectoryExW(nullptr, ModuleFolder().c_str(), nullptr);
    Strata::CObfuscatedIniReader ini;
    ini.Load((ModuleFolder() + L"\\log.ini").c_str());
    ASSERT_TRUE(ini.WriteDword(L"Config", key, value));
  }

  std::wstring group_ = L"Appender-" + NewGuidText();
  std::wstring groupFolder_;
  // The writers' locks are named after their program, machine-wide, and tests run side by side:
  // each test's writers are a copy of the appender under a name of its own.
  std::wstring appender_ = L"LogAppender_" + std::to_wstring(::GetCurrentProcessId());
  TempFolder programFolder_;
};

TEST_F(ProcessLog, TwoProcessesAppendAcrossRotationsEveryLineOnceAndInOrder) {
  Configure(L"MaxEntries", 100);
  constexpr int kLines = 2500;  // about three files of the smallest size between them
  HANDLE alpha = Start(L"alpha", kLines), beta = Start(L"beta", kLines);
  ASSERT_TRUE(alpha && beta);
  EXPECT_EQ(0u, Finish(alpha));
  EXPECT_EQ(0u, Finish(beta));

  std::map<std::wstring, int> next{{L"alpha", 0}, {L"beta", 0}};
  std::vector<std::wstring> lines = Lines();
  ASSERT_EQ(2u * kLines, lines.size());
  for (const std::wstring& line : lines) {
    wchar_t tag[16] = {};
    int number = -1;
    size_t at = line.find(L"$ ");
    ASSERT_NE(std::wstring::npos, at) << line;
    ASSERT_EQ(2, swscanf(line.c_str() + line.rfind(L"$ ") + 2, L"%15ls line %d end", tag, &number)) << line;
    EXPECT_EQ(L" end", line.substr(line.size() - 4)) << line;
    EXPECT_EQ(next[tag]++, number) << "lines of one process arrive once and in order: " << line;
  }
  EXPECT_EQ(kLines, next[L"alpha"]);
  EXPECT_EQ(kLines, next[L"beta"]);
  EXPECT_TRUE(FileExists(ModuleFolder() + L"\\" + appender_ + L"002.log")) << "the ring rotated twice";
}

// A process of another user's session takes the machine-wide lock; a writer of this session waits
// for it rather than taking a lock of its own.
TEST_F(ProcessLog, TheLockIsMachineWide) {
  Strata::UniqueHandle otherSession(
      ::CreateMutexW(nullptr, TRUE, (L"Global\\" + ETWLogging::LogMutexName(appender_.c_str())).c_str()));
  ASSERT_TRUE(otherSession.valid());
  HANDLE writer = Start(L"waiting", 1);
  ASSERT_NE(nullptr, writer);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(writer, 2000));
  EXPECT_TRUE(Lines().empty()) << "nothing is written while another session holds the lock";
  ::ReleaseMutex(otherSession.get());
  EXPECT_EQ(0u, Finish(writer));
  ASSERT_EQ(1u, Lines().size());
}

// The word of the line lock, as another process of the module sees it.
class LineLockWord {
 public:
  explicit LineLockWord(const std::wstring& program) {
    const std::wstring name = L"Global\\" + ETWLogging::LogLineLock::SectionName(program);
    section_.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str()));
    if (section_) word_ = static_cast<volatile int64_t*>(::MapViewOfFile(section_.get(), FILE_MAP_WRITE, 0, 0, 0));
  }
  ~LineLockWord() {
    if (word_) ::UnmapViewOfFile(const_cast<int64_t*>(word_));
  }
  bool Mapped() const { return word_ != nullptr; }
  void Set(int64_t value) { ::InterlockedExchange64(word_, value); }

 private:
  Strata::UniqueHandle section_;
  volatile int64_t* word_ = nullptr;
};

// A line waits while another process holds the line lock; a holder whose process has ended is
// replaced at once, not after the time-out, so a crash in mid-line costs the others nothing.
TEST_F(ProcessLog, TheLineLockIsSharedAndOutlivesAHolderThatDied) {
  LineLockWord word(appender_);
  ASSERT_TRUE(word.Mapped());
  // The writer's first line also moves to its file under the named mutex: take that first.
  HANDLE warm = Start(L"warm", 1);
  ASSERT_EQ(0u, Finish(warm));

  word.Set(ETWLogging::LogLineLock::OwnerValue(::GetCurrentProcessId(), ::GetCurrentThreadId()));
  HANDLE writer = Start(L"waiting", 1);
  ASSERT_NE(nullptr, writer);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(writer, 2000));
  EXPECT_EQ(1u, Lines().size()) << "nothing is written while another process holds the lock";
  word.Set(0);
  EXPECT_EQ(0u, Finish(writer));

  HANDLE ended = Start(L"ended", 1);
  ASSERT_NE(nullptr, ended);
  const DWORD endedId = ::GetProcessId(ended);
  ASSERT_EQ(0u, Finish(ended));
  word.Set(ETWLogging::LogLineLock::OwnerValue(endedId, 1));
  const ULONGLONG started = ::GetTickCount64();
  EXPECT_EQ(0u, Finish(Start(L"after", 1)));
  EXPECT_LT(::GetTickCount64() - started, ETWLogging::CLogging::kMutexWaitMs);
  EXPECT_EQ(4u, Lines().size());
}

}  // namespace
