#include <gtest/gtest.h>

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "BaseIniReader.h"
#include "ObfuscatedIniReader.h"
#include "TestSupport.h"

namespace {

using Strata::CBaseIniReader;
using Strata::CObfuscatedIniReader;

void WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  if (!bytes.empty()) ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
  ASSERT_EQ(bytes.size(), written);
}

std::vector<BYTE> Ascii(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

std::wstring FileText(const std::wstring& path) {
  std::vector<unsigned char> bytes = ZelTest::ReadFileBytes(path);
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return std::wstring();
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

void WriteFileText(const std::wstring& path, const std::wstring& text) {
  std::vector<BYTE> bytes = {0xFF, 0xFE};
  const BYTE* p = reinterpret_cast<const BYTE*>(text.data());
  bytes.insert(bytes.end(), p, p + text.size() * sizeof(wchar_t));
  WriteFileBytes(path, bytes);
}

size_t FilesIn(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
  size_t count = 0;
  if (find == INVALID_HANDLE_VALUE) return count;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return count;
}

// The same behaviours hold for the plain and the scrambling reader.
template <typename Reader>
class IniReaderTest : public ::testing::Test {
 protected:
  ZelTest::TempFolder folder_;
  std::wstring path_ = folder_ / L"log.ini";
};
using ReaderTypes = ::testing::Types<CBaseIniReader, CObfuscatedIniReader>;
TYPED_TEST_SUITE(IniReaderTest, ReaderTypes);

TYPED_TEST(IniReaderTest, MissingFileReadsAbsentAndTheFirstWriteCreatesIt) {
  TypeParam reader;
  EXPECT_FALSE(reader.Load(this->path_.c_str()));
  EXPECT_EQ(this->path_, reader.Path());
  DWORD value = 0;
  EXPECT_FALSE(reader.ReadDword(L"Config", L"Enable", &value));
  ASSERT_TRUE(reader.WriteDword(L"Config", L"Enable", 0));
  EXPECT_TRUE(ZelTest::FileExists(this->path_));
  EXPECT_TRUE(reader.ReadDword(L"Config", L"Enable", &value));
  EXPECT_EQ(0u, value);

  TypeParam inMissingFolder;
  inMissingFolder.Load((this->folder_ / L"absent\\log.ini").c_str());
  EXPECT_FALSE(inMissingFolder.WriteDword(L"Config", L"Enable", 1));
}

TYPED_TEST(IniReaderTest, WritesKeepEveryOtherSectionAndKey) {
  TypeParam writer;
  writer.Load(this->path_.c_str());
  ASSERT_TRUE(writer.WriteDword(L"Config", L"MaxSize", 262144));
  ASSERT_TRUE(writer.WriteDword(L"Config", L"Severity", 3));
  ASSERT_TRUE(writer.WriteDword(L"Other", L"Severity", 5));
  ASSERT_TRUE(writer.WriteDword(L"Config", L"MaxSize", 0xFFFFFFFF));

  TypeParam reader;
  EXPECT_TRUE(reader.Load(this->path_.c_str()));
  DWORD value = 0;
  EXPECT_TRUE(reader.ReadDword(L"Config", L"MaxSize", &value));
  EXPECT_EQ(0xFFFFFFFFu, value);
  EXPECT_TRUE(reader.ReadDword(L"config", L"SEVERITY", &value));
  EXPECT_EQ(3u, value);
  EXPECT_TRUE(reader.ReadDword(L"Other", L"Severity", &value));
  EXPECT_EQ(5u, value);
  EXPECT_FALSE(reader.ReadDword(L"Other", L"MaxSize", &value));
}

// Several processes share one log.ini: a reader sees what another writer stored after it loaded.
TYPED_TEST(IniReaderTest, ReaderSeesWhatAnotherWriterStoredSince) {
  TypeParam reader, writer;
  reader.Load(this->path_.c_str());
  writer.Load(this->path_.c_str());
  DWORD value = 0;
  EXPECT_FALSE(reader.ReadDword(L"Config", L"LastLogIdx", &value));
  for (DWORD index = 0; index < 5; ++index) {
    ASSERT_TRUE(writer.WriteDword(L"Config", L"LastLogIdx", index));
    ASSERT_TRUE(reader.ReadDword(L"Config", L"LastLogIdx", &value));
    EXPECT_EQ(index, value);
  }
  ASSERT_TRUE(reader.WriteDword(L"Config", L"Enable", 1));
  ASSERT_TRUE(writer.WriteDword(L"Config", L"Options", 48));
  EXPECT_TRUE(reader.ReadDword(L"Config", L"Enable", &value));
  EXPECT_TRUE(reader.ReadDword(L"Config", L"Options", &value));
  EXPECT_EQ(48u, value);
  ::DeleteFileW(this->path_.c_str());
  EXPECT_FALSE(reader.ReadDword(L"Config", L"Options", &value));
}

TEST(BaseIniReader, ReadsOnlyWholeDecimalNumbers) {
  ZelTest::TempFolder folder;
  std::wstring path = folder / L"plain.ini";
  WriteFileBytes(path, Ascii("[Config]\r\nA=12\r\nB=abc\r\nC=-1\r\nD=4294967296\r\nE=\r\nF=7x\r\n"));
  CBaseIniReader reader;
  ASSERT_TRUE(reader.Load(path.c_str()));
  DWORD value = 0;
  EXPECT_TRUE(reader.ReadDword(L"Config", L"A", &value));
  EXPECT_EQ(12u, value);
  for (const wchar_t* key : {L"B", L"C", L"D", L"E", L"F"})
    EXPECT_FALSE(reader.ReadDword(L"Config", key, &value)) << key;
}

class ObfuscatedIniReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { reader_.Load(path_.c_str()); }
  DWORD Read(const wchar_t* key, DWORD fallback = 12345) {
    DWORD value = 0;
    return reader_.ReadDword(L"Config", key, &value) ? value : fallback;
  }

  ZelTest::TempFolder folder_;
  std::wstring path_ = folder_ / L"log.ini";
  CObfuscatedIniReader reader_;
};

TEST_F(ObfuscatedIniReaderTest, ValuesAreScrambledAndNamesReadable) {
  ASSERT_TRUE(reader_.WriteDword(L"Config", L"Severity", 3));
  std::wstring text = FileText(path_);
  EXPECT_NE(std::wstring::npos, text.find(L"[Config]\r\nSeverity="));
  EXPECT_EQ(std::wstring::npos, text.find(L"Severity=3\r\n"));
  // Each write replaces the file whole; no temporary file stays behind.
  EXPECT_EQ(1u, FilesIn(folder_.Path()));
}

TEST_F(ObfuscatedIniReaderTest, HandWrittenMovedAndDamagedValuesReadAbsent) {
  ASSERT_TRUE(reader_.WriteDword(L"Config", L"Severity", 3));
  std::wstring sealed = FileText(path_);
  size_t start = sealed.find(L"Severity=") + 9;
  sealed = sealed.substr(start, sealed.find(L"\r\n", start) - start);

  std::wstring damaged = sealed;
  damaged[4] = damaged[4] == L'0' ? L'1' : L'0';
  WriteFileText(path_, L"[Config]\r\nEnable=1\r\nMaxEntries=" + sealed + L"\r\nSeverity=" + damaged +
                           L"\r\nOptions = " + sealed.substr(0, sealed.size() - 2) + L"\r\n");
  EXPECT_EQ(12345u, Read(L"Enable"));
  EXPECT_EQ(12345u, Read(L"MaxEntries"));
  EXPECT_EQ(12345u, Read(L"Severity"));
  EXPECT_EQ(12345u, Read(L"Options"));

  // A write keeps the keys it cannot read, as they are.
  ASSERT_TRUE(reader_.WriteDword(L"Config", L"Severity", 4));
  EXPECT_EQ(4u, Read(L"Severity"));
  EXPECT_NE(std::wstring::npos, FileText(path_).find(L"Enable=1\r\n"));
}

TEST_F(ObfuscatedIniReaderTest, GarbageFilesReadAbsentAndAreRewrittenWhole) {
  std::mt19937 random(7);
  std::vector<BYTE> binary(65536);
  for (BYTE& b : binary) b = static_cast<BYTE>(random());
  std::vector<BYTE> withBom = {0xFF, 0xFE, 'x', 0, '[', 0, 'C'};
  std::string hugeLine = "[Config]\r\nEnable=" + std::string(600000, '7');
  std::vector<std::vector<BYTE>> contents = {
      binary,
      withBom,
      {0xFF, 0xFE},
      {0xFF},
      {},
      Ascii(hugeLine),
      Ascii(std::string(3 << 20, '[')),  // beyond the size a settings file can have
      Ascii("[Config\r\nEnable=1\r\n[]\r\n=5\r\n[\r\n]\r\n;\r\n==\r\n"),
      Ascii(std::string("[Config]\0Enable=1\n\r\n\n\r", 22)),
  };
  for (size_t i = 0; i < contents.size(); ++i) {
    WriteFileBytes(path_, contents[i]);
    EXPECT_EQ(12345u, Read(L"Enable")) << "content " << i;
    ASSERT_TRUE(reader_.WriteDword(L"Config", L"Enable", static_cast<DWORD>(i))) << "content " << i;
    EXPECT_EQ(i, Read(L"Enable")) << "content " << i;
    CObfuscatedIniReader fresh;
    fresh.Load(path_.c_str());
    DWORD value = 0;
    EXPECT_TRUE(fresh.ReadDword(L"Config", L"Enable", &value)) << "content " << i;
  }
}

TEST_F(ObfuscatedIniReaderTest, KeysAfterABrokenHeaderBelongNowhere) {
  ASSERT_TRUE(reader_.WriteDword(L"Config", L"Enable", 1));
  std::wstring text = FileText(path_);
  size_t header = text.find(L"[Config]");
  text.replace(header, 8, L"[Config");
  WriteFileText(path_, text);
  EXPECT_EQ(12345u, Read(L"Enable"));
}

TEST_F(ObfuscatedIniReaderTest, NamesThatWouldNotReadBackAreRefused) {
  ASSERT_TRUE(reader_.WriteDword(L"Config", L"Enable", 1));
  std::vector<unsigned char> before = ZelTest::ReadFileBytes(path_);
  EXPECT_FALSE(reader_.WriteDword(L"Config", L"a=b", 1));
  EXPECT_FALSE(reader_.WriteDword(L"Config", L" padded", 1));
  EXPECT_FALSE(reader_.WriteDword(L"Config", L"[key", 1));
  EXPECT_FALSE(reader_.WriteDword(L"Config", L"", 1));
  EXPECT_FALSE(reader_.WriteDword(L"Con]fig", L"Enable", 1));
  EXPECT_FALSE(reader_.WriteDword(L"Config", L"two\r\nlines", 1));
  EXPECT_FALSE(reader_.WriteDword(nullptr, L"Enable", 1));
  EXPECT_EQ(before, ZelTest::ReadFileBytes(path_));
}

}  // namespace
