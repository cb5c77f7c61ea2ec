#include "CategoryList.h"

#include <map>
#include <string>
#include <vector>

#include "ConfigAccess.h"
#include "LogInstance.h"
#include "ProductSettings.h"
#include "ScriptAnswers.h"

namespace CategoryList {

HRESULT Read(VARIANT* list) {
  if (!list) return E_INVALIDARG;
  ::VariantInit(list);
  std::map<std::wstring, long> categories;
  ProductSettings::ReadCategoryMap(&categories);
  if (categories.empty())
    ZEL_LOG(ETWLogging::kLevelWarning, ConfigAccess::kLogSource, L"CZelConfig::GetSupportedCategoryList",
            L"No supported categories found!");
  std::vector<ScriptAnswers::Row> rows;
  rows.reserve(categories.size());
  for (const auto& [name, number] : categories) rows.push_back({name, number});
  return ScriptAnswers::ReturnRows(rows, list);
}

}  // namespace CategoryList
