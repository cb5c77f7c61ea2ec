#include "EventCommand.h"

#include <windows.h>

#include <cwchar>

namespace ZelEventSource {

std::optional<EventCommand> EventCommand::Parse(const std::vector<std::wstring>& arguments) {
  if (arguments.empty()) return std::nullopt;
  EventCommand command;
  command.name_ = arguments[0];
  for (size_t i = 1; i < arguments.size(); ++i) {
    size_t equals = arguments[i].find(L'=');
    if (equals == std::wstring::npos || equals == 0) return std::nullopt;
    std::wstring field = arguments[i].substr(0, equals);
    std::wstring value = arguments[i].substr(equals + 1);
    if (field == L"product") {
      command.product_ = value;
    } else {
      command.fields_[field] = value;
    }
  }
  return command;
}

const wchar_t* EventCommand::Text(const wchar_t* field) const {
  auto found = fields_.find(field);
  return found == fields_.end() ? nullptr : found->second.c_str();
}

std::optional<unsigned long> EventCommand::Number(const wchar_t* field) const {
  const wchar_t* text = Text(field);
  if (!text) return 0UL;
  // "self" names this program's own process, which lives in the caller's session.
  if (std::wcscmp(text, L"self") == 0) return static_cast<unsigned long>(::GetCurrentProcessId());
  wchar_t* end = nullptr;
  unsigned long value = std::wcstoul(text, &end, 0);
  if (*text == L'\0' || *end != L'\0') return std::nullopt;
  return value;
}

std::vector<std::vector<std::wstring>> SplitEvents(int argc, wchar_t** argv) {
  std::vector<std::vector<std::wstring>> events(1);
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"+") == 0) {
      events.emplace_back();
    } else {
      events.back().emplace_back(argv[i]);
    }
  }
  return events;
}

}  // namespace ZelEventSource
