// The record model: buffers, string ownership, entry setting, hand-over and listing.
#include <gtest/gtest.h>

#include <cstring>

#include "KyLogInfo.h"
#include "RecordTestSupport.h"
#include "TaskMemorySpy.h"

namespace {

constexpr wchar_t kCategory[] = L"{81CA7DE3-768B-463E-BF55-083D706DA129}";

// CKyLogInfo is a base: a record kind with nothing of its own.
class PlainRecord : public CKyLogInfo {
 public:
  PlainRecord(DWORD fields, DWORD details, DWORD actionIds = 1)
      : CKyLogInfo(kCategory, 501, fields, details, actionIds) {}
};

bool AllZero(const void* block, size_t bytes) {
  const unsigned char* bytesOf = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < bytes; ++i) {
    if (bytesOf[i]) return false;
  }
  return true;
}

TEST(CoMemAlloc, AllocatesZeroedBlockAndHandsItOver) {
  CCoMemAlloc<DWORD> ids(3);
  ASSERT_NE(ids.Get(), nullptr);
  EXPECT_EQ(ids.Count(), 3u);
  EXPECT_EQ(ids.SizeInBytes(), 12u);
  EXPECT_TRUE(AllZero(ids.Get(), 12));

  DWORD* block = ids.Detach();
  EXPECT_EQ(ids.Get(), nullptr);
  EXPECT_EQ(ids.Count(), 0u);
  EXPECT_EQ(ids.SizeInBytes(), 0u);
  ::CoTaskMemFree(block);
}

TEST(KyLogInfo, FreshRecordMirrorsItsArraysAndIsZeroFilled) {
  PlainRecord record(2, 1, 1);
  const tagKYLOG_INFO& info = record.Info();
  EXPECT_EQ(CategoryOf(record), kCategory);
  EXPECT_NE(info.pwszLogCategoryID, kCategory) << "the record keeps its own copy";
  EXPECT_EQ(info.bViewByTARNAdminOnly, TRUE);
  EXPECT_EQ(info.dwFieldCount, 2u);
  EXPECT_EQ(info.dwDetailsTemplateID, 501u);
  EXPECT_EQ(info.dwDetailsDataCount, 1u);
  EXPECT_EQ(info.pAction, nullptr);
  ASSERT_NE(info.pFields, nullptr);
  ASSERT_NE(info.pDetailsData, nullptr);
  EXPECT_TRUE(AllZero(info.pFields, 2 * sizeof(tagKYLOG_FIELD)));
  EXPECT_TRUE(AllZero(info.pDetailsData, sizeof(tagKYLOG_DETAILS_DATA)));
  EXPECT_EQ(record.Status(), S_OK);
}

TEST(KyLogInfo, EntriesBeyondTheCountsAreIgnored) {
  PlainRecord record(2, 1);
  record.SetField(1, 602, L"summary");
  record.SetDetail(0, L"%log_details%", L"main");
  record.SetField(2, 777, L"beyond");
  record.SetDetail(1, L"%beyond%", L"beyond");

  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{0, L"(null)"}, {602, L"summary"}}));
  EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", L"main"}}));
}

TEST(KyLogInfo, KeepStringCopiesEmptyTextAndKeepsNullAsNull) {
  PlainRecord record(0, 0);
  const wchar_t* empty = record.KeepString(L"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], L'\0');
  EXPECT_EQ(record.KeepString(nullptr), nullptr);
  const wchar_t source[] = L"copied";
  const wchar_t* copy = record.KeepString(source);
  EXPECT_NE(copy, source);
  EXPECT_STREQ(copy, L"copied");
}

TEST(KyLogInfo, DetachHandsOverExactlyWhatTheStructureReferences) {
  TaskMemorySpy spy;
  ASSERT_TRUE(spy.Installed());
  tagKYLOG_INFO handed{};
  {
    PlainRecord record(2, 1);
    record.SetField(0, 601, L"replaced later");
    record.SetField(0, 601, L"Parent");
    record.SetField(1, 602, L"Summary");
    record.SetDetail(0, L"%log_details%", nullptr);
    record.KeepString(L"never referenced");
    handed = *record.Detach();
  }
  // What stayed with the record (the replaced and unreferenced texts, the action storage) went
  // with it; what is left alive is exactly what the structure points at.
  std::set<void*> referenced{handed.pwszLogCategoryID, handed.pFields, handed.pDetailsData,
                             handed.pFields[0].pwszData, handed.pFields[1].pwszData,
                             handed.pDetailsData[0].pwszToken};
  EXPECT_EQ(spy.Live(), referenced);
  EXPECT_STREQ(handed.pwszLogCategoryID, kCategory);
  EXPECT_STREQ(handed.pFields[0].pwszData, L"Parent");
  EXPECT_STREQ(handed.pDetailsData[0].pwszToken, L"%log_details%");
  EXPECT_EQ(handed.pDetailsData[0].pwszValue, nullptr);

  for (void* block : referenced) ::CoTaskMemFree(block);
  EXPECT_TRUE(spy.Live().empty());
  EXPECT_EQ(spy.StrayFrees(), 0);
}

TEST(KyLogInfo, RecordDestroyedWithoutDetachFreesEverythingOnce) {
  TaskMemorySpy spy;
  ASSERT_TRUE(spy.Installed());
  {
    PlainRecord record(2, 2, 3);
    record.SetField(0, 601, L"Parent");
    record.SetDetail(1, L"%username%", L"Kid");
  }
  EXPECT_TRUE(spy.Live().empty());
  EXPECT_EQ(spy.StrayFrees(), 0);
}

TEST(KyLogInfo, DumpListsEveryEntryAndEndsAfterTheLastDetail) {
  PlainRecord record(2, 2);
  record.SetField(0, 601, L"Parent");
  record.SetDetail(0, L"%log_details%", L"Main text");
  EXPECT_EQ(record.Dump(),
            L"\r\npwszLogCategoryID = \"{81CA7DE3-768B-463E-BF55-083D706DA129}\""
            L"\r\nbViewByTARNAdminOnly = 1"
            L"\r\ndwFieldCount = 2"
            L"\r\npFields[0].dwFieldID = 601"
            L"\r\npFields[0].pwszData = \"Parent\""
            L"\r\npFields[1].dwFieldID = 0"
            L"\r\npFields[1].pwszData = \"(null)\""
            L"\r\ndwDetailsTemplateID = 501"
            L"\r\ndwDetailsDataCount = 2"
            L"\r\npDetailsData[0].pwszToken = \"%log_details%\""
            L"\r\npDetailsData[0].pwszValue = \"Main text\""
            L"\r\npDetailsData[1].pwszToken = \"(null)\""
            L"\r\npDetailsData[1].pwszValue = \"(null)\"");
}

TEST(KyLogInfo, DumpListsALinkedAction) {
  PlainRecord record(0, 0);
  DWORD ids[] = {4, 9};
  GUID actionClass = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  tagKYLOG_ACTION action{2, ids, TRUE, nullptr, &actionClass};
  record.Info().pAction = &action;
  const std::wstring dump = record.Dump();
  record.Info().pAction = nullptr;

  const std::wstring expectedTail =
      L"\r\ndwDetailsDataCount = 0"
      L"\r\npAction->dwActionCount = 2"
      L"\r\npAction->pdwActionID[0] = 4"
      L"\r\npAction->pdwActionID[1] = 9"
      L"\r\npAction->bAdminRequired = 1"
      L"\r\npAction->pwszUserName = \"(null)\""
      L"\r\npAction->pclsidAction = \"{12345678-9ABC-DEF0-0123-456789ABCDEF}\"";
  ASSERT_GE(dump.size(), expectedTail.size());
  EXPECT_EQ(dump.substr(dump.size() - expectedTail.size()), expectedTail);
}

// Allocation order in the constructor: field array, details array, action block, action ids,
// action class, then the category text.
TEST(KyLogInfo, RecordWhoseArrayCannotBeAllocatedMustNotBeWritten) {
  TaskMemorySpy spy;
  ASSERT_TRUE(spy.Installed());
  for (int failing : {0, 1}) {
    spy.FailAllocation(failing);
    PlainRecord record(2, 1);
    EXPECT_EQ(record.Status(), E_OUTOFMEMORY) << "allocation " << failing;
    EXPECT_EQ(record.Info().dwFieldCount, 2u);
    EXPECT_EQ(record.Info().dwDetailsDataCount, 1u);
    record.SetField(0, 601, L"Parent");
    record.SetDetail(0, L"%log_details%", L"Main");
    EXPECT_FALSE(record.Dump().empty());
  }
}

TEST(KyLogInfo, TextThatCannotBeCopiedFailsTheRecord) {
  TaskMemorySpy spy;
  ASSERT_TRUE(spy.Installed());
  spy.FailAllocation(5);
  PlainRecord withoutCategory(2, 1);
  EXPECT_EQ(withoutCategory.Status(), E_OUTOFMEMORY);
  EXPECT_EQ(withoutCategory.Info().pwszLogCategoryID, nullptr);

  PlainRecord record(2, 1);
  ASSERT_EQ(record.Status(), S_OK);
  record.SetField(0, 601, nullptr);  // a null text is no failure
  EXPECT_EQ(record.Status(), S_OK);
  spy.FailAllocation(0);
  record.SetField(1, 602, L"Summary");
  EXPECT_EQ(record.Status(), E_OUTOFMEMORY);
  EXPECT_EQ(record.Info().pFields[1].pwszData, nullptr);
}

}  // namespace
