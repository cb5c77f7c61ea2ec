#include <gtest/gtest.h>

#include <windows.h>

#include "FormatText.h"

namespace {

TEST(FormatText, PercentSTakesAWideStringAsOnWindows) {
  EXPECT_EQ(L"user bob has 3 items", Strata::Format(L"user %s has %d items", L"bob", 3));
  EXPECT_EQ(L"007.log", Strata::Format(L"%0.3u%s", 7u, L".log"));
  EXPECT_EQ(L"0000002A", Strata::Format(L"%08X", 42u));
}

TEST(FormatText, BufferFormCutsAndAlwaysTerminates) {
  wchar_t buffer[6];
  EXPECT_EQ(5u, Strata::FormatInto(buffer, 6, L"%s", L"abcdefgh"));
  EXPECT_STREQ(L"abcde", buffer);
  EXPECT_EQ(3u, Strata::FormatInto(buffer, 6, L"%s", L"abc"));
  EXPECT_STREQ(L"abc", buffer);
  EXPECT_EQ(5u, Strata::FormatInto(buffer, 6, L"%s", L"abcde"));
  EXPECT_STREQ(L"abcde", buffer);
}

TEST(FormatText, StringFormHasNoLengthLimit) {
  std::wstring longText(10000, L'x');
  EXPECT_EQ(longText + L"!", Strata::Format(L"%s!", longText.c_str()));
}

TEST(FormatText, SystemMessageHasNoLineEnd) {
  std::wstring text = Strata::SystemMessage(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(L'\n', text.back());
}

}  // namespace
