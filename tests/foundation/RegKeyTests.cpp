#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "ObfuscatedRegKey.h"
#include "RegKey.h"
#include "TestSupport.h"

namespace {

using Strata::CObfuscatedRegKey;
using Strata::CRegKey;

constexpr GUID kSampleGuid = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

void CreateKeyWithValue(HKEY root, const std::wstring& path, DWORD value, REGSAM view = 0) {
  CRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Create(root, path.c_str(), REG_NONE, REG_OPTION_NON_VOLATILE,
                                      KEY_READ | KEY_WRITE | view));
  ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"mark", value));
}

class RegKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ERROR_SUCCESS, key_.Open(temp_.Root(), temp_.Path().c_str())); }
  std::wstring Below(const wchar_t* name) const { return temp_.Path() + L"\\" + name; }

  ZelTest::TempRegistryKey temp_;
  CRegKey key_;
};

TEST_F(RegKeyTest, ClosedKeyAndMissingArgumentsGive87) {
  CRegKey closed;
  DWORD dword = 0;
  wchar_t name[8];
  DWORD chars = 8;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.SetDWORDValue(L"v", 1));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.QueryDWORDValue(L"v", dword));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.DeleteValue(L"v"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.EnumKey(0, name, &chars));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.Flush());
  EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.SecureKey(false));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.Open(nullptr, L"Software"));

  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.SetValue(L"v", REG_BINARY, nullptr, 4));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.SetValue(L"v", REG_BINARY, &dword, 0));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.QueryBinaryValue(L"v", &dword, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.QueryStringValue(L"v", name, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.EnumKey(0, nullptr, &chars));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.DeleteSubKey(L""));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.RecurseDeleteKey(nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.NotifyChangeKeyValue(true, REG_NOTIFY_CHANGE_LAST_SET, nullptr, true));
}

// Reads after a failed open or create must not reach the key held before it.
TEST_F(RegKeyTest, AFailedOpenOrCreateLeavesTheKeyClosed) {
  ASSERT_EQ(ERROR_SUCCESS, key_.SetDWORDValue(L"stale", 7));
  CRegKey volatileKey;  // may hold no lasting subkey
  ASSERT_EQ(ERROR_SUCCESS, volatileKey.Create(temp_.Root(), Below(L"volatile").c_str(), REG_NONE,
                                              REG_OPTION_VOLATILE, KEY_READ | KEY_WRITE));
  DWORD value = 0;
  EXPECT_NE(ERROR_SUCCESS, key_.Open(temp_.Root(), Below(L"missing").c_str()));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.QueryDWORDValue(L"stale", value));
  ASSERT_EQ(ERROR_SUCCESS, key_.Open(temp_.Root(), temp_.Path().c_str()));
  EXPECT_NE(ERROR_SUCCESS, key_.Create(volatileKey.Handle(), L"lasting", REG_NONE, REG_OPTION_NON_VOLATILE,
                                       KEY_READ | KEY_WRITE));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key_.QueryDWORDValue(L"stale", value));
}

TEST_F(RegKeyTest, NullTextsAndWrongTypesGive13) {
  EXPECT_EQ(ERROR_INVALID_DATA, key_.SetStringValue(L"s", nullptr));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.SetMultiStringValue(L"m", nullptr));
  ASSERT_EQ(ERROR_SUCCESS, key_.SetDWORDValue(L"d", 7));
  ASSERT_EQ(ERROR_SUCCESS, key_.SetStringValue(L"s", L"text"));
  WORD shortData = 1;
  ASSERT_EQ(ERROR_SUCCESS, key_.SetValue(L"short", REG_DWORD, &shortData, sizeof(shortData)));

  DWORD dword = 0;
  ULONGLONG qword = 0;
  std::wstring text;
  BYTE binary[16];
  DWORD bytes = sizeof(binary);
  wchar_t buffer[16];
  ULONG chars = 16;
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryQWORDValue(L"d", qword));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryStringValue(L"d", text));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryBinaryValue(L"d", binary, &bytes));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryDWORDValue(L"s", dword));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryMultiStringValue(L"s", buffer, &chars));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryDWORDValue(L"short", dword));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key_.QueryDWORDValue(L"absent", dword));
  EXPECT_EQ(ERROR_SUCCESS, key_.QueryDWORDValue(L"d", dword));
  EXPECT_EQ(7u, dword);
}

TEST_F(RegKeyTest, StringQueriesNeedWholeTerminatedText) {
  // The registry adds a terminator that the count left out when one follows the data; "d" does not.
  ASSERT_EQ(ERROR_SUCCESS, key_.SetValue(L"open", REG_SZ, L"abcd", 3 * sizeof(wchar_t)));
  ASSERT_EQ(ERROR_SUCCESS, key_.SetValue(L"odd", REG_SZ, L"abc", 7));
  ASSERT_EQ(ERROR_SUCCESS, key_.SetStringValue(L"good", L"abc", REG_EXPAND_SZ));

  wchar_t buffer[16] = L"junk";
  ULONG chars = 16;
  std::wstring text;
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryStringValue(L"open", buffer, &chars));
  EXPECT_STREQ(L"", buffer);
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryStringValue(L"open", text));
  chars = 16;
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryStringValue(L"odd", buffer, &chars));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryStringValue(L"odd", text));

  chars = 0;
  EXPECT_EQ(ERROR_SUCCESS, key_.QueryStringValue(L"good", nullptr, &chars));
  EXPECT_EQ(4u, chars);
  chars = 3;
  EXPECT_EQ(ERROR_MORE_DATA, key_.QueryStringValue(L"good", buffer, &chars));
  EXPECT_EQ(4u, chars);
  EXPECT_EQ(ERROR_SUCCESS, key_.QueryStringValue(L"good", buffer, &chars));
  EXPECT_STREQ(L"abc", buffer);
  EXPECT_EQ(ERROR_SUCCESS, key_.QueryStringValue(L"good", text));
  EXPECT_EQ(L"abc", text);
}

TEST_F(RegKeyTest, MultiStringsNeedTwoTerminators) {
  wchar_t buffer[32];
  ULONG chars = 1;
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, key_.QueryMultiStringValue(L"list", buffer, &chars));

  ASSERT_EQ(ERROR_SUCCESS, key_.SetMultiStringValue(L"list", L"one\0two\0"));
  chars = 32;
  ASSERT_EQ(ERROR_SUCCESS, key_.QueryMultiStringValue(L"list", buffer, &chars));
  EXPECT_EQ(9u, chars);
  EXPECT_EQ(0, std::wmemcmp(L"one\0two\0", buffer, 9));

  // An empty list is stored with both terminators, so that it reads back.
  ASSERT_EQ(ERROR_SUCCESS, key_.SetMultiStringValue(L"empty", L""));
  chars = 32;
  ASSERT_EQ(ERROR_SUCCESS, key_.QueryMultiStringValue(L"empty", buffer, &chars));
  EXPECT_EQ(2u, chars);

  ASSERT_EQ(ERROR_SUCCESS, key_.SetValue(L"single", REG_MULTI_SZ, L"one", 8));
  chars = 32;
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryMultiStringValue(L"single", buffer, &chars));
  ASSERT_EQ(ERROR_SUCCESS, key_.SetStringValue(L"text", L"one"));
  chars = 32;
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryMultiStringValue(L"text", buffer, &chars));
}

TEST_F(RegKeyTest, GuidTextMustBeBracedAndShort) {
  ASSERT_EQ(ERROR_SUCCESS, key_.SetGUIDValue(L"guid", kSampleGuid));
  GUID read = GUID_NULL;
  ASSERT_EQ(ERROR_SUCCESS, key_.QueryGUIDValue(L"guid", read));
  EXPECT_EQ(kSampleGuid, read);
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, key_.QueryStringValue(L"guid", text));
  EXPECT_EQ(L"{12345678-9ABC-DEF0-0123-456789ABCDEF}", text);

  const wchar_t* bad[] = {L"12345678-9ABC-DEF0-0123-456789ABCDEF", L"{not a guid}", L""};
  for (const wchar_t* value : bad) {
    ASSERT_EQ(ERROR_SUCCESS, key_.SetStringValue(L"bad", value));
    read = kSampleGuid;
    EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryGUIDValue(L"bad", read)) << value;
    EXPECT_EQ(GUID_NULL, read) << value;
  }
  std::wstring tooLong = L"{12345678-9ABC-DEF0-0123-456789ABCDEF}" + std::wstring(27, L' ');
  ASSERT_EQ(ERROR_SUCCESS, key_.SetStringValue(L"long", tooLong.c_str()));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryGUIDValue(L"long", read));
  ASSERT_EQ(ERROR_SUCCESS, key_.SetDWORDValue(L"number", 5));
  EXPECT_EQ(ERROR_INVALID_DATA, key_.QueryGUIDValue(L"number", read));
}

TEST_F(RegKeyTest, CopiesShareOneKeyAndCreateReportsDisposition) {
  CRegKey copy = key_;
  ASSERT_EQ(ERROR_SUCCESS, copy.SetDWORDValue(L"shared", 3));
  DWORD value = 0;
  EXPECT_EQ(ERROR_SUCCESS, key_.QueryDWORDValue(L"shared", value));
  key_.Close();
  EXPECT_EQ(nullptr, copy.Handle());

  CRegKey child;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, child.Create(temp_.Root(), Below(L"child").c_str(), REG_NONE, REG_OPTION_NON_VOLATILE,
                                        KEY_READ | KEY_WRITE, nullptr, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, child.Create(temp_.Root(), Below(L"child").c_str(), REG_NONE, REG_OPTION_NON_VOLATILE,
                                        KEY_READ | KEY_WRITE, nullptr, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  // A failed open closes the key that was open.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, child.Open(temp_.Root(), Below(L"absent").c_str()));
  EXPECT_EQ(nullptr, child.Handle());
}

TEST_F(RegKeyTest, DeleteOnCloseEmptiesTheKeyOnce) {
  CreateKeyWithValue(temp_.Root(), Below(L"doomed\\a\\b"), 1);
  CreateKeyWithValue(temp_.Root(), Below(L"doomed\\c"), 2);
  CRegKey doomed;
  ASSERT_EQ(ERROR_SUCCESS, doomed.Open(temp_.Root(), Below(L"doomed").c_str(), KEY_ALL_ACCESS));
  ASSERT_EQ(ERROR_SUCCESS, doomed.SetDWORDValue(L"own", 1));
  doomed.SetDeleteOnClose(true);
  EXPECT_EQ(ERROR_SUCCESS, doomed.Close());
  EXPECT_FALSE(KeyExists(temp_.Root(), Below(L"doomed\\a")));
  EXPECT_FALSE(KeyExists(temp_.Root(), Below(L"doomed\\c")));
  ASSERT_EQ(ERROR_SUCCESS, doomed.Open(temp_.Root(), Below(L"doomed").c_str(), KEY_ALL_ACCESS));
  DWORD value = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, doomed.QueryDWORDValue(L"own", value));

  // The flag belonged to the key that was closed; the next key stays whole.
  ASSERT_EQ(ERROR_SUCCESS, doomed.SetDWORDValue(L"own", 2));
  ASSERT_EQ(ERROR_SUCCESS, doomed.Close());
  ASSERT_EQ(ERROR_SUCCESS, doomed.Open(temp_.Root(), Below(L"doomed").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, doomed.QueryDWORDValue(L"own", value));
}

TEST_F(RegKeyTest, DeleteOnCloseHappensWhenTheLastCopyGoes) {
  CreateKeyWithValue(temp_.Root(), Below(L"doomed\\a"), 1);
  {
    CRegKey doomed;
    ASSERT_EQ(ERROR_SUCCESS, doomed.Open(temp_.Root(), Below(L"doomed").c_str(), KEY_ALL_ACCESS));
    doomed.SetDeleteOnClose(true);
    CRegKey copy = doomed;
  }
  EXPECT_FALSE(KeyExists(temp_.Root(), Below(L"doomed\\a")));
}

TEST_F(RegKeyTest, RecurseDeleteKeyRemovesTheWholeSubtreeOnly) {
  CreateKeyWithValue(temp_.Root(), Below(L"tree\\a\\b\\c"), 1);
  CreateKeyWithValue(temp_.Root(), Below(L"tree\\a\\d"), 2);
  CreateKeyWithValue(temp_.Root(), Below(L"tree\\e"), 3);
  CreateKeyWithValue(temp_.Root(), Below(L"sibling"), 4);
  EXPECT_EQ(ERROR_SUCCESS, key_.RecurseDeleteKey(L"tree"));
  EXPECT_FALSE(KeyExists(temp_.Root(), Below(L"tree")));
  EXPECT_TRUE(KeyExists(temp_.Root(), Below(L"sibling")));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key_.RecurseDeleteKey(L"tree"));

  wchar_t name[16];
  DWORD chars = 16;
  ASSERT_EQ(ERROR_SUCCESS, key_.EnumKey(0, name, &chars));
  EXPECT_STREQ(L"sibling", name);
  chars = 16;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, key_.EnumKey(1, name, &chars));
  EXPECT_EQ(ERROR_SUCCESS, key_.DeleteSubKey(L"sibling"));
  EXPECT_FALSE(KeyExists(temp_.Root(), Below(L"sibling")));
}

// On 64-bit Windows the same path under HKEY_LOCAL_MACHINE\Software names two keys, one per view.
// A key opened in the 32-bit view deletes in that view only.
// A unique key under HKEY_LOCAL_MACHINE\Software, removed from both views at the end.
struct MachineTestKey {
  std::wstring path = L"Software\\ZelTests-" + ZelTest::NewGuidText();
  ~MachineTestKey() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) continue;
      ::RegDeleteTreeW(key, nullptr);
      ::RegCloseKey(key);
      ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), view, 0);
    }
  }
};

TEST(RegKeyView, DeletesStayInTheViewTheKeyWasOpenedIn) {
  MachineTestKey machineKey;
  const std::wstring& path = machineKey.path;
  CreateKeyWithValue(HKEY_LOCAL_MACHINE, path + L"\\child", 64, KEY_WOW64_64KEY);
  CreateKeyWithValue(HKEY_LOCAL_MACHINE, path + L"\\child", 32, KEY_WOW64_32KEY);
  CRegKey view64, view32;
  ASSERT_EQ(ERROR_SUCCESS, view64.Open(HKEY_LOCAL_MACHINE, L"", KEY_READ | KEY_WRITE | KEY_WOW64_64KEY));
  ASSERT_EQ(ERROR_SUCCESS, view32.Open(HKEY_LOCAL_MACHINE, L"", KEY_READ | KEY_WRITE | KEY_WOW64_32KEY));

  EXPECT_EQ(ERROR_SUCCESS, view32.RecurseDeleteKey(path.c_str()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\child", KEY_WOW64_64KEY));

  CreateKeyWithValue(HKEY_LOCAL_MACHINE, path, 32, KEY_WOW64_32KEY);
  EXPECT_EQ(ERROR_SUCCESS, view64.RecurseDeleteKey((path + L"\\child").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, view64.DeleteSubKey(path.c_str()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));
  EXPECT_EQ(ERROR_SUCCESS, view32.DeleteSubKey(path.c_str()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));
}

// The DACL of a key: whether it is protected and how many entries it has.
void ReadDacl(HKEY root, const std::wstring& path, bool* isProtected, DWORD* entries) {
  CRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Open(root, path.c_str(), KEY_READ));
  DWORD bytes = 0;
  key.GetKeySecurity(DACL_SECURITY_INFORMATION, nullptr, &bytes);
  std::vector<BYTE> descriptor(bytes);
  ASSERT_EQ(ERROR_SUCCESS, key.GetKeySecurity(DACL_SECURITY_INFORMATION, descriptor.data(), &bytes));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor.data(), &control, &revision);
  *isProtected = (control & SE_DACL_PROTECTED) != 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted);
  ACL_SIZE_INFORMATION size{};
  if (dacl) ::GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation);
  *entries = dacl ? size.AceCount : 0;
}

TEST_F(RegKeyTest, SecureKeyReplacesTheAclOfTheKeyAndOptionallyItsSubkeys) {
  CreateKeyWithValue(temp_.Root(), Below(L"one\\child"), 1);
  CreateKeyWithValue(temp_.Root(), Below(L"two\\child"), 1);
  bool isProtected = false;
  DWORD entries = 0;
  ReadDacl(temp_.Root(), Below(L"one\\child"), &isProtected, &entries);
  ASSERT_FALSE(isProtected);

  CRegKey one, two;
  ASSERT_EQ(ERROR_SUCCESS, one.Open(temp_.Root(), Below(L"one").c_str()));
  ASSERT_EQ(ERROR_SUCCESS, two.Open(temp_.Root(), Below(L"two").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, one.SecureKey(false));
  EXPECT_EQ(ERROR_SUCCESS, two.SecureKey(true));

  ReadDacl(temp_.Root(), Below(L"one"), &isProtected, &entries);
  EXPECT_TRUE(isProtected);
  EXPECT_EQ(3u, entries);
  ReadDacl(temp_.Root(), Below(L"one\\child"), &isProtected, &entries);
  EXPECT_FALSE(isProtected);
  ReadDacl(temp_.Root(), Below(L"two\\child"), &isProtected, &entries);
  EXPECT_TRUE(isProtected);
  EXPECT_EQ(3u, entries);
}

class ObfuscatedRegKeyTest : public RegKeyTest {
 protected:
  void SetUp() override {
    RegKeyTest::SetUp();
    ASSERT_EQ(ERROR_SUCCESS, scrambled_.Open(temp_.Root(), temp_.Path().c_str()));
  }
  std::vector<BYTE> Stored(const wchar_t* name) {
    DWORD type = REG_NONE, bytes = 0;
    EXPECT_EQ(ERROR_SUCCESS, key_.QueryValue(name, &type, nullptr, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    std::vector<BYTE> data(bytes);
    EXPECT_EQ(ERROR_SUCCESS, key_.QueryValue(name, &type, data.data(), &bytes));
    return data;
  }

  CObfuscatedRegKey scrambled_;
};

TEST_F(ObfuscatedRegKeyTest, EveryTypedValueRoundTrips) {
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetDWORDValue(L"dword", 0xDEADBEEF));
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetQWORDValue(L"qword", 0x0123456789ABCDEFull));
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetGUIDValue(L"guid", kSampleGuid));
  const BYTE binary[] = {0, 1, 2, 0xFF, 0x80};
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetBinaryValue(L"binary", binary, sizeof(binary)));
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetMultiStringValue(L"list", L"one\0two\0"));
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetMultiStringValue(L"empty list", L""));
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetStringValue(nullptr, L"default value"));

  DWORD dword = 0;
  ULONGLONG qword = 0;
  GUID guid = GUID_NULL;
  BYTE readBinary[8];
  DWORD bytes = sizeof(readBinary);
  wchar_t list[16];
  ULONG chars = 16;
  std::wstring text;
  EXPECT_EQ(ERROR_SUCCESS, scrambled_.QueryDWORDValue(L"dword", dword));
  EXPECT_EQ(0xDEADBEEFu, dword);
  EXPECT_EQ(ERROR_SUCCESS, scrambled_.QueryQWORDValue(L"qword", qword));
  EXPECT_EQ(0x0123456789ABCDEFull, qword);
  EXPECT_EQ(ERROR_SUCCESS, scrambled_.QueryGUIDValue(L"guid", guid));
  EXPECT_EQ(kSampleGuid, guid);
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.QueryBinaryValue(L"binary", readBinary, &bytes));
  EXPECT_EQ(std::vector<BYTE>(binary, binary + sizeof(binary)), std::vector<BYTE>(readBinary, readBinary + bytes));
  bytes = 2;
  EXPECT_EQ(ERROR_MORE_DATA, scrambled_.QueryBinaryValue(L"binary", readBinary, &bytes));
  EXPECT_EQ(sizeof(binary), bytes);
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.QueryMultiStringValue(L"list", list, &chars));
  EXPECT_EQ(0, std::wmemcmp(L"one\0two\0", list, 9));
  chars = 16;
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.QueryMultiStringValue(L"empty list", list, &chars));
  EXPECT_EQ(2u, chars);
  EXPECT_EQ(ERROR_SUCCESS, scrambled_.QueryStringValue(nullptr, text));
  EXPECT_EQ(L"default value", text);
  // The typed checks see the original type, not the stored one.
  EXPECT_EQ(ERROR_INVALID_DATA, scrambled_.QueryQWORDValue(L"dword", qword));
  EXPECT_EQ(ERROR_INVALID_DATA, scrambled_.QueryStringValue(L"binary", text));
}

TEST_F(ObfuscatedRegKeyTest, StringsOfAnyLengthRoundTrip) {
  for (size_t length : {0u, 1u, 2u, 7u, 64u, 255u, 5000u, 70000u}) {
    std::wstring value;
    for (size_t i = 0; i < length; ++i) value += static_cast<wchar_t>(L'a' + i % 26 + (i % 7 == 0 ? 0x100 : 0));
    ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetStringValue(L"text", value.c_str(), REG_EXPAND_SZ)) << length;
    std::wstring read = L"junk";
    ASSERT_EQ(ERROR_SUCCESS, scrambled_.QueryStringValue(L"text", read)) << length;
    EXPECT_EQ(value, read) << length;
    std::vector<wchar_t> buffer(length + 1);
    ULONG chars = static_cast<ULONG>(buffer.size());
    ASSERT_EQ(ERROR_SUCCESS, scrambled_.QueryStringValue(L"text", buffer.data(), &chars)) << length;
    EXPECT_EQ(length + 1, chars);
    DWORD type = REG_NONE, bytes = 0;
    ASSERT_EQ(ERROR_SUCCESS, scrambled_.QueryValue(L"text", &type, nullptr, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ((length + 1) * sizeof(wchar_t), bytes);
  }
}

TEST_F(ObfuscatedRegKeyTest, StoredFormShowsNothingInClear) {
  const wchar_t secret[] = L"plain words";
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetStringValue(L"text", secret));
  std::vector<BYTE> stored = Stored(L"text");
  std::vector<BYTE> clear(reinterpret_cast<const BYTE*>(secret), reinterpret_cast<const BYTE*>(secret) + 8);
  EXPECT_EQ(stored.end(), std::search(stored.begin(), stored.end(), clear.begin(), clear.end()));
}

TEST_F(ObfuscatedRegKeyTest, ValueIsBoundToItsNameWithoutRegardToCase) {
  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetDWORDValue(L"Logging Mechanism", 1));
  DWORD value = 0;
  EXPECT_EQ(ERROR_SUCCESS, scrambled_.QueryDWORDValue(L"LOGGING MECHANISM", value));
  EXPECT_EQ(1u, value);

  std::vector<BYTE> stored = Stored(L"Logging Mechanism");
  ASSERT_EQ(ERROR_SUCCESS, key_.SetBinaryValue(L"Copied", stored.data(), static_cast<DWORD>(stored.size())));
  EXPECT_EQ(ERROR_INVALID_DATA, scrambled_.QueryDWORDValue(L"Copied", value));
}

TEST_F(ObfuscatedRegKeyTest, PlainDamagedAndTruncatedValuesGive13) {
  ASSERT_EQ(ERROR_SUCCESS, key_.SetDWORDValue(L"plain", 1));
  ASSERT_EQ(ERROR_SUCCESS, key_.SetStringValue(L"plain text", L"1"));
  const BYTE tiny[] = {1, 2, 3};
  ASSERT_EQ(ERROR_SUCCESS, key_.SetBinaryValue(L"tiny", tiny, sizeof(tiny)));
  DWORD value = 0;
  std::wstring text;
  EXPECT_EQ(ERROR_INVALID_DATA, scrambled_.QueryDWORDValue(L"plain", value));
  EXPECT_EQ(ERROR_INVALID_DATA, scrambled_.QueryStringValue(L"plain text", text));
  EXPECT_EQ(ERROR_INVALID_DATA, scrambled_.QueryDWORDValue(L"tiny", value));

  ASSERT_EQ(ERROR_SUCCESS, scrambled_.SetStringValue(L"value", L"some text"));
  std::vector<BYTE> stored = Stored(L"value");
  for (size_t i = 0; i < stored.size(); ++i) {
    std::vector<BYTE> damaged = stored;
    damaged[i] ^= 0x01;
    ASSERT_EQ(ERROR_SUCCESS, key_.SetBinaryValue(L"value", damaged.data(), static_cast<DWORD>(damaged.size())));
    EXPECT_EQ(ERROR_INVALID_DATA, scrambled_.QueryStringValue(L"value", text)) << "byte " << i;
  }
  for (size_t length = 1; length < stored.size(); ++length) {
    ASSERT_EQ(ERROR_SUCCESS, key_.SetBinaryValue(L"value", stored.data(), static_cast<DWORD>(length)));
    EXPECT_EQ(ERROR_INVALID_DATA, scrambled_.QueryStringValue(L"value", text)) << "length " << length;
  }
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, scrambled_.QueryDWORDValue(L"absent", value));
}

}  // namespace
