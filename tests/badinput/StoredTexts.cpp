#include "StoredTexts.h"

#include <gtest/gtest.h>

#include "BadInputCorpus.h"
#include "Handles.h"

namespace BadInput {

namespace {

// A beginning this long is unlikely to occur by chance in a stored text.
constexpr size_t kRecognisedPrefix = 8;
constexpr size_t kMinimumLength = 5;

void CollectTexts(HKEY key, std::vector<std::wstring>* texts) {
  std::vector<wchar_t> name(16384);
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = static_cast<DWORD>(name.size());
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (::RegQueryValueExW(key, name.data(), nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
        ERROR_SUCCESS)
      continue;
    text.resize(bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    texts->push_back(std::move(text));
  }
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = static_cast<DWORD>(name.size());
    if (::RegEnumKeyExW(key, index, name.data(), &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    Strata::UniqueHkey child;
    if (::RegOpenKeyExW(key, name.data(), 0, KEY_READ, child.put()) == ERROR_SUCCESS) CollectTexts(child.get(), texts);
  }
}

// Markup characters may be escaped on the way into a record, which is no cut.
bool Recognisable(const std::wstring& text) {
  return text.size() >= kMinimumLength && text.find_first_of(L"<>&\"'") == std::wstring::npos;
}

// Looked for in thousands of stored texts: chosen once.
const std::vector<const CorpusValue*>& RecognisableCorpus() {
  static const std::vector<const CorpusValue*> recognisable = [] {
    std::vector<const CorpusValue*> chosen;
    for (const CorpusValue& value : Corpus())
      if (value.text && Recognisable(*value.text)) chosen.push_back(&value);
    return chosen;
  }();
  return recognisable;
}

// The name of a corpus string whose beginning `stored` holds without the whole of it.
std::optional<std::string> CutCorpusText(const std::wstring& stored) {
  for (const CorpusValue* value : RecognisableCorpus()) {
    const std::wstring prefix = value->text->substr(0, kRecognisedPrefix);
    if (stored.find(prefix) != std::wstring::npos && stored.find(*value->text) == std::wstring::npos) return value->name;
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::wstring> StoredTexts(const std::wstring& path) {
  std::vector<std::wstring> texts;
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS)
    CollectTexts(key.get(), &texts);
  return texts;
}

void ExpectNoCutCorpusText(const std::vector<std::wstring>& texts, const char* where) {
  for (const std::wstring& text : texts) {
    std::optional<std::string> cut = CutCorpusText(text);
    EXPECT_FALSE(cut.has_value()) << where << " holds the " << *cut << " cut to " << text.size() << " characters";
  }
}

std::vector<std::string> CorpusTextsMissing(const std::vector<std::wstring>& stored) {
  std::vector<std::string> missing;
  for (const CorpusValue* value : RecognisableCorpus()) {
    bool found = false;
    for (const std::wstring& text : stored) found = found || text.find(*value->text) != std::wstring::npos;
    if (!found) missing.push_back(value->name);
  }
  return missing;
}

}  // namespace BadInput
