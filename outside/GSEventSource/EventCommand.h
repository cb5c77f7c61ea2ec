// One event as the command line describes it: its name, the product whose binding is looked up,
// and its fields, each either given (possibly empty) or absent.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ZelEventSource {

class EventCommand {
 public:
  // Reads "Name field=value ..." from `arguments`; nothing when a field is not of that form.
  static std::optional<EventCommand> Parse(const std::vector<std::wstring>& arguments);

  const std::wstring& Name() const { return name_; }
  const std::wstring& Product() const { return product_; }
  // A text field's value; null when the field was not given.
  const wchar_t* Text(const wchar_t* field) const;
  // A number field (decimal, or hexadecimal after "0x"); 0 when not given, nothing when malformed.
  std::optional<unsigned long> Number(const wchar_t* field) const;

 private:
  std::wstring name_;
  std::wstring product_ = L"ZEL";
  std::map<std::wstring, std::wstring> fields_;
};

// Splits the program's arguments into the events they describe, at each lone "+".
std::vector<std::vector<std::wstring>> SplitEvents(int argc, wchar_t** argv);

}  // namespace ZelEventSource
