// The bad values every scriptable method and every event field is tried with, written once and
// rendered into JScript, VBScript and the event source's command line.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace BadInput {

// How a value reaches an event field of the event source's command line.
enum class EventForm {
  kNone,          // no command-line form: scripts only
  kAbsent,        // the field left out: a null text, a zero number
  kText,          // `text`, escaped for the command line
  kNumber,        // `number`
  kEndedProcess,  // the id of a process that has just ended, looked up when the event is raised
};

struct CorpusValue {
  const char* name;
  // A string value: exactly these UTF-16 code units, in every form.
  std::optional<std::wstring> text;
  // Any other value: its JScript expression, and the right-hand side of a VBScript assignment
  // ("Set " first for objects); null where that language has no such value.
  const char* jscript = nullptr;
  const char* vbscript = nullptr;
  EventForm event = EventForm::kNone;
  const wchar_t* number = nullptr;
};

const std::vector<CorpusValue>& Corpus();

// The megabyte string: distinct first and last characters show a cut anywhere.
const std::wstring& MegabyteText();

}  // namespace BadInput
