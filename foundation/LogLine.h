// The file logger's line layout.
#pragma once

#include <windows.h>

#include <string>

namespace ETWLogging {

// Bits of the "Options" setting.
enum : DWORD {
  kOptionDebugger = 1,
  kOptionThreadIds = 4,
  kOptionSourceLine = 8,
  kOptionModuleName = 16,
  kOptionFunction = 32,
};

struct LogLineFields {
  SYSTEMTIME localTime;
  DWORD level;
  DWORD options;
  const wchar_t* moduleFileName;
  DWORD processId;
  DWORD threadId;
  const wchar_t* sourceFile;
  int line;
  const wchar_t* function;
  const wchar_t* text;
};

// One formatted line, line end included; empty for an unknown level or an empty text.
std::wstring FormatLogLine(const LogLineFields& fields);

}  // namespace ETWLogging
