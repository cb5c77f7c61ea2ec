#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DefaultLogBuilder.h"
#include "LogInstance.h"
#include "ETWEvent.h"
#include "ETWLogging.h"
#include "LogTestSupport.h"
#include "ModuleVersion.h"
#include "PublishedLevels.h"
#include "TraceRecorder.h"

namespace {

using ETWLogging::CETWLogging;
using namespace ZelTest;

constexpr wchar_t kGroup[] = L"TestGroup";
constexpr wchar_t kModule[] = L"C:\\somewhere\\Plugin.dll";
constexpr GUID kProviderGuid = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
constexpr GUID kEventGuid = {0xCD1DAAD0, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
constexpr TRACEHANDLE kSession = 0x77;
constexpr TRACEHANDLE kNewerSession = 0x88;

// Reads a payload the way a trace reader would, item by item.
struct Item {
  uint32_t type;
  uint32_t kind;
  std::vector<BYTE> value;
};
std::vector<Item> ParsePayload(const std::vector<BYTE>& bytes) {
  std::vector<Item> items;
  for (size_t at = 0; at + 10 <= bytes.size();) {
    Item item{};
    uint16_t length = 0;
    memcpy(&item.type, &bytes[at], 4);
    memcpy(&item.kind, &bytes[at + 4], 4);
    memcpy(&length, &bytes[at + 8], 2);
    at += 10;
    item.value.assign(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + length));
    at += length;
    items.push_back(item);
  }
  return items;
}
std::wstring TextOf(const Item& item) {
  return std::wstring(reinterpret_cast<const wchar_t*>(item.value.data()), item.value.size() / 2);
}

// Little-endian bytes written out by hand, as a reader's documentation would describe them.
class Bytes {
 public:
  Bytes& U32(uint32_t v) { return Raw(&v, 4); }
  Bytes& U16(uint16_t v) { return Raw(&v, 2); }
  Bytes& Text(const std::wstring& t) { return Raw(t.data(), t.size() * 2); }
  std::vector<BYTE> bytes;

 private:
  Bytes& Raw(const void* p, size_t n) {
    bytes.insert(bytes.end(), static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + n);
    return *this;
  }
};

class TraceLoggerTest : public ::testing::Test {
 protected:
  std::wstring LoggingKey() const { return base_ + L"\\SOFTWARE\\Varant\\Logging"; }
  std::wstring ProviderKey(const std::wstring& subkey = L"") const {
    return LoggingKey() + L"\\Provider" + (subkey.empty() ? L"" : L"\\" + subkey);
  }
  void SetDword(const std::wstring& path, const wchar_t* name, DWORD value) {
    ASSERT_EQ(0, ::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, REG_DWORD, &value, sizeof(value)));
  }
  std::unique_ptr<CETWLogging> NewLogger() {
    return std::make_unique<CETWLogging>(trace_, ETWLogging::RegistryPlace{HKEY_CURRENT_USER, base_ + L"\\"});
  }
  void Initialize() { ASSERT_EQ(0u, logger_->Initialize(kGroup, kModule, nullptr, nullptr)); }
  // Initializes, lets the first level test register, and has a session enable the provider.
  void EnableAt(UCHAR level, TRACEHANDLE session = kSession) {
    Initialize();
    logger_->IsLevelEnabled(level);
    ASSERT_EQ(0u, trace_.Enable(session, level));
  }
  DWORD Log(DWORD level, const std::wstring& text = L"hello") {
    return logger_->LogTextEx(level, L"Source", L"Class::Method", 42, text.c_str());
  }

  TempRegistryKey key_;
  std::wstring base_ = key_.Path();  // the registry the logger under test reads
  TraceRecorder trace_;
  std::unique_ptr<CETWLogging> logger_ = NewLogger();
};

TEST_F(TraceLoggerTest, WithoutASessionNothingIsSentAndCallersAreToldNothing) {
  Initialize();
  EXPECT_FALSE(logger_->IsLevelEnabled(5)) << "callers must not format for nobody";
  EXPECT_EQ(0u, logger_->EnsureReady());
  EXPECT_EQ(0u, Log(5));
  EXPECT_EQ(0u, logger_->LogFormat(5, L"Source", L"Fn", 1, L"%d", 7));
  EXPECT_TRUE(trace_.Events().empty());
  ASSERT_EQ(1u, trace_.Registrations().size());
  EXPECT_EQ(kProviderGuid, trace_.Registrations()[0].controlGuid);
  EXPECT_EQ(kEventGuid, trace_.Registrations()[0].traceGuid);
}

TEST_F(TraceLoggerTest, PayloadCarriesTheItemsInOrderWithExactLengthsAndNoTerminators) {
  EnableAt(3);
  ASSERT_EQ(0u, Log(4));
  ASSERT_EQ(1u, trace_.Events().size());
  const Strata::ModuleVersion& library = Strata::GetModuleVersion();
  std::wstring exe = ExecutableBaseName() + L".exe";
  Bytes expected;
  expected.U32(4).U32(2).U16(4).U32(::GetCurrentProcessId());
  expected.U32(5).U32(2).U16(4).U32(::GetCurrentThreadId());
  expected.U32(13).U32(4).U16(static_cast<uint16_t>(exe.size() * 2)).Text(exe);
  expected.U32(6).U32(4).U16(12).Text(L"Source");
  expected.U32(7).U32(5).U16(4).U32(42);
  expected.U32(8).U32(4).U16(26).Text(L"Class::Method");
  expected.U32(9).U32(4).U16(static_cast<uint16_t>(library.fileName.size() * 2)).Text(library.fileName);
  expected.U32(10).U32(4).U16(static_cast<uint16_t>(library.version.size() * 2)).Text(library.version);
  expected.U32(11).U32(4).U16(18).Text(L"TestGroup");
  expected.U32(12).U32(4).U16(10).Text(L"hello");
  EXPECT_EQ(expected.bytes, trace_.Events()[0].payload);
}

TEST_F(TraceLoggerTest, HeaderIsSixtyFourBytesPointingAtThePayload) {
  EnableAt(3);
  ASSERT_EQ(0u, Log(5));
  ASSERT_EQ(1u, trace_.Events().size());
  TraceRecorder::Event event = trace_.Events()[0];
  EXPECT_EQ(kSession, event.session);
  EXPECT_EQ(64, event.header.Size);
  EXPECT_EQ(1, event.header.Class.Type);
  EXPECT_EQ(5, event.header.Class.Level);
  EXPECT_EQ(1, event.header.Class.Version);
  EXPECT_EQ(kEventGuid, event.header.Guid);
  EXPECT_EQ(0x00120000u, event.header.Flags);
  EXPECT_EQ(event.payload.size(), event.field.Length);
  EXPECT_EQ(10u, ParsePayload(event.payload).size());
}

TEST_F(TraceLoggerTest, LevelRules) {
  struct Case {
    UCHAR sessionLevel;
    DWORD messageLevel;
    bool sent;
    UCHAR classLevel;
  } cases[] = {
      {3, 6, true, 3},  // 6 is a second "Information"; the trace format stops at 5
      {5, 3, true, 3},  // level 3 always passes
      {5, 4, false, 0}, {5, 5, true, 5}, {3, 2, false, 0}, {3, 4, true, 4}, {1, 1, true, 1}, {1, 0, false, 0},
  };
  EnableAt(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "session " << int(c.sessionLevel) << " message " << c.messageLevel);
    ASSERT_EQ(0u, trace_.Enable(kSession, c.sessionLevel));
    size_t before = trace_.Events().size();
    EXPECT_EQ(c.sent, logger_->IsLevelEnabled(c.messageLevel));
    EXPECT_EQ(0u, Log(c.messageLevel));
    ASSERT_EQ(before + (c.sent ? 1 : 0), trace_.Events().size());
    if (c.sent) {
      EXPECT_EQ(c.classLevel, trace_.Events().back().header.Class.Level);
    }
  }
}

// What every call site tests is the word the logger publishes: it must change with the session and
// the registry switches at once, and send the first test to the logger, which registers.
TEST_F(TraceLoggerTest, PublishedLevelsFollowTheSessionAndTheSwitchesAtOnce) {
  using ETWLogging::LevelGate;
  ZelTest::PublishedLevels published(*logger_, LevelGate::kNoLevel);
  Initialize();
  EXPECT_NE(0u, published.Word() & LevelGate::kAskLogger) << "the first test must reach the logger";
  logger_->IsLevelEnabled(4);
  ZelTest::ExpectWordFollowsEachChange(*logger_, published, {
      {"registered, no session", [] {}, 0},
      {"a session enables level 4", [&] { trace_.Enable(kSession, 4); }, 0xF8},
      {"it asks for level 1", [&] { trace_.Enable(kSession, 1); }, 0xFE},
      {"the provider key's Severity 5 applies", [&] {
         SetDword(ProviderKey(), L"Severity", 5);
         trace_.Enable(kSession, 1);
       }, 0xE8},
      {"the logger is switched off", [&] { logger_->SetEnabled(false); }, 0},
      {"and on", [&] { logger_->SetEnabled(true); }, 0xE8},
      {"the session disables the provider", [&] { trace_.Disable(kSession); }, 0},
  });
  logger_->Uninitialize();
  EXPECT_NE(0u, published.Word() & LevelGate::kAskLogger) << "registering again is the logger's";
}

// The process's own test, which every ZEL_LOG makes, sees the same at once.
TEST_F(TraceLoggerTest, TheProcessLevelTestFollowsTheSession) {
  Initialize();
  CLogInstance* instance = GetLogInstance();
  ASSERT_NE(instance, nullptr);
  instance->SetLogger(std::move(logger_));
  struct Restore {
    CLogInstance* instance;
    ~Restore() { instance->SetLogger(nullptr); }  // before the recorder the logger calls goes
  } restore{instance};
  EXPECT_FALSE(LogIsEnabled(4));
  EXPECT_EQ(1u, trace_.Registrations().size()) << "the first test registers the provider";
  ASSERT_EQ(0u, trace_.Enable(kSession, 4));
  EXPECT_TRUE(LogIsEnabled(4));
  EXPECT_TRUE(LogIsEnabled(3));
  EXPECT_FALSE(LogIsEnabled(2));
  ASSERT_EQ(0u, trace_.Disable(kSession));
  EXPECT_FALSE(LogIsEnabled(4));
  instance->SetLogger(nullptr);
  EXPECT_FALSE(LogIsEnabled(5)) << "no logger, nothing to format for";
}

TEST_F(TraceLoggerTest, LongTextsAreCut) {
  struct Case {
    size_t length;
    size_t sent;
  } cases[] = {{2080, 2080}, {3000, 3000}, {4160, 4160}, {4161, 2080}, {9000, 2080}};
  EnableAt(3);
  for (const Case& c : cases) {
    ASSERT_EQ(0u, Log(3, std::wstring(c.length, L'x')));
    std::vector<Item> items = ParsePayload(trace_.Events().back().payload);
    ASSERT_EQ(12u, items.back().type);
    EXPECT_EQ(std::wstring(c.sent, L'x'), TextOf(items.back())) << c.length;
  }
}

TEST_F(TraceLoggerTest, RegistrySwitchesOverrideTheSessionMostSpecificLast) {
  struct Setting {
    const wchar_t* subkey;  // under the provider key
    const wchar_t* name;
    DWORD value;
  };
  struct Case {
    std::vector<Setting> settings;
    bool enabled;
    DWORD severity;
  } cases[] = {
      {{}, true, 3},
      {{{L"", L"Severity", 5}}, true, 5},
      {{{L"", L"Severity", 9}}, true, 6},
      {{{L"", L"Severity", 5}, {L"TestGroup", L"Severity", 2}}, true, 2},
      {{{L"", L"Severity", 5}, {L"TestGroup", L"Severity", 2}, {L"TestGroup\\Plugin", L"Severity", 4}}, true, 4},
      {{{L"TestGroup", L"Enable", 0}}, false, 3},
      {{{L"", L"Enable", 0}, {L"TestGroup\\Plugin", L"Enable", 7}}, true, 3},
  };
  for (const Case& c : cases) {
    TempRegistryKey key;
    base_ = key.Path();
    for (const Setting& s : c.settings) SetDword(ProviderKey(s.subkey), s.name, s.value);
    logger_ = NewLogger();
    EnableAt(3, kSession + trace_.Registrations().size());
    EXPECT_EQ(c.enabled, logger_->IsEnabled()) << c.settings.size();
    EXPECT_EQ(c.severity, logger_->GetSeverity()) << c.settings.size();
    logger_.reset();
  }
}

TEST_F(TraceLoggerTest, RegistryEnableKeepsTheLoggerOnAfterTheSessionDisablesIt) {
  struct Case {
    bool registryEnable;
    bool enabledAfter;
  } cases[] = {{false, false}, {true, true}};
  for (const Case& c : cases) {
    if (c.registryEnable) SetDword(ProviderKey(), L"Enable", 1);
    logger_ = NewLogger();
    EnableAt(3);
    ASSERT_EQ(0u, trace_.Disable(kSession));
    EXPECT_EQ(c.enabledAfter, logger_->IsEnabled());
    EXPECT_EQ(0u, logger_->SessionHandle());
  }
}

TEST_F(TraceLoggerTest, ANewerSessionTakesOverAndOnlyTheHolderCanDisable) {
  EnableAt(3);
  ASSERT_EQ(0u, trace_.Enable(kNewerSession, 5));
  ASSERT_EQ(0u, Log(5));
  ASSERT_EQ(0u, trace_.Disable(kSession)) << "the older session no longer holds the provider";
  EXPECT_TRUE(logger_->IsEnabled());
  ASSERT_EQ(0u, Log(5));
  std::vector<TraceRecorder::Event> events = trace_.Events();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(kNewerSession, events[0].session);
  EXPECT_EQ(kNewerSession, events[1].session);
  ASSERT_EQ(0u, trace_.Disable(kNewerSession));
  ASSERT_EQ(0u, Log(5));
  EXPECT_EQ(2u, trace_.Events().size());
}

TEST_F(TraceLoggerTest, SessionsEnableFromOtherThreadsAndFromInsideRegistration) {
  enum class From { AnotherThread, InsideRegistration };
  for (From from : {From::AnotherThread, From::InsideRegistration}) {
    TraceRecorder trace;
    CETWLogging logger(trace, {HKEY_CURRENT_USER, key_.Path() + L"\\"});
    ASSERT_EQ(0u, logger.Initialize(kGroup, nullptr, nullptr, nullptr));
    if (from == From::InsideRegistration) trace.duringRegistration = [&] { trace.Enable(kSession, 4); };
    logger.EnsureReady();
    if (from == From::AnotherThread) {
      ASSERT_EQ(0u, trace.EnableFromAnotherThread(kSession, 4));
    }
    EXPECT_TRUE(logger.IsLevelEnabled(4));
    EXPECT_EQ(0u, logger.LogTextEx(4, L"s", L"f", 1, L"t"));
    EXPECT_EQ(1u, trace.Events().size());
  }
}

TEST_F(TraceLoggerTest, TwoFirstMessagesRegisterOnce) {
  Initialize();
  trace_.registrationDelayMs = 100;
  std::thread other([&] { logger_->EnsureReady(); });
  logger_->EnsureReady();
  other.join();
  EXPECT_EQ(1u, trace_.Registrations().size());
}

TEST_F(TraceLoggerTest, AFailedRegistrationStopsThatMessageOnly) {
  Initialize();
  trace_.registrationResult = ERROR_ACCESS_DENIED;
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), logger_->EnsureReady());
  EXPECT_EQ(0u, logger_->EnsureReady());
  EXPECT_EQ(1u, trace_.Registrations().size());
}

TEST_F(TraceLoggerTest, DeletingTheLoggerWithdrawsTheRegistration) {
  EnableAt(3);
  TRACEHANDLE handle = trace_.Registrations()[0].handle;
  logger_.reset();
  EXPECT_EQ(std::vector<TRACEHANDLE>{handle}, trace_.Unregistrations());
  EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_HANDLE), trace_.Enable(kSession, 3)) << "nothing left to call";
}

TEST_F(TraceLoggerTest, UninitializeUnregistersAndAllowsANewStart) {
  EnableAt(3);
  EXPECT_EQ(20001u, logger_->Initialize(kGroup, nullptr, nullptr, nullptr));
  EXPECT_EQ(0u, logger_->Uninitialize());
  EXPECT_EQ(1u, trace_.Unregistrations().size());
  EXPECT_EQ(0u, Log(5));
  EXPECT_TRUE(trace_.Events().empty());
  EXPECT_EQ(0u, logger_->Initialize(kGroup, nullptr, nullptr, nullptr));
  EXPECT_TRUE(logger_->IsEnabled());
}

TEST_F(TraceLoggerTest, ControlRequestsOtherThanEnableAndDisableAreRefused) {
  EnableAt(3);
  for (WMIDPREQUESTCODE code : {WMI_GET_ALL_DATA, WMI_ENABLE_COLLECTION, WMI_EXECUTE_METHOD})
    EXPECT_EQ(87u, trace_.Request(code, kSession)) << code;
  EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_HANDLE), trace_.Enable(0, 3)) << "a request without a session";
}

TEST_F(TraceLoggerTest, InitializeRefusesEmptyNames) {
  EXPECT_EQ(87u, logger_->Initialize(L"", nullptr, nullptr, nullptr));
  EXPECT_EQ(87u, logger_->Initialize(kGroup, nullptr, L"", nullptr));
  EXPECT_EQ(87u, NewLogger()->InitializeEx(L"NoSuchProduct", kGroup, nullptr, nullptr, nullptr));
  std::wstring name;
  Initialize();
  logger_->GetModuleLogName(&name);
  EXPECT_EQ(L"TestGroup\\Plugin", name);
}

class TracePropertiesTest : public ::testing::Test {
 protected:
  std::wstring ProductKey(const wchar_t* subkey = nullptr) const {
    return key_.Path() + L"\\" + ETWLogging::internal::ETWAppProperties::ProductKeyPath(L"Acme", subkey);
  }
  void SetGuid(const std::wstring& path, const wchar_t* name, const GUID& guid) {
    ASSERT_EQ(0, ::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, REG_BINARY, &guid, sizeof(guid)));
  }
  void SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    ASSERT_EQ(0, ::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, REG_SZ, text.c_str(),
                                   static_cast<DWORD>((text.size() + 1) * 2)));
  }
  void WriteLayout(bool withProviderGuid) {
    SetText(ProductKey(), L"Log Path", L"\\Acme\\Logs");
    SetText(ProductKey(L"Controller"), L"Controller Path", L"C:\\Acme\\ctl.exe");
    SetText(ProductKey(L"Controller"), L"Owner Mutex Name", L"Global\\AcmeOwner");
    SetGuid(ProductKey(L"Session"), L"Session ID Guid", kEventGuid);
    SetText(ProductKey(L"Session"), L"Session Name", L"AcmeSession");
    if (withProviderGuid) SetGuid(ProductKey(L"Provider"), L"Provider Guid", kAcmeProvider);
  }
  static constexpr GUID kAcmeProvider = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
  TempRegistryKey key_;
};

TEST_F(TracePropertiesTest, ProductsLoadFromTheirKeyOrFromTheBuiltInDefaults) {
  ETWLogging::internal::ETWAppProperties builtIn({HKEY_CURRENT_USER, key_.Path() + L"\\"});
  ASSERT_EQ(0u, builtIn.Load(nullptr));
  EXPECT_EQ(kProviderGuid, builtIn.ProviderGuid());
  EXPECT_EQ(key_.Path() + L"\\SOFTWARE\\Varant\\Logging\\Provider", builtIn.ProviderKey());
  EXPECT_EQ(L"Global\\Varant.{0696D115-BE52-46c3-BFEE-D73A305B6581}", builtIn.OwnerMutexName());
  EXPECT_EQ(L"Varant.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}", builtIn.SessionName());
  EXPECT_NE(std::wstring::npos, builtIn.EtlFilePath().find(L"\\Varant\\KYLOGS\\ETW\\kylogs.etl"));

  ETWLogging::internal::ETWAppProperties unknown({HKEY_CURRENT_USER, key_.Path() + L"\\"});
  EXPECT_EQ(87u, unknown.Load(L"Acme")) << "only QRV has defaults";
  WriteLayout(false);
  EXPECT_EQ(87u, unknown.Load(L"Acme")) << "loads once";
  ETWLogging::internal::ETWAppProperties incomplete({HKEY_CURRENT_USER, key_.Path() + L"\\"});
  EXPECT_EQ(87u, incomplete.Load(L"Acme")) << "the provider GUID is required";

  WriteLayout(true);
  ETWLogging::internal::ETWAppProperties acme({HKEY_CURRENT_USER, key_.Path() + L"\\"});
  ASSERT_EQ(0u, acme.Load(L"Acme"));
  EXPECT_EQ(kAcmeProvider, acme.ProviderGuid());
  EXPECT_EQ(ProductKey(L"Provider"), acme.ProviderKey());
  EXPECT_EQ(L"AcmeSession", acme.SessionName());
  EXPECT_NE(std::wstring::npos, acme.LogPath().find(L"\\Acme\\Logs"));
  EXPECT_NE(std::wstring::npos, acme.EtlFilePath().find(L"\\Varant\\KYLOGS\\ETW\\kylogs.etl"));
}

TEST(TraceLoggerBuild, WithoutAMechanismValueTheBuilderMakesTheTraceLogger) {
  ETWLogging::LogConfigSource missing{HKEY_CURRENT_USER, L"Software\\ZelTests\\NoSuchKey\\" + NewGuidText()};
  ETWLogging::CLoggingIf* built = nullptr;
  ASSERT_EQ(0u, ETWLogging::CDefaultLogBuilder::Instance().BuildEx(nullptr, L"BuilderGroup", nullptr, nullptr, 0,
                                                                     &built, &missing));
  std::unique_ptr<ETWLogging::CLoggingIf> logger(built);
  EXPECT_NE(nullptr, dynamic_cast<CETWLogging*>(logger.get()));
  EXPECT_FALSE(logger->IsLevelEnabled(5)) << "no session on this machine";
}

}  // namespace
