#include <gtest/gtest.h>
#include <shlobj.h>

#include "LogLock.h"
#include "LogTestSupport.h"
#include "ObfuscatedIniReader.h"
#include "ObfuscatedRegKey.h"

namespace {

using namespace ZelTest;

DWORD RunTool(const std::wstring& arguments, std::string* output = nullptr) {
  std::string ignored;
  return RunProcess(L"\"" + SiblingPath(L"KyLogCfg.exe") + L"\" " + arguments, output ? output : &ignored);
}

std::wstring ProgramData() {
  PWSTR raw = nullptr;
  ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &raw);
  std::wstring folder = raw;
  ::CoTaskMemFree(raw);
  return folder;
}

TEST(KyLogCfg, ModuleSettingRoundTripsThroughTheScrambledFile) {
  std::wstring group = L"Cfg-" + NewGuidText();
  ASSERT_EQ(0u, RunTool(L"set Severity 1 " + group + L" SomeModule"));
  std::string output;
  ASSERT_EQ(0u, RunTool(L"get Severity " + group + L" SomeModule", &output));
  EXPECT_EQ(0u, output.find("1"));

  std::wstring ini = ProgramData() + L"\\Varant\\KYLOGS\\" + group + L"\\SomeModule\\log.ini";
  Strata::CObfuscatedIniReader reader;
  ASSERT_TRUE(reader.Load(ini.c_str()));
  DWORD value = 0;
  EXPECT_TRUE(reader.ReadDword(L"Config", L"Severity", &value));
  EXPECT_EQ(1u, value);
  std::vector<unsigned char> raw = ReadFileBytes(ini);
  EXPECT_EQ(std::string::npos, std::string(raw.begin(), raw.end()).find("Severity=1")) << "kept in clear";
  DeleteTree(ProgramData() + L"\\Varant\\KYLOGS\\" + group);
}

// A module's logger rewrites its log.ini under its lock; the tool must not rewrite it meanwhile.
TEST(KyLogCfg, SetWaitsForTheModuleLoggersLock) {
  std::wstring group = L"Cfg-" + NewGuidText();
  std::wstring module = L"Locked" + NewGuidText().substr(0, 8);
  std::wstring ini = ProgramData() + L"\\Varant\\KYLOGS\\" + group + L"\\" + module + L"\\log.ini";
  Strata::UniqueHandle logger(
      ::CreateMutexW(nullptr, TRUE, (L"Global\\" + ETWLogging::LogMutexName(module)).c_str()));
  ASSERT_TRUE(logger.valid());
  EXPECT_EQ(1u, RunTool(L"set Severity 1 " + group + L" " + module)) << "the logger holds its lock throughout";
  EXPECT_FALSE(FileExists(ini));
  ::ReleaseMutex(logger.get());
  EXPECT_EQ(0u, RunTool(L"set Severity 1 " + group + L" " + module));
  EXPECT_TRUE(FileExists(ini));
  DeleteTree(ProgramData() + L"\\Varant\\KYLOGS\\" + group);
}

TEST(KyLogCfg, SharedSettingAndHexValues) {
  ASSERT_EQ(0u, RunTool(L"set KyLogCfgTestKey 0x10"));
  std::string output;
  ASSERT_EQ(0u, RunTool(L"get KyLogCfgTestKey", &output));
  EXPECT_EQ(0u, output.find("16"));
}

TEST(KyLogCfg, MechanismWritesTheScrambledSwitch) {
  ASSERT_EQ(0u, RunTool(L"mechanism file"));
  Strata::CObfuscatedRegKey key;
  ASSERT_EQ(0, key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Varant\\Logging", KEY_READ));
  DWORD value = 7;
  EXPECT_EQ(0, key.QueryDWORDValue(L"Logging Mechanism", value));
  EXPECT_EQ(1u, value);
  ASSERT_EQ(0u, RunTool(L"mechanism trace"));
  EXPECT_EQ(0, key.QueryDWORDValue(L"Logging Mechanism", value));
  EXPECT_EQ(0u, value);
}

TEST(KyLogCfg, PrintsUtf16LogsAsUtf8) {
  TempFolder folder;
  std::wstring path = folder / L"x.log";
  const wchar_t text[] = L"\xFEFF" L"Gr\x00fc\x00dF \x20AC\r\n";
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  ::WriteFile(file, text, static_cast<DWORD>(wcslen(text) * 2), &written, nullptr);
  ::CloseHandle(file);
  std::string output;
  ASSERT_EQ(0u, RunTool(L"print \"" + path + L"\"", &output));
  EXPECT_EQ("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\r\n", output);
}

TEST(KyLogCfg, HelpNamesTheProviderAndTheCaptureCommands) {
  std::string output;
  ASSERT_EQ(0u, RunTool(L"help", &output));
  for (const char* expected : {"{E16CA450-55CC-11E0-B8AF-0800200C9A66}", "logman start", "logman stop", "tracerpt"})
    EXPECT_NE(std::string::npos, output.find(expected)) << expected << "\n" << output;
}

TEST(KyLogCfg, BadRequestsFailWithNonZeroCodes) {
  EXPECT_EQ(2u, RunTool(L""));
  EXPECT_EQ(2u, RunTool(L"mechanism sometimes"));
  EXPECT_EQ(2u, RunTool(L"set Severity lots"));
  EXPECT_EQ(2u, RunTool(L"set Severity 1 OnlyGroup"));
  EXPECT_EQ(1u, RunTool(L"get NoSuchKey-" + NewGuidText()));
  EXPECT_EQ(1u, RunTool(L"print C:\\no\\such\\file.log"));
}

}  // namespace
