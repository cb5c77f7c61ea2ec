#include <gtest/gtest.h>

#include <windows.h>

#include <random>
#include <vector>

#include "Scrambler.h"

namespace {

namespace Scrambler = Strata::Scrambler;

TEST(Scrambler, RandomBytesNeverOpen) {
  std::mt19937 random(42);
  DWORD type = 0;
  std::vector<BYTE> data;
  for (int round = 0; round < 20000; ++round) {
    std::vector<BYTE> bytes(random() % 80);
    for (BYTE& b : bytes) b = static_cast<BYTE>(random());
    EXPECT_FALSE(Scrambler::Open(L"name", bytes.data(), bytes.size(), &type, &data));
  }
  EXPECT_FALSE(Scrambler::Open(L"name", nullptr, 0, &type, &data));
}

TEST(Scrambler, TextFormOpensOnlyWholeHexadecimal) {
  DWORD value = 5, type = 0;
  std::vector<BYTE> data;
  std::wstring text = Scrambler::SealText(L"key", REG_DWORD, &value, sizeof(value));
  ASSERT_TRUE(Scrambler::OpenText(L"key", text, &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  ASSERT_EQ(sizeof(value), data.size());
  EXPECT_EQ(5u, *reinterpret_cast<const DWORD*>(data.data()));

  std::wstring lower = text;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_TRUE(Scrambler::OpenText(L"KEY", lower, &type, &data));
  EXPECT_FALSE(Scrambler::OpenText(L"key", text.substr(1), &type, &data));
  EXPECT_FALSE(Scrambler::OpenText(L"key", text.substr(0, text.size() - 2), &type, &data));
  EXPECT_FALSE(Scrambler::OpenText(L"key", text + L"00", &type, &data));
  EXPECT_FALSE(Scrambler::OpenText(L"key", L"G" + text.substr(1), &type, &data));
  EXPECT_FALSE(Scrambler::OpenText(L"key", L"", &type, &data));
}

TEST(Scrambler, EmptyValueAndEmptyNameRoundTrip) {
  DWORD type = 0;
  std::vector<BYTE> data(3);
  std::vector<BYTE> sealed = Scrambler::Seal(L"", REG_BINARY, nullptr, 0);
  ASSERT_TRUE(Scrambler::Open(L"", sealed.data(), sealed.size(), &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_TRUE(data.empty());
  EXPECT_FALSE(Scrambler::Open(L"x", sealed.data(), sealed.size(), &type, &data));
}

}  // namespace
