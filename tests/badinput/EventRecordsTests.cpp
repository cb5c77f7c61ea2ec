// The corpus through every field of every event the service raises, by the event-source stand-in
// into the installed event handlers: each event is answered with an HRESULT, the stand-in never
// crashes, and each leaves at most one report-log record, holding a corpus string whole or not at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BadInputCorpus.h"
#include "BoundedRun.h"
#include "Handles.h"
#include "StandInKnobs.h"
#include "StoredTexts.h"
#include "TestSupport.h"

namespace {

using namespace BadInput;

constexpr DWORD kEventTimeoutMs = 60000;
const std::wstring kRecords = ZelStandIns::StandInKnobs::KeyPath(L"ReportLog") + L"\\Records";
const std::wstring kEventSource = L"\"C:\\Program Files\\Varant\\ZEL\\GSEventSource.exe\"";

struct EventKind {
  const wchar_t* name;
  // Every field with a valid value, in the order the stand-in documents them.
  std::vector<std::pair<const wchar_t*, const wchar_t*>> fields;
  std::vector<const wchar_t*> numberFields;
};

const std::vector<EventKind> kEventKinds = {
    {L"AccessDenied", {{L"pid", L"self"}, {L"content", L"0"}, {L"reason", L"3"}, {L"url", L"http://blocked.test/"}},
     {L"pid", L"content", L"reason"}},
    {L"ImageBlocked", {{L"pid", L"self"}, {L"content", L"0"}, {L"url", L"http://image.test/"}, {L"rating", L"7"}},
     {L"pid", L"content", L"rating"}},
    {L"KeywordBlocked",
     {{L"pid", L"self"}, {L"content", L"0"}, {L"pattern", L"word"}, {L"url", L"http://keyword.test/"}},
     {L"pid", L"content"}},
    {L"UrlVisited", {{L"pid", L"self"}, {L"domain", L"visited.test"}, {L"path", L"/"}}, {L"pid"}},
    {L"PIIDetected",
     {{L"pid", L"self"}, {L"content", L"0"}, {L"domain", L"pii.test"}, {L"display", L"phone"},
      {L"information", L"555"}, {L"type", L"1"}},
     {L"pid", L"content", L"type"}},
    {L"SignInRequired", {{L"session", L"1"}}, {L"session"}},
    {L"SignIn", {}, {}},
    {L"SignOut", {}, {}},
};

bool IsNumberField(const EventKind& kind, const wchar_t* field) {
  for (const wchar_t* number : kind.numberFields)
    if (std::wstring(number) == field) return true;
  return false;
}

// A text as the stand-in's command line carries it: runs and anything but plain characters escaped.
std::wstring Escaped(const std::wstring& text) {
  std::wstring escaped;
  for (size_t i = 0; i < text.size();) {
    size_t run = 1;
    while (i + run < text.size() && text[i + run] == text[i]) ++run;
    wchar_t unit[16];
    const bool plain = text[i] > 0x20 && text[i] < 0x7F && text[i] != L'\\' && text[i] != L'"';
    std::swprintf(unit, 16, L"\\u%04X", static_cast<unsigned>(text[i]));
    escaped += plain ? std::wstring(1, text[i]) : std::wstring(unit);
    if (run > 1) escaped += L"\\*" + std::to_wstring(run);
    i += run;
  }
  return escaped;
}

DWORD EndedProcessId() {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"cmd.exe /c exit 0";
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &process))
    return 0;
  Strata::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  ::WaitForSingleObject(processHandle.get(), 30000);
  return process.dwProcessId;
}

// The platform knows no session of the corpus's numbers: it says so at once, rather than that
// its user has not logged on yet, which the sign-in handler waits two minutes for.
void ForgetBadSessions(DWORD endedProcessId) {
  const std::wstring sessions = ZelStandIns::StandInKnobs::KeyPath(L"UserManager") + L"\\Sessions\\";
  std::vector<DWORD> numbers = {0, endedProcessId};
  for (const CorpusValue& value : Corpus())
    if (value.event == EventForm::kNumber) numbers.push_back(std::wcstoul(value.number, nullptr, 0));
  for (DWORD number : numbers) {
    if (number == 1) continue;
    const DWORD noSuchSession = ERROR_NO_SUCH_LOGON_SESSION;
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (sessions + std::to_wstring(number)).c_str(), L"Result", REG_DWORD,
                      &noSuchSession, sizeof(noSuchSession));
  }
}

// The field's argument for a corpus value; nothing when the value has no form for this field.
std::optional<std::wstring> FieldArgument(const wchar_t* field, bool number, const CorpusValue& value,
                                          DWORD endedProcessId) {
  const std::wstring prefix = std::wstring(field) + L"=";
  switch (value.event) {
    case EventForm::kAbsent:
      return std::wstring();
    case EventForm::kText:
      if (number) return std::nullopt;
      return prefix + Escaped(*value.text);
    case EventForm::kNumber:
      return number ? std::optional<std::wstring>(prefix + value.number) : std::nullopt;
    case EventForm::kEndedProcess:
      return number ? std::optional<std::wstring>(prefix + std::to_wstring(endedProcessId)) : std::nullopt;
    default:
      return std::nullopt;
  }
}

// One event of the stand-in's command line, with every field valid but `badField`.
std::wstring EventArguments(const EventKind& kind, const wchar_t* badField, const std::wstring& badArgument) {
  std::wstring arguments = kind.name;
  for (const auto& [field, valid] : kind.fields) {
    const bool bad = badField && std::wstring(field) == badField;
    const std::wstring argument = bad ? badArgument : std::wstring(field) + L"=" + valid;
    if (!argument.empty()) arguments += L" \"" + argument + L"\"";
  }
  return arguments;
}

size_t RecordCount() { return ZelTest::SubkeyCount(HKEY_LOCAL_MACHINE, kRecords); }

struct EventTally {
  size_t tried = 0;
  size_t refused = 0;
  size_t crashes = 0;
};

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Raises the events in one run of the stand-in, as the service raises many into one handler:
// it ends by itself, says what the handler answered to each, and each leaves at most one record.
void Raise(const EventKind& kind, const std::vector<std::wstring>& events, const std::string& what, EventTally* tally) {
  std::wstring commandLine = kEventSource;
  for (size_t i = 0; i < events.size(); ++i) commandLine += (i ? L" + " : L" ") + events[i];
  const size_t before = RecordCount();
  const RunOutcome run = RunBounded(commandLine, kEventTimeoutMs);
  const std::string name(kind.name, kind.name + wcslen(kind.name));
  const size_t answered = Occurrences(run.output, name + " for ZEL: 0x");
  tally->tried += events.size();
  tally->refused += answered - Occurrences(run.output, name + " for ZEL: 0x00000000");
  if (!run.finished || IsCrash(run.exitCode)) ++tally->crashes;
  EXPECT_TRUE(run.finished) << what;
  EXPECT_FALSE(IsCrash(run.exitCode)) << what << ": 0x" << std::hex << run.exitCode;
  EXPECT_EQ(answered, events.size()) << what << ": " << run.output.substr(0, 2000);
  EXPECT_LE(RecordCount(), before + events.size()) << what;
}

TEST(EventRecords, EveryFieldOfEveryEventTakesTheCorpusAndRecordsWholeOrNothing) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRecords.c_str());
  const DWORD endedProcessId = EndedProcessId();
  ForgetBadSessions(endedProcessId);
  for (const EventKind& kind : kEventKinds) {
    EventTally tally;
    const ULONGLONG started = ::GetTickCount64();
    const std::string kindName(kind.name, kind.name + wcslen(kind.name));
    if (kind.fields.empty()) Raise(kind, {EventArguments(kind, nullptr, L"")}, kindName, &tally);
    for (const auto& [field, valid] : kind.fields) {
      std::vector<std::wstring> events;
      for (const CorpusValue& value : Corpus()) {
        std::optional<std::wstring> argument = FieldArgument(field, IsNumberField(kind, field), value, endedProcessId);
        if (argument) events.push_back(EventArguments(kind, field, *argument));
      }
      Raise(kind, events, kindName + " " + std::string(field, field + wcslen(field)), &tally);
    }
    std::printf("%ls: %zu inputs, %zu refused with an HRESULT, %zu crashes (%.1f s)\n", kind.name, tally.tried,
                tally.refused, tally.crashes, (::GetTickCount64() - started) / 1000.0);
  }
  const std::vector<std::wstring> stored = StoredTexts(kRecords);
  ExpectNoCutCorpusText(stored, "a record");
  EXPECT_EQ(CorpusTextsMissing(stored), std::vector<std::string>());
}

}  // namespace
