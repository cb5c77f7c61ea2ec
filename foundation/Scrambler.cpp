#include "Scrambler.h"

#include <cstdint>
#include <cstring>

namespace Strata {
namespace Scrambler {
namespace {

constexpr uint32_t kFnvOffset = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;
// The keystream's seed is a hash of the name too, started elsewhere so that it differs from the check.
constexpr uint32_t kKeystreamOffset = 0x5EA1ED00u;
constexpr size_t kFieldBytes = 4;
constexpr size_t kFrameOverhead = 2 * kFieldBytes;  // type and check
constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";

uint32_t Fnv1a(uint32_t hash, const void* data, size_t bytes) {
  const BYTE* p = static_cast<const BYTE*>(data);
  for (size_t i = 0; i < bytes; ++i) hash = (hash ^ p[i]) * kFnvPrime;
  return hash;
}

uint32_t NameHash(uint32_t offset, const std::wstring& folded) {
  return Fnv1a(offset, folded.data(), folded.size() * sizeof(wchar_t));
}

void PutLe32(BYTE* p, uint32_t value) {
  for (size_t i = 0; i < kFieldBytes; ++i) p[i] = static_cast<BYTE>(value >> (8 * i));
}

uint32_t GetLe32(const BYTE* p) {
  uint32_t value = 0;
  for (size_t i = 0; i < kFieldBytes; ++i) value |= static_cast<uint32_t>(p[i]) << (8 * i);
  return value;
}

// XORs the frame with the name's keystream; applying it twice restores the frame.
void Mask(std::vector<BYTE>& frame, const std::wstring& folded) {
  uint32_t state = NameHash(kKeystreamOffset, folded);
  if (state == 0) state = kKeystreamOffset;  // xorshift never leaves zero
  for (BYTE& b : frame) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b ^= static_cast<BYTE>(state >> 24);
  }
}

uint32_t Check(const std::wstring& folded, const BYTE* typeAndData, size_t bytes) {
  return Fnv1a(NameHash(kFnvOffset, folded), typeAndData, bytes);
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

}  // namespace

std::wstring FoldName(std::wstring_view name) {
  std::wstring folded(name);
  if (!folded.empty())
    ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.data(), static_cast<int>(name.size()), &folded[0],
                   static_cast<int>(folded.size()));
  return folded;
}

std::vector<BYTE> Seal(std::wstring_view name, DWORD type, const void* data, size_t bytes) {
  std::wstring folded = FoldName(name);
  std::vector<BYTE> frame(bytes + kFrameOverhead);
  PutLe32(frame.data(), type);
  if (bytes > 0) std::memcpy(frame.data() + kFieldBytes, data, bytes);
  PutLe32(frame.data() + kFieldBytes + bytes, Check(folded, frame.data(), kFieldBytes + bytes));
  Mask(frame, folded);
  return frame;
}

bool Open(std::wstring_view name, const BYTE* sealed, size_t bytes, DWORD* type, std::vector<BYTE>* data) {
  if (!sealed || bytes < kFrameOverhead) return false;
  std::wstring folded = FoldName(name);
  std::vector<BYTE> frame(sealed, sealed + bytes);
  Mask(frame, folded);
  size_t dataBytes = bytes - kFrameOverhead;
  if (GetLe32(frame.data() + kFieldBytes + dataBytes) != Check(folded, frame.data(), kFieldBytes + dataBytes))
    return false;
  *type = GetLe32(frame.data());
  data->assign(frame.begin() + kFieldBytes, frame.begin() + kFieldBytes + dataBytes);
  return true;
}

std::wstring SealText(std::wstring_view name, DWORD type, const void* data, size_t bytes) {
  std::vector<BYTE> frame = Seal(name, type, data, bytes);
  std::wstring text;
  text.reserve(frame.size() * 2);
  for (BYTE b : frame) {
    text += kHexDigits[b >> 4];
    text += kHexDigits[b & 0x0F];
  }
  return text;
}

bool OpenText(std::wstring_view name, std::wstring_view sealed, DWORD* type, std::vector<BYTE>* data) {
  if (sealed.size() % 2 != 0) return false;
  std::vector<BYTE> frame(sealed.size() / 2);
  for (size_t i = 0; i < frame.size(); ++i) {
    int high = HexValue(sealed[2 * i]);
    int low = HexValue(sealed[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    frame[i] = static_cast<BYTE>(high << 4 | low);
  }
  return Open(name, frame.data(), frame.size(), type, data);
}

}  // namespace Scrambler
}  // namespace Strata
