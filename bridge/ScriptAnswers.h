// What the configuration object hands back to a script: copies of values it owns, texts, numbers
// and lists of rows. A caller's out parameter holds nothing that needs freeing when it arrives.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <variant>
#include <vector>

#include "VariantValue.h"

namespace ScriptAnswers {

// A copy of an owned VARIANT in `target`; the owned one is freed with its owner whatever happens.
HRESULT CopyOut(const CVariantValue& value, VARIANT* target);

// `text` as a BSTR in `target`; E_OUTOFMEMORY, with `target` untouched, when it cannot be had.
HRESULT ReturnBstr(const std::wstring& text, VARIANT* target);

void SetI4(VARIANT* target, long value);

// A cell of a row: text (VT_BSTR), a number (VT_I4) or a flag (VT_BOOL).
using Cell = std::variant<std::wstring, long, bool>;
using Row = std::vector<Cell>;

// `rows` as a script reads a list: an array of VARIANTs, each row an array of its cells. The first
// failure is answered, with `target` then empty.
HRESULT ReturnRows(const std::vector<Row>& rows, VARIANT* target);

}  // namespace ScriptAnswers
