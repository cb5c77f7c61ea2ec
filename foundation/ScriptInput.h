// What script engines hand over, read without trusting it: numbers in any VARIANT form, and arrays
// of either engine (VBScript passes a safe array of VARIANTs, JScript an array object whose
// "length", "0", "1", ... are properties it answers through IDispatch). A script may claim any
// length, so every reader caps it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "VariantValue.h"

namespace ScriptInput {

// More elements than any product page or client sends; a script claiming more is refused, not
// iterated.
constexpr LONG kMaxElements = 4096;
// Asks a reader for every element of the array.
constexpr LONG kAllElements = -1;

// The value a script variable refers to: script engines pass variables as a reference to a VARIANT
// (VT_BYREF | VT_VARIANT), one reference deep; a value that is not such a reference is its own
// value. Null for a null reference or a reference to another reference.
const VARIANT* Referenced(const VARIANT& source);

// Any VARIANT the system converts to a 32-bit integer, references resolved; E_INVALIDARG otherwise.
HRESULT ToLong(const VARIANT& source, long* value);

// A property of a script object ("length", "0", "1", ...), read the way script engines answer them.
HRESULT GetProperty(IDispatch* object, const std::wstring& name, CVariantValue* value);

// Elements of a one-dimensional safe array of VARIANTs: the first `count`, which the array must
// hold, or all of them for kAllElements. `lowerBound`, when given, receives the array's lower bound.
// E_INVALIDARG for another shape or element type, too few or more than kMaxElements elements; the
// system's error when an element cannot be read.
HRESULT ReadSafeArray(SAFEARRAY* array, LONG count, VariantList* elements, LONG* lowerBound = nullptr);

// The same from a script engine's array object, which says its own length; E_INVALIDARG for an
// object without a usable length or with an element it does not answer.
HRESULT ReadArrayObject(IDispatch* array, LONG count, VariantList* elements);

}  // namespace ScriptInput
