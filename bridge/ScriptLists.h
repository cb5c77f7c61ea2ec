// The lists a caller hands to LogInetTimeLimit, in any of the forms callers use: a safe array of
// VARIANTs (by value or by reference) from C++ and VBScript, or a JScript array object.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "VariantValue.h"

// Appends the elements of `source` to *list. Any other type of VARIANT gives no elements and
// succeeds. A JScript element that cannot be read is skipped, but the answer is that of the last
// element's request. A safe array that is not one-dimensional or does not hold VARIANTs, and a
// list longer than 4096 elements, give E_INVALIDARG.
HRESULT ConvertScriptList(const VARIANT& source, VariantList* list);
