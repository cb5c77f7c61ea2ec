// One report-log entry as the platform's report log reads it, with every piece it points at held
// in task memory that the entry owns.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <list>
#include <string>
#include <unordered_set>
#include <utility>

#include "RecordLayout.h"

// Owns one zero-filled block of task memory for `count` elements of T.
template <typename T>
class CCoMemAllocBase {
 public:
  explicit CCoMemAllocBase(size_t count) {
    if (count == 0) return;
    const size_t bytes = count * sizeof(T);
    if (bytes / sizeof(T) != count) return;  // the size does not fit in memory at all
    block_ = static_cast<T*>(::CoTaskMemAlloc(bytes));
    if (!block_) return;
    size_ = bytes;
    std::memset(block_, 0, bytes);
  }
  virtual ~CCoMemAllocBase() {
    if (block_) ::CoTaskMemFree(block_);
  }
  CCoMemAllocBase(const CCoMemAllocBase&) = delete;
  CCoMemAllocBase& operator=(const CCoMemAllocBase&) = delete;

  // Hands the block to the caller, who frees it with CoTaskMemFree.
  virtual T* Detach() {
    size_ = 0;
    return std::exchange(block_, nullptr);
  }

  T* Get() const { return block_; }
  unsigned long long SizeInBytes() const { return size_; }

 private:
  T* block_ = nullptr;
  unsigned long long size_ = 0;
};

// A block that also remembers how many elements were asked for, even when it could not be allocated.
template <typename T>
class CCoMemAlloc : public CCoMemAllocBase<T> {
 public:
  explicit CCoMemAlloc(DWORD count) : CCoMemAllocBase<T>(count), count_(count) {}

  T* Detach() override {
    count_ = 0;
    return CCoMemAllocBase<T>::Detach();
  }

  DWORD Count() const { return count_; }

 private:
  DWORD count_;
};

// An exchanged structure T (zero at construction) plus the texts it points at.
template <typename T>
class CSKyParam {
 public:
  CSKyParam() { std::memset(&info_, 0, sizeof(info_)); }
  virtual ~CSKyParam() = default;
  CSKyParam(const CSKyParam&) = delete;
  CSKyParam& operator=(const CSKyParam&) = delete;

  // Hands the structure and what it points at to the caller.
  virtual T* Detach() = 0;

  // Makes the structure own a copy of `text` and returns it. A null text gives null; so does a copy
  // that could not be allocated. Throws std::bad_alloc only when the list node cannot be had.
  wchar_t* KeepString(const wchar_t* text) {
    if (!text) {
      strings_.emplace_back(0);
      return nullptr;
    }
    const size_t length = std::wcslen(text);
    CCoMemAlloc<wchar_t>& copy =
        strings_.emplace_back(length < MAXDWORD ? static_cast<DWORD>(length + 1) : 0);
    if (copy.Get()) std::memcpy(copy.Get(), text, (length + 1) * sizeof(wchar_t));
    return copy.Get();
  }

  T& Info() { return info_; }
  const T& Info() const { return info_; }

 protected:
  // Hands over the kept texts that `referenced` names; the others stay owned here.
  void DetachStrings(const std::unordered_set<const wchar_t*>& referenced) {
    for (CCoMemAlloc<wchar_t>& text : strings_) {
      if (text.Get() && referenced.count(text.Get())) text.Detach();
    }
  }

 private:
  T info_;
  std::list<CCoMemAlloc<wchar_t>> strings_;
};

// The base of every report-log record kind: allocates the entry arrays, fills entries, lists the
// record and hands it over.
//
// A record whose entry arrays or texts could not all be allocated keeps the requested counts with
// null pointers where memory was missing. Such a record must not be written: Status() then
// answers E_OUTOFMEMORY, and every writer checks Status() before it hands the record on. Kinds
// report their own construction failures (a bad argument list, say) the same way. Constructors
// and setters throw only std::bad_alloc, from the standard containers; the COM method that builds
// the record turns it into E_OUTOFMEMORY.
//
// A record is built, written and destroyed by one thread; nothing in it is shared or locked.
class CKyLogInfo : public CSKyParam<tagKYLOG_INFO> {
 public:
  CKyLogInfo(const wchar_t* category, DWORD detailsTemplateId, DWORD fieldCount, DWORD detailsCount,
             DWORD actionIdCount);
  ~CKyLogInfo() override = default;

  // Entries at or beyond the allocated counts are ignored.
  void SetField(DWORD index, DWORD fieldId, const wchar_t* text);
  void SetDetail(DWORD index, const wchar_t* token, const wchar_t* value);
  // The layout most kinds share: the user and summary columns and the main text of the details.
  void SetUserSummaryAndMainText(const std::wstring& user, const std::wstring& summary, const std::wstring& mainText);

  // Hands over the structure together with the arrays and texts it points at; the caller frees
  // each of them with CoTaskMemFree. Storage the structure does not point at (the unlinked action
  // block, say, or a text replaced by a later SetField) stays here and is freed by the destructor.
  // The returned pointer points into this record: copy the structure before the record goes.
  tagKYLOG_INFO* Detach() override;

  // A readable listing of every member, for the diagnostic log.
  virtual std::wstring Dump() const;

  // S_OK when the record may be written; otherwise why it must not be.
  HRESULT Status() const { return status_; }

 protected:
  // Keeps the first failure; later ones add nothing.
  void Fail(HRESULT hr);

 private:
  // KeepString that marks the record failed when a text could not be copied.
  wchar_t* KeepText(const wchar_t* text);

  CCoMemAlloc<tagKYLOG_FIELD> fields_;
  CCoMemAlloc<tagKYLOG_DETAILS_DATA> details_;
  CCoMemAlloc<tagKYLOG_ACTION> action_;
  CCoMemAlloc<DWORD> actionIds_;
  CCoMemAlloc<GUID> actionClass_;
  HRESULT status_ = S_OK;
};
