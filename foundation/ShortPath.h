// The short (8.3) form of a path, which holds no spaces: for places that store or pass a path
// unquoted.
#pragma once

#include <string>

namespace Strata {

// The short form of `path`, or `path` as it is when the system has none for it.
std::wstring ShortPath(const std::wstring& path);

}  // namespace Strata
