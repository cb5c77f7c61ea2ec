#include "ScriptAnswers.h"

#include <oleauto.h>

namespace ScriptAnswers {

namespace {

// An empty-valued one-dimensional VT_ARRAY | VT_VARIANT of `count` elements.
HRESULT CreateVariantArray(ULONG count, CVariantValue* array) {
  SAFEARRAY* created = ::SafeArrayCreateVector(VT_VARIANT, 0, count);
  if (!created) return E_OUTOFMEMORY;
  VARIANT* held = array->Put();
  V_VT(held) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(held) = created;
  return S_OK;
}

HRESULT PutElement(const CVariantValue& array, LONG index, const VARIANT& element) {
  return ::SafeArrayPutElement(V_ARRAY(&array.Get()), &index, const_cast<VARIANT*>(&element));
}

struct CellWriter {
  VARIANT* target;
  HRESULT operator()(const std::wstring& text) const { return ReturnBstr(text, target); }
  HRESULT operator()(long number) const {
    SetI4(target, number);
    return S_OK;
  }
  HRESULT operator()(bool flag) const {
    V_VT(target) = VT_BOOL;
    V_BOOL(target) = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
};

HRESULT PutRow(const CVariantValue& list, LONG index, const Row& row) {
  CVariantValue entry;
  HRESULT hr = CreateVariantArray(static_cast<ULONG>(row.size()), &entry);
  for (LONG i = 0; SUCCEEDED(hr) && i < static_cast<LONG>(row.size()); ++i) {
    CVariantValue cell;
    hr = std::visit(CellWriter{cell.Put()}, row[i]);
    if (SUCCEEDED(hr)) hr = PutElement(entry, i, cell.Get());
  }
  if (SUCCEEDED(hr)) hr = PutElement(list, index, entry.Get());
  return hr;
}

}  // namespace

HRESULT CopyOut(const CVariantValue& value, VARIANT* target) {
  ::VariantInit(target);
  return ::VariantCopy(target, const_cast<VARIANT*>(&value.Get()));
}

HRESULT ReturnBstr(const std::wstring& text, VARIANT* target) {
  BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!copy) return E_OUTOFMEMORY;
  V_VT(target) = VT_BSTR;
  V_BSTR(target) = copy;
  return S_OK;
}

void SetI4(VARIANT* target, long value) {
  V_VT(target) = VT_I4;
  V_I4(target) = value;
}

HRESULT ReturnRows(const std::vector<Row>& rows, VARIANT* target) {
  CVariantValue list;
  HRESULT hr = CreateVariantArray(static_cast<ULONG>(rows.size()), &list);
  for (LONG i = 0; SUCCEEDED(hr) && i < static_cast<LONG>(rows.size()); ++i) hr = PutRow(list, i, rows[i]);
  if (FAILED(hr)) return hr;
  return CopyOut(list, target);
}

}  // namespace ScriptAnswers
