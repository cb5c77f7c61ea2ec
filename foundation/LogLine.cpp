#include "LogLine.h"

#include <cwchar>

#include "FormatText.h"
#include "LoggingIf.h"

namespace ETWLogging {
namespace {

const wchar_t* Safe(const wchar_t* text) { return text ? text : L""; }

// Only the file name is worth the columns; callers may pass a path.
const wchar_t* FileNamePart(const wchar_t* path) {
  const wchar_t* slash = std::wcsrchr(Safe(path), L'\\');
  return slash ? slash + 1 : Safe(path);
}

std::wstring TimeField(const SYSTEMTIME& t) {
  WORD hour12 = t.wHour % 12 == 0 ? 12 : t.wHour % 12;
  return Strata::Format(L"%02hu/%02hu/%hu %02hu:%02hu:%02hu %s$", t.wMonth, t.wDay, t.wYear, hour12, t.wMinute,
                        t.wSecond, t.wHour < 12 ? L"AM" : L"PM");
}

}  // namespace

std::wstring FormatLogLine(const LogLineFields& f) {
  const wchar_t* levelName = LevelName(f.level);
  if (!levelName || !f.text || !*f.text) return std::wstring();

  std::wstring line = Strata::Format(L"%s -- (%s)$", TimeField(f.localTime).c_str(), levelName);
  if (f.options & kOptionModuleName) line += Strata::Format(L" [%15.15s]$", Safe(f.moduleFileName));
  if (f.options & kOptionThreadIds) line += Strata::Format(L" [PID:%5d TID:%5d]$", f.processId, f.threadId);
  if (f.options & kOptionSourceLine) line += Strata::Format(L" [%20.20s:%5d]$", FileNamePart(f.sourceFile), f.line);
  if (f.options & kOptionFunction) line += Strata::Format(L" [%40.40s()]$", Safe(f.function));
  line += L' ';
  line += f.text;
  if (line.back() != L'\n') line += L"\r\n";
  return line;
}

}  // namespace ETWLogging
