// The product resource library stand-in holds every text the system loads, in English and in
// German, each with exactly the placeholders the system fills in.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "Handles.h"
#include "TestSupport.h"

namespace {

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);

using Placeholders = std::multiset<std::wstring>;

// What the report-log records replace in each text; every other text carries none.
const std::map<UINT, Placeholders> kExpectedPlaceholders = {
    {5053, {L"%admin%"}},
    {5054, {L"%admin%"}},
    {5055, {L"%admin%"}},
    {5077, {L"%admin%", L"%feature%"}},
    {5078, {L"%admin%", L"%feature%"}},
    {5091, {L"%websitelist%"}},
    {5092, {L"%websitelist%"}},
    {5093, {L"%websitelist%"}},
    {5097, {L"%info%", L"%admin%"}},
    {5098, {L"%info%", L"%admin%"}},
    {5099, {L"%info%", L"%admin%"}},
    {6003, {L"%admin%", L"%user%", L"%dayname%", L"%fromtime%", L"%totime%"}},
    {6007, {L"%user%"}},
    {6010, {L"%user%"}},
    {6014, {L"%webpage%"}},
    {6016, {L"%user%"}},
    {6021, {L"%user%"}},
};

std::set<UINT> LoadedIdentifiers() {
  std::set<UINT> ids;
  for (UINT id = 5051; id <= 5099; ++id) ids.insert(id);
  for (UINT id = 6000; id <= 6021; ++id) ids.insert(id);
  return ids;
}

// Reads the string table itself, so these tests do not rest on the language library under test.
std::wstring StringInLanguage(HMODULE module, UINT id, LANGID language) {
  HRSRC block = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (!block) return L"";
  auto entry = static_cast<const WCHAR*>(::LockResource(::LoadResource(module, block)));
  if (!entry) return L"";
  for (UINT skip = id % 16; skip > 0; --skip) entry += *entry + 1;
  return std::wstring(entry + 1, *entry);
}

// Every %name% in the text; a percent sign that opens no such token counts as "%".
Placeholders PlaceholdersOf(const std::wstring& text) {
  Placeholders found;
  for (size_t open = text.find(L'%'); open != std::wstring::npos; open = text.find(L'%', open + 1)) {
    size_t close = text.find(L'%', open + 1);
    std::wstring name = close == std::wstring::npos ? L"" : text.substr(open + 1, close - open - 1);
    bool wellFormed = !name.empty() && name.find_first_not_of(L"abcdefghijklmnopqrstuvwxyz_") == std::wstring::npos;
    found.insert(wellFormed ? L"%" + name + L"%" : L"%");
    if (wellFormed) open = close;
  }
  return found;
}

Placeholders ExpectedPlaceholders(UINT id) {
  auto it = kExpectedPlaceholders.find(id);
  return it == kExpectedPlaceholders.end() ? Placeholders{} : it->second;
}

class ProductTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    library_.reset(::LoadLibraryExW(ZelTest::SiblingPath(L"ZelRes2.DLL").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(library_) << ::GetLastError();
  }
  Strata::UniqueModule library_;
};

TEST_F(ProductTexts, EveryLoadedTextIsInEnglishWithExactlyItsPlaceholders) {
  for (UINT id : LoadedIdentifiers()) {
    std::wstring text = StringInLanguage(library_.get(), id, kEnglish);
    EXPECT_FALSE(text.empty()) << id;
    EXPECT_EQ(PlaceholdersOf(text), ExpectedPlaceholders(id)) << id << ": " << text;
  }
}

TEST_F(ProductTexts, GermanTranslatesEveryTextAndKeepsItsPlaceholders) {
  for (UINT id : LoadedIdentifiers()) {
    std::wstring german = StringInLanguage(library_.get(), id, kGerman);
    EXPECT_FALSE(german.empty()) << id;
    EXPECT_NE(german, StringInLanguage(library_.get(), id, kEnglish)) << id;
    EXPECT_EQ(PlaceholdersOf(german), ExpectedPlaceholders(id)) << id << ": " << german;
  }
}

TEST_F(ProductTexts, GermanLettersSurviveTheResourceCompiler) {
  EXPECT_EQ(StringInLanguage(library_.get(), 5052, kGerman), L"Benutzer ge\u00e4ndert");
  EXPECT_EQ(StringInLanguage(library_.get(), 5067, kGerman), L"die Chat-\u00dcberwachung");
}

// The report shows the texts as markup, so they carry none of their own.
TEST_F(ProductTexts, TextsCarryNoMarkupCharacters) {
  for (UINT id : LoadedIdentifiers())
    for (LANGID language : {kEnglish, kGerman})
      EXPECT_EQ(StringInLanguage(library_.get(), id, language).find_first_of(L"<>&\""), std::wstring::npos)
          << id << " in " << language;
}

TEST(PlaceholderScan, FindsTokensAndFlagsStrayPercentSigns) {
  EXPECT_EQ(PlaceholdersOf(L"%admin% let %user% in"), (Placeholders{L"%admin%", L"%user%"}));
  EXPECT_EQ(PlaceholdersOf(L"100% sure"), Placeholders{L"%"});
  EXPECT_EQ(PlaceholdersOf(L"%Admin%"), (Placeholders{L"%", L"%"}));
}

}  // namespace
