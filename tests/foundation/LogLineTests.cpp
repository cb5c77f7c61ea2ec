#include <gtest/gtest.h>

#include "LogLine.h"

namespace {

using ETWLogging::FormatLogLine;
using ETWLogging::LogLineFields;

LogLineFields Fields(WORD hour, DWORD options, DWORD level = 4, const wchar_t* text = L"hello") {
  SYSTEMTIME t{};
  t.wYear = 2026;
  t.wMonth = 12;
  t.wDay = 8;
  t.wHour = hour;
  t.wMinute = 15;
  t.wSecond = 6;
  return {t, level, options, L"KyAlert.exe", 1234, 56, L"Alert", 77, L"CAlert::_ShowAlert", text};
}

TEST(LogLine, DefaultOptionsGiveTheAlerterLayout) {
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ [    KyAlert.exe]$ hello\r\n", FormatLogLine(Fields(2, 16)));
}

TEST(LogLine, TwelveHourClock) {
  EXPECT_EQ(0u, FormatLogLine(Fields(0, 0)).find(L"12/08/2026 12:15:06 AM$"));
  EXPECT_EQ(0u, FormatLogLine(Fields(11, 0)).find(L"12/08/2026 11:15:06 AM$"));
  EXPECT_EQ(0u, FormatLogLine(Fields(12, 0)).find(L"12/08/2026 12:15:06 PM$"));
  EXPECT_EQ(0u, FormatLogLine(Fields(13, 0)).find(L"12/08/2026 01:15:06 PM$"));
  EXPECT_EQ(0u, FormatLogLine(Fields(23, 0)).find(L"12/08/2026 11:15:06 PM$"));
}

TEST(LogLine, EachOptionBitAddsItsFieldInOrder) {
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ hello\r\n", FormatLogLine(Fields(2, 0)));
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ [PID: 1234 TID:   56]$ hello\r\n", FormatLogLine(Fields(2, 4)));
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ [               Alert:   77]$ hello\r\n",
            FormatLogLine(Fields(2, 8)));
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ [                      CAlert::_ShowAlert()]$ hello\r\n",
            FormatLogLine(Fields(2, 32)));
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ [    KyAlert.exe]$ [PID: 1234 TID:   56]$ "
            L"[               Alert:   77]$ [                      CAlert::_ShowAlert()]$ hello\r\n",
            FormatLogLine(Fields(2, 1 | 4 | 8 | 16 | 32)));
}

TEST(LogLine, LongNamesAreCutToTheirColumns) {
  LogLineFields f = Fields(2, 8 | 16 | 32);
  f.moduleFileName = L"AVeryLongModuleName.dll";
  f.sourceFile = L"src\\deeper\\AnExtremelyLongSourceFileName";
  f.function = L"ANamespace::AVeryLongClassName::AnEvenLongerMethodNameThatGoesOn";
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ [AVeryLongModule]$ [AnExtremelyLongSourc:   77]$ "
            L"[ANamespace::AVeryLongClassName::AnEvenLo()]$ hello\r\n",
            FormatLogLine(f));
}

TEST(LogLine, LevelNamesAndInvalidLevels) {
  const wchar_t* names[] = {L"Normal", L"Warning", L"Information", L"Error", L"Critical", L"Information"};
  for (DWORD level = 1; level <= 6; ++level) {
    std::wstring expected = std::wstring(L"-- (") + names[level - 1] + L")$";
    EXPECT_NE(std::wstring::npos, FormatLogLine(Fields(2, 0, level)).find(expected)) << level;
  }
  EXPECT_TRUE(FormatLogLine(Fields(2, 0, 0)).empty());
  EXPECT_TRUE(FormatLogLine(Fields(2, 0, 7)).empty());
  EXPECT_TRUE(FormatLogLine(Fields(2, 0, 4, L"")).empty());
}

TEST(LogLine, TextEndingInNewLineGetsNoExtraLineEnd) {
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ done\n", FormatLogLine(Fields(2, 0, 4, L"done\n")));
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ done\r\n", FormatLogLine(Fields(2, 0, 4, L"done\r\n")));
  EXPECT_EQ(L"12/08/2026 02:15:06 AM$ -- (Error)$ done\r\r\n", FormatLogLine(Fields(2, 0, 4, L"done\r")));
}

}  // namespace
