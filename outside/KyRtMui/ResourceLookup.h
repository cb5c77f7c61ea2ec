// Resource lookups in one language with the base language behind it, so a translation that
// lacks a resource still shows the English one.
#pragma once

#include <windows.h>

namespace KyRtMuiStandIn {

// The resource in `language`, else in the base language, else whatever FindResourceW finds.
HRSRC FindResourceInLanguage(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language);

// LoadStringW with a language: the string from `language`'s table, else from the base language's,
// else what LoadStringW finds. As with LoadStringW, a `capacity` of 0 stores a read-only pointer to
// the text (not terminated) in `buffer`; otherwise the copy is cut to capacity - 1 characters and
// terminated. Returns the characters copied (or the text's length), 0 when there is no such string.
int LoadStringInLanguage(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language);

// Makes `language` the thread's UI language for the loaders that take none (images, bitmaps,
// icons), and restores the previous one at destruction.
class ThreadUiLanguageScope {
 public:
  explicit ThreadUiLanguageScope(LANGID language);
  ~ThreadUiLanguageScope();
  ThreadUiLanguageScope(const ThreadUiLanguageScope&) = delete;
  ThreadUiLanguageScope& operator=(const ThreadUiLanguageScope&) = delete;

 private:
  LANGID previous_;
};

}  // namespace KyRtMuiStandIn
