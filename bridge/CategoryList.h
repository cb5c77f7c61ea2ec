// The content categories the product supports, as the configuration object lists them for the
// user interface: each as [name, number], in the order of their names.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace CategoryList {

// The list in *list; an empty list (with a warning line) when the settings name none.
HRESULT Read(VARIANT* list);

}  // namespace CategoryList
