#include "EventCommand.h"

#include <windows.h>

#include <cwchar>

namespace ZelEventSource {

namespace {

constexpr size_t kMaxRepeat = 16u << 20;

bool IsHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// "\uXXXX" at `at`: the code unit, and where the escape ends.
std::optional<wchar_t> CodeUnitAt(const std::wstring& value, size_t at) {
  if (value.compare(at, 2, L"\\u") != 0 || at + 6 > value.size()) return std::nullopt;
  for (size_t i = at + 2; i < at + 6; ++i)
    if (!IsHex(value[i])) return std::nullopt;
  return static_cast<wchar_t>(std::wcstoul(value.substr(at + 2, 4).c_str(), nullptr, 16));
}

// "\*N" at `at`: N, and where its digits end.
std::optional<size_t> RepeatAt(const std::wstring& value, size_t at, size_t* end) {
  if (value.compare(at, 2, L"\\*") != 0) return std::nullopt;
  size_t count = 0;
  for (*end = at + 2; *end < value.size() && value[*end] >= L'0' && value[*end] <= L'9'; ++*end) {
    count = count * 10 + (value[*end] - L'0');
    if (count > kMaxRepeat) return std::nullopt;
  }
  if (*end == at + 2 || count == 0) return std::nullopt;
  return count;
}

// Texts a command line cannot carry: "\uXXXX" is that UTF-16 code unit (a lone surrogate too),
// "\*N" makes the character before it N in all (a megabyte in a few characters). Any other
// backslash is itself, so paths and URLs pass as they are.
std::wstring Unescaped(const std::wstring& value) {
  std::wstring text;
  for (size_t i = 0; i < value.size(); ++i) {
    size_t end = 0;
    if (std::optional<wchar_t> unit = CodeUnitAt(value, i)) {
      text += *unit;
      i += 5;
    } else if (std::optional<size_t> count = text.empty() ? std::nullopt : RepeatAt(value, i, &end)) {
      text.append(*count - 1, text.back());
      i = end - 1;
    } else {
      text += value[i];
    }
  }
  return text;
}

}  // namespace

std::optional<EventCommand> EventCommand::Parse(const std::vector<std::wstring>& arguments) {
  if (arguments.empty()) return std::nullopt;
  EventCommand command;
  command.name_ = arguments[0];
  for (size_t i = 1; i < arguments.size(); ++i) {
    size_t equals = arguments[i].find(L'=');
    if (equals == std::wstring::npos || equals == 0) return std::nullopt;
    std::wstring field = arguments[i].substr(0, equals);
    std::wstring value = Unescaped(arguments[i].substr(equals + 1));
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
