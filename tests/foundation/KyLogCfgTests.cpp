#include <gtest/gtest.h>
#include <shlobj.h>

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

TEST(KyLogCfg, BadRequestsFailWithNonZeroCodes) {
  EXPECT_EQ(2u, RunTool(L""));
  EXPECT_EQ(2u, RunTool(L"mechanism sometimes"));
  EXPECT_EQ(2u, RunTool(L"set Severity lots"));
  EXPECT_EQ(2u, RunTool(L"set Severity 1 OnlyGroup"));
  EXPECT_EQ(1u, RunTool(L"get NoSuchKey-" + NewGuidText()));
  EXPECT_EQ(1u, RunTool(L"print C:\\no\\such\\file.log"));
}

}  // namespace
