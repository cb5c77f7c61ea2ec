// The configuration record kinds: category, template, fields and details for each code, with a
// context whose text N reads "<N>" unless a test words it otherwise.
#include <gtest/gtest.h>

#include "KyLogInfoInetTimeLimit.h"
#include "KyLogInfoKinds.h"
#include "RecordTestSupport.h"

namespace {

std::wstring T(UINT id) { return L"<" + std::to_wstring(id) + L">"; }

class ConfigurationKinds : public ::testing::Test {
 protected:
  FakeRecordContext context;
};

TEST_F(ConfigurationKinds, UserActionsPickTheirTextsAndNameTheResponsibleUser) {
  context.texts[5053] = L"%admin% added a user; %admin% again";
  CKyLogInfoUser added(context, 1, L"Kid", L"Mum");
  EXPECT_EQ(CategoryOf(added), L"{81CA7DE3-768B-463E-BF55-083D706DA129}");
  EXPECT_EQ(added.Info().dwDetailsTemplateID, 501u);
  EXPECT_EQ(FieldsOf(added), (std::vector<FieldEntry>{{601, L"Mum"}, {602, T(5051)}}));
  EXPECT_EQ(DetailsOf(added), (std::vector<DetailEntry>{{L"%log_details%", L"Mum added a user; Mum again"},
                                                        {L"%username%", L"Kid"}}));

  struct Case {
    long action;
    UINT summary;
    UINT mainText;
  } cases[] = {{0, 5056, 5055}, {2, 5052, 5054}};
  for (const Case& c : cases) {
    CKyLogInfoUser record(context, c.action, L"Kid", L"Mum");
    EXPECT_EQ(FieldsOf(record)[1], (FieldEntry{602, T(c.summary)})) << c.action;
    EXPECT_EQ(DetailsOf(record)[0], (DetailEntry{L"%log_details%", T(c.mainText)})) << c.action;
  }
}

TEST_F(ConfigurationKinds, UnknownUserActionLeavesSummaryUnsetAndMainTextEmpty) {
  CKyLogInfoUser record(context, 7, L"Kid", L"Mum");
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Mum"}, {0, L"(null)"}}));
  EXPECT_EQ(DetailsOf(record),
            (std::vector<DetailEntry>{{L"%log_details%", L""}, {L"%username%", L"Kid"}}));
  EXPECT_EQ(record.Status(), S_OK);
}

TEST_F(ConfigurationKinds, BlockingFeatureNamesTheFeatureAndWhoChangedIt) {
  context.texts[5077] = L"%admin% turned on %feature%.";
  context.texts[5078] = L"%admin% turned off %feature%.";
  struct Case {
    long feature;
    long added;
    UINT summary;
    UINT featureName;
  } cases[] = {{203, 1, 5075, 5064}, {203, 0, 5076, 5064}, {205, 1, 5071, 5062}, {205, 0, 5072, 5062},
               {206, 1, 5073, 5063}, {206, 0, 5074, 5063}, {209, 1, 6019, 5064}, {209, 0, 5076, 5064}};
  for (const Case& c : cases) {
    CKyLogInfoBlockingFeature record(context, L"{DE65AE9D-7EC1-40CF-91E9-CDABD3D08B5D}", 502, c.added, c.feature);
    const std::wstring expectedMain =
        L"Parent turned " + std::wstring(c.added ? L"on " : L"off ") + T(c.featureName) + L".";
    EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Parent"}, {602, T(c.summary)}}))
        << c.feature << "/" << c.added;
    EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", expectedMain}}))
        << c.feature << "/" << c.added;
  }
}

TEST_F(ConfigurationKinds, BlockingFeatureTakesCategoryAndTemplateFromItsCaller) {
  CKyLogInfoBlockingFeature record(context, L"{00000000-0000-0000-0000-000000000001}", 9, 1, 203);
  EXPECT_EQ(CategoryOf(record), L"{00000000-0000-0000-0000-000000000001}");
  EXPECT_EQ(record.Info().dwDetailsTemplateID, 9u);
}

TEST_F(ConfigurationKinds, UnknownFeatureKeepsItsPlaceholderAndHasNoSummary) {
  context.texts[5077] = L"%admin% turned on %feature%.";
  CKyLogInfoBlockingFeature record(context, CKyLogInfoBlockingFeature::kCategory,
                                   CKyLogInfoBlockingFeature::kTemplateId, 1, 300);
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Parent"}, {602, L""}}));
  EXPECT_EQ(DetailsOf(record)[0].value, L"Parent turned on %feature%.");
}

TEST_F(ConfigurationKinds, WebsiteSummaryAndListNameFollowActionAndListType) {
  context.texts[5091] = L"Added to the %websitelist%.";
  CKyLogInfoWebsite record(context, 1, 0, L"example.com");
  EXPECT_EQ(CategoryOf(record), L"{E747C0DE-F15B-42F1-AC9E-7B9E533B5EA5}");
  EXPECT_EQ(record.Info().dwDetailsTemplateID, 503u);
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Parent"}, {602, T(5082)}}));
  EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", L"Added to the " + T(5089) + L"."},
                                                         {L"%website%", L"example.com"}}));

  const UINT mainTexts[] = {5093, 5091, 5092};
  const UINT listNames[] = {5089, 5088, 5090};
  const UINT summaries[3][3] = {{5084, 5081, 5087}, {5082, 5079, 5085}, {5083, 5080, 5086}};
  for (long action = 0; action < 3; ++action) {
    context.texts[mainTexts[action]] = L"%websitelist%";
    for (long type = 0; type < 3; ++type) {
      CKyLogInfoWebsite each(context, action, type, L"example.com");
      EXPECT_EQ(FieldsOf(each)[1].text, T(summaries[action][type])) << action << "/" << type;
      EXPECT_EQ(DetailsOf(each)[0].value, T(listNames[type])) << action << "/" << type;
    }
  }
}

TEST_F(ConfigurationKinds, WebsiteUnknownListTypeRemovesTheListName) {
  context.texts[5091] = L"A web site was added to the %websitelist%.";
  CKyLogInfoWebsite record(context, 1, 9, L"example.com");
  EXPECT_EQ(FieldsOf(record)[1], (FieldEntry{602, L""}));
  EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", L"A web site was added to the ."},
                                                         {L"%website%", L"example.com"}}));
}

TEST_F(ConfigurationKinds, WebsiteUnknownActionHasNoTexts) {
  CKyLogInfoWebsite record(context, 5, 0, L"example.com");
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Parent"}, {602, L""}}));
  EXPECT_EQ(DetailsOf(record),
            (std::vector<DetailEntry>{{L"%log_details%", L""}, {L"%website%", L"example.com"}}));
}

TEST_F(ConfigurationKinds, PersonalInfoFillsTheTypeThenTheUser) {
  context.texts[5097] = L"%admin% added %info%.";
  CKyLogInfoPersonalInfo record(context, 1, L"phone number");
  EXPECT_EQ(CategoryOf(record), L"{6E056F0D-72BA-4939-9A99-F14BBD7AECF2}");
  EXPECT_EQ(record.Info().dwDetailsTemplateID, 504u);
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Parent"}, {602, T(5094)}}));
  EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", L"Parent added phone number."}}));

  CKyLogInfoPersonalInfo removed(context, 0, L"x");
  EXPECT_EQ(FieldsOf(removed)[1].text, T(5096));
  EXPECT_EQ(DetailsOf(removed)[0].value, T(5099));
  CKyLogInfoPersonalInfo changed(context, 2, L"x");
  EXPECT_EQ(FieldsOf(changed)[1].text, T(5095));
  EXPECT_EQ(DetailsOf(changed)[0].value, T(5098));
  CKyLogInfoPersonalInfo unknown(context, 3, L"x");
  EXPECT_EQ(FieldsOf(unknown)[1].text, L"");
  EXPECT_EQ(DetailsOf(unknown)[0].value, L"");
}

TEST_F(ConfigurationKinds, KeywordLeavesItsPlaceholdersToThePlatform) {
  context.texts[6001] = L"Keywords for %agelevel% changed: %keyword%";
  CKyLogInfoKeyword record(context, L"Teen", L"badword");
  EXPECT_EQ(CategoryOf(record), L"{D240EF93-6DA8-4CAF-92F7-128870545CDB}");
  EXPECT_EQ(record.Info().dwDetailsTemplateID, 505u);
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Parent"}, {602, T(6000)}}));
  EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", L"Keywords for %agelevel% changed: %keyword%"},
                                                         {L"%keyword%", L"badword"},
                                                         {L"%agelevel%", L"Teen"}}));
}

TEST_F(ConfigurationKinds, MissingTextsGiveEmptyEntriesAndTheRecordStaysWritable) {
  context.currentUser.clear();
  context.missingTexts = {5094, 5097};
  CKyLogInfoPersonalInfo record(context, 1, L"phone number");
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L""}, {602, L""}}));
  EXPECT_EQ(DetailsOf(record)[0].value, L"");
  EXPECT_EQ(record.Status(), S_OK);
}

// Lists as the logger hands them over.
VariantList Texts(std::initializer_list<const wchar_t*> texts) {
  VariantList list;
  for (const wchar_t* text : texts) {
    list.emplace_back();
    VARIANT* value = list.back().Put();
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = ::SysAllocString(text);
  }
  return list;
}

void AppendNumber(VariantList* list, LONG number) {
  list->emplace_back();
  VARIANT* value = list->back().Put();
  V_VT(value) = VT_I4;
  V_I4(value) = number;
}

class TimeLimitKind : public ConfigurationKinds {
 protected:
  void SetUp() override { context.texts[6003] = L"%admin%/%user%: %dayname% %fromtime%-%totime%"; }
};

TEST_F(TimeLimitKind, OneLinePerDayEachEndedByAnEscapedBreak) {
  VariantList days = Texts({L"Monday"});
  AppendNumber(&days, 3);
  CKyLogInfoInetTimeLimit record(context, L"Kid", days, Texts({L"08:00", L"09:00"}), Texts({L"12:00", L"13:00"}));
  EXPECT_EQ(record.Status(), S_OK);
  EXPECT_EQ(CategoryOf(record), L"{006B86CE-31E3-43D4-BACA-6BF6801073C5}");
  EXPECT_EQ(record.Info().dwDetailsTemplateID, 506u);
  EXPECT_EQ(FieldsOf(record), (std::vector<FieldEntry>{{601, L"Parent"}, {602, T(6002)}}));
  EXPECT_EQ(DetailsOf(record),
            (std::vector<DetailEntry>{{L"%log_details%",
                                       L"Parent/Kid: Monday 08:00-12:00&amp;lt;br/&amp;gt;"
                                       L"Parent/Kid: 3 09:00-13:00&amp;lt;br/&amp;gt;"}}));
}

TEST_F(TimeLimitKind, NoDaysGiveAnEmptyMainText) {
  CKyLogInfoInetTimeLimit record(context, L"Kid", VariantList(), VariantList(), VariantList());
  EXPECT_EQ(record.Status(), S_OK);
  EXPECT_EQ(DetailsOf(record), (std::vector<DetailEntry>{{L"%log_details%", L""}}));
}

TEST_F(TimeLimitKind, ShorterTimeListFailsTheRecord) {
  CKyLogInfoInetTimeLimit shortFrom(context, L"Kid", Texts({L"Mo", L"Tu"}), Texts({L"1"}), Texts({L"3", L"4"}));
  EXPECT_EQ(shortFrom.Status(), E_INVALIDARG);
  CKyLogInfoInetTimeLimit shortTo(context, L"Kid", Texts({L"Mo", L"Tu"}), Texts({L"1", L"2"}), Texts({L"3"}));
  EXPECT_EQ(shortTo.Status(), E_INVALIDARG);
}

TEST_F(TimeLimitKind, ValueWithoutTextFormFailsTheRecord) {
  VariantList from;
  from.emplace_back();
  V_VT(from.back().Put()) = VT_NULL;
  CKyLogInfoInetTimeLimit record(context, L"Kid", Texts({L"Mo"}), from, Texts({L"3"}));
  EXPECT_EQ(record.Status(), DISP_E_TYPEMISMATCH);
}

}  // namespace
