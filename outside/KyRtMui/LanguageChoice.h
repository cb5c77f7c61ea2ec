// Which language the stand-in language library serves: the user's UI language (or the "Locale"
// knob that overrides it), mapped onto the languages the product ships.
#pragma once

#include <windows.h>

#include "StandInKnobs.h"

namespace KyRtMuiStandIn {

// US English: the language every product resource library holds in full, and the answer for
// any language the product does not ship.
constexpr LANGID kBaseLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// A shipped language for `requested`: itself when shipped, else the shipped one of the same
// primary language (Austrian German gives German), else the base language.
LANGID MapToShippedLanguage(LANGID requested);

// The "Locale" knob when set, else the user's default UI language, mapped as above.
LANGID MappedLocale(const ZelStandIns::StandInKnobs& knobs);

}  // namespace KyRtMuiStandIn
