// Every record kind built from the real product texts: each text is found and no placeholder that
// the record fills itself is left in a summary or main text.
#include <gtest/gtest.h>

#include "Handles.h"
#include "KyLogInfoEvent.h"
#include "KyLogInfoInetTimeLimit.h"
#include "KyLogInfoKinds.h"
#include "RecordTestSupport.h"

namespace {

std::wstring ModuleFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// Texts from the product resource library beside the tests; users as the fake has them.
class ResourceTextContext : public FakeRecordContext {
 public:
  ResourceTextContext()
      : library_(::LoadLibraryExW((ModuleFolder() + L"\\ZelRes2.DLL").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  bool Loaded() const { return library_.valid(); }

  std::wstring ProductString(UINT id) override {
    wchar_t text[1024] = {};
    int length = ::LoadStringW(library_.get(), id, text, ARRAYSIZE(text));
    if (length <= 0) missing.insert(id);
    return std::wstring(text, length > 0 ? length : 0);
  }

  std::set<UINT> missing;

 private:
  Strata::UniqueModule library_;
};

class ProductTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(context.Loaded()) << "ZelRes2.DLL beside the tests";
    context.currentUser = L"Parent";
    context.sessionUsers[1] = L"Kid";
  }

  // The summary (field 602) and the main text (details 0) hold every text the record filled in.
  void ExpectFilled(const CKyLogInfo& record, const char* what) {
    EXPECT_EQ(record.Status(), S_OK) << what;
    const std::vector<FieldEntry> fields = FieldsOf(record);
    const std::vector<DetailEntry> details = DetailsOf(record);
    ASSERT_EQ(fields.size(), 2u) << what;
    ASSERT_FALSE(details.empty()) << what;
    for (const std::wstring& text : {fields[1].text, details[0].value}) {
      EXPECT_FALSE(text.empty()) << what;
      EXPECT_EQ(text.find(L'%'), std::wstring::npos) << what << ": " << std::string(text.begin(), text.end());
    }
  }

  ResourceTextContext context;
};

TEST_F(ProductTexts, ConfigurationKindsLeaveNoPlaceholderBehind) {
  for (long action : {0, 1, 2}) {
    ExpectFilled(CKyLogInfoUser(context, action, L"Kid", L"Parent"), "user");
    ExpectFilled(CKyLogInfoPersonalInfo(context, action, L"phone number"), "personal information");
    for (long type : {0, 1, 2}) ExpectFilled(CKyLogInfoWebsite(context, action, type, L"example.com"), "web site");
  }
  for (long feature : {203, 205, 206, 209}) {
    for (long added : {0, 1}) {
      ExpectFilled(CKyLogInfoBlockingFeature(context, CKyLogInfoBlockingFeature::kCategory,
                                             CKyLogInfoBlockingFeature::kTemplateId, added, feature),
                   "blocking feature");
    }
  }
  ExpectFilled(CKyLogInfoKeyword(context, L"Teen", L"badword"), "keyword");

  VariantList days(1), from(1), to(1);
  for (VariantList* list : {&days, &from, &to}) {
    VARIANT* value = (*list)[0].Put();
    V_VT(value) = VT_I4;
    V_I4(value) = 7;
  }
  ExpectFilled(CKyLogInfoInetTimeLimit(context, L"Kid", days, from, to), "time limit");
  EXPECT_TRUE(context.missing.empty());
}

TEST_F(ProductTexts, EventKindsLeaveNoPlaceholderBehind) {
  for (long type : {0, 1, 3, 4, 5}) ExpectFilled(CKyLogInfoWebEvent(context, type, L"http://page", L"chat", 1), "event");
  ExpectFilled(CKyLogInfoPIEvent(context, 2, L"http://page", L"phone number", 1), "personal information sent");
  context.adminSessions.insert(1);
  ExpectFilled(CKyLogInfoPIEvent(context, 2, L"http://page", L"phone number", 1), "personal information blocked");
  EXPECT_TRUE(context.missing.empty());
}

}  // namespace
