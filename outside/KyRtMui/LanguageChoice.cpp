#include "LanguageChoice.h"

namespace KyRtMuiStandIn {

namespace {

constexpr LANGID kShippedLanguages[] = {kBaseLanguage, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)};

}  // namespace

LANGID MapToShippedLanguage(LANGID requested) {
  for (LANGID shipped : kShippedLanguages)
    if (shipped == requested) return shipped;
  for (LANGID shipped : kShippedLanguages)
    if (PRIMARYLANGID(shipped) == PRIMARYLANGID(requested)) return shipped;
  return kBaseLanguage;
}

LANGID MappedLocale(const ZelStandIns::StandInKnobs& knobs) {
  std::optional<DWORD> forced = knobs.ReadDword(L"Locale");
  return MapToShippedLanguage(forced ? static_cast<LANGID>(*forced) : ::GetUserDefaultUILanguage());
}

}  // namespace KyRtMuiStandIn
