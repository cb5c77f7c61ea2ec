// The scrambled form in which the obfuscating registry key and INI reader keep their values, so
// that registry editors and text editors do not show them in clear. It hides values from casual
// eyes and detects damage; it is not encryption and keeps nothing from a determined reader.
//
// A sealed value is a frame of bytes:
//
//   type    4 bytes, little-endian: the value's registry type (REG_DWORD, REG_SZ, ...)
//   data    the value's bytes, any length (0 or more)
//   check   4 bytes, little-endian: FNV-1a over the folded name, then type and data
//
// and the whole frame is XORed with a keystream from a xorshift32 generator seeded with a hash of
// the folded name. The name is folded to upper case first, because registry value names and INI
// keys are both matched without regard to case.
//
// Binding both the keystream and the check to the name means a value copied under another name
// does not open. A frame shorter than 8 bytes, or whose check does not match (a damaged, truncated
// or hand-written value), does not open either: callers treat it as a wrong value (registry) or as
// an absent one (INI).
//
// In text form (INI files) the frame is written as upper-case hexadecimal, two digits a byte.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace Strata {
namespace Scrambler {

// The case folding applied to names: equal for names that differ only in case.
std::wstring FoldName(std::wstring_view name);

std::vector<BYTE> Seal(std::wstring_view name, DWORD type, const void* data, size_t bytes);
// False when the frame does not belong to `name` or is damaged; type and data are then untouched.
bool Open(std::wstring_view name, const BYTE* sealed, size_t bytes, DWORD* type, std::vector<BYTE>* data);

std::wstring SealText(std::wstring_view name, DWORD type, const void* data, size_t bytes);
bool OpenText(std::wstring_view name, std::wstring_view sealed, DWORD* type, std::vector<BYTE>* data);

}  // namespace Scrambler
}  // namespace Strata
