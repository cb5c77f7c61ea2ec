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

// The field's argument for a corpus value; nothing when the value has no form for this field.
std::optional<std::wstring> FieldArgument(const wchar_t* field, bool number, const CorpusValue& value) {
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
      return number ? std::optional<std::wstring>(prefix + std::to_wstring(EndedProcessId())) : std::nullopt;
    default:
      return std::nullopt;
  }
}

std::wstring CommandLine(const EventKind& kind, const wchar_t* badField, const std::wstring& badArgument) {
  std::wstring line = kEventSource + L" " + kind.name;
  for (const auto& [field, valid] : kind.fields) {
    const bool bad = badField && std::wstring(field) == badField;
    const std::wstring argument = bad ? badArgument : std::wstring(field) + L"=" + valid;
    if (!argument.empty()) line += L" \"" + argument + L"\"";
  }
  return line;
}

size_t RecordCount() {
  Strata::UniqueHkey key;
  DWORD count = 0;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecords.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
  ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
  return count;
}

struct EventTally {
  size_t tried = 0;
  size_t refused = 0;
  size_t crashes = 0;
};

// Raises one event; whatever it answers, the stand-in ends by itself, says what the handler
// answered, and leaves at most one record.
void Raise(const EventKind& kind, const std::wstring& commandLine, const std::string& what, EventTally* tally) {
  const size_t before = RecordCount();
  const RunOutcome run = RunBounded(commandLine, kEventTimeoutMs);
  ++tally->tried;
  if (!run.finished || IsCrash(run.exitCode)) ++tally->crashes;
  if (run.exitCode != 0) ++tally->refused;
  EXPECT_TRUE(run.finished) << what;
  EXPECT_FALSE(IsCrash(run.exitCode)) << what << ": 0x" << std::hex << run.exitCode;
  const std::string answered = std::string(kind.name, kind.name + wcslen(kind.name)) + " for ZEL: 0x";
  EXPECT_NE(run.output.find(answered), std::string::npos) << what << ": " << run.output.substr(0, 2000);
  EXPECT_LE(RecordCount(), before + 1) << what;
}

TEST(EventRecords, EveryFieldOfEveryEventTakesTheCorpusAndRecordsWholeOrNothing) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRecords.c_str());
  for (const EventKind& kind : kEventKinds) {
    EventTally tally;
    const ULONGLONG started = ::GetTickCount64();
    const std::string kindName(kind.name, kind.name + wcslen(kind.name));
    if (kind.fields.empty()) Raise(kind, CommandLine(kind, nullptr, L""), kindName, &tally);
    for (const auto& [field, valid] : kind.fields) {
      for (const CorpusValue& value : Corpus()) {
        std::optional<std::wstring> argument = FieldArgument(field, IsNumberField(kind, field), value);
        if (!argument) continue;
        const std::string what = kindName + " " + std::string(field, field + wcslen(field)) + "=" + value.name;
        Raise(kind, CommandLine(kind, field, *argument), what, &tally);
      }
    }
    std::printf("%ls: %zu inputs, %zu refused with an HRESULT, %zu crashes (%.1f s)\n", kind.name, tally.tried,
                tally.refused, tally.crashes, (::GetTickCount64() - started) / 1000.0);
  }
  const std::vector<std::wstring> stored = StoredTexts(kRecords);
  for (const std::wstring& text : stored) {
    std::optional<std::string> cut = CutCorpusText(text);
    EXPECT_FALSE(cut.has_value()) << "a record holds the " << *cut << " cut to " << text.size() << " characters";
  }
  EXPECT_EQ(CorpusTextsMissing(stored), std::vector<std::string>());
}

}  // namespace
