// The two event record kinds: the user of the event's session, the texts by event type, and the
// "%content%" value.
#include <gtest/gtest.h>

#include "KyLogInfoEvent.h"
#include "RecordTestSupport.h"

namespace {

std::wstring T(UINT id) { return L"<" + std::to_wstring(id) + L">"; }

constexpr DWORD kSession = 3;

class EventKinds : public ::testing::Test {
 protected:
  void SetUp() override {
    context.currentUser = L"not this one";
    context.sessionUsers[kSession] = L"Kid";
    context.texts[6007] = L"%user% is out of time";
    context.texts[6014] = L"Keyword on %webpage%";
    context.texts[6016] = L"%user% visited";
    context.texts[6010] = L"%user% tried (admin)";
    context.texts[6021] = L"%user% sent";
  }
  FakeRecordContext context;
};

TEST_F(EventKinds, WebEventTextsByType) {
  struct Case {
    long type;
    UINT summary;
    std::wstring mainText;
    std::wstring content;
  } cases[] = {{0, 6004, T(6005), L"http://page"},
               {1, 6006, L"Kid is out of time", T(6008)},
               {3, 6013, L"Keyword on http://page", L"the content"},
               {4, 6011, T(6012), L"http://page"},
               {5, 6015, L"Kid visited", L"http://page"}};
  for (const Case& c : cases) {
    CKyLogInfoWebEvent record(context, c.type, L"http://page", L"the content", kSession);
    EXPECT_EQ(CategoryOf(record), L"{C38A4409-4351-40E7-8A00-0FE40159F014}");
    EXPECT_EQ(record.Info().dwDetailsTemplateID, 507u);
    EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Kid"}, {602, T(c.summary)}})) << c.type;
    EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", c.mainText}, {L"%content%", c.content}}))
        << c.type;
  }
}

TEST_F(EventKinds, WebEventOfUnknownTypeHasOnlyTheUser) {
  for (long type : {2L, 6L, -1L}) {
    CKyLogInfoWebEvent record(context, type, L"http://page", L"the content", kSession);
    EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Kid"}, {602, L""}})) << type;
    EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", L""}, {L"%content%", L""}})) << type;
  }
}

TEST_F(EventKinds, SessionWithoutPlatformUserGivesAnEmptyName) {
  context.texts[6016] = L"[%user%] visited";
  CKyLogInfoWebEvent record(context, 5, L"http://page", L"", 42);
  EXPECT_EQ(FieldsOf(record)[0], (FieldEntry{601, L""}));
  EXPECT_EQ(DetailsOf(record)[0].value, L"[] visited");
}

TEST_F(EventKinds, PersonalInfoEventWordingDependsOnWhetherTheUserIsAdministrator) {
  context.adminSessions.insert(kSession);
  CKyLogInfoPIEvent admin(context, 2, L"http://page", L"phone number", kSession);
  EXPECT_EQ(CategoryOf(admin), L"{17E788F0-80DB-45f6-B2C9-2B086D2CCB6B}");
  EXPECT_EQ(admin.Info().dwDetailsTemplateID, 508u);
  EXPECT_EQ(FieldsOf(admin), (std::vector<FieldEntry>{{601, L"Kid"}, {602, T(6009)}}));
  EXPECT_EQ(DetailsOf(admin),
            (std::vector<DetailEntry>{{L"%log_details%", L"Kid tried (admin)"}, {L"%content%", L"phone number"}}));

  context.adminSessions.clear();
  CKyLogInfoPIEvent other(context, 2, L"http://page", L"phone number", kSession);
  EXPECT_EQ(FieldsOf(other), (std::vector<FieldEntry>{{601, L"Kid"}, {602, T(6020)}}));
  EXPECT_EQ(DetailsOf(other),
            (std::vector<DetailEntry>{{L"%log_details%", L"Kid sent"}, {L"%content%", L"phone number"}}));
}

TEST_F(EventKinds, PersonalInfoRecordOfAnotherTypeHasOnlyTheUser) {
  CKyLogInfoPIEvent record(context, 3, L"http://page", L"phone number", kSession);
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Kid"}, {602, L""}}));
  EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", L""}, {L"%content%", L""}}));
}

TEST_F(EventKinds, PlaceholderInTheInsertedValueIsNotReplacedAgain) {
  context.sessionUsers[kSession] = L"%user%";
  CKyLogInfoWebEvent record(context, 5, L"http://page", L"", kSession);
  EXPECT_EQ(DetailsOf(record)[0].value, L"%user% visited");
}

}  // namespace
