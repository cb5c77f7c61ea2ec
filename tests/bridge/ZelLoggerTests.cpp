// The logger object over a report log of the test's own: which record each method writes, the
// list forms LogInetTimeLimit takes (script arrays, safe arrays, references, nothing), a report log
// that could not be created, and calls through IDispatch as scripts make them.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "FakeReportLog.h"
#include "Handles.h"
#include "ScriptArray.h"
#include "TestSupport.h"
#include "ZelLogger.h"
#include "ZelTARNModule.h"

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kWebEventCategory[] = L"{C38A4409-4351-40E7-8A00-0FE40159F014}";
constexpr wchar_t kPersonalInfoEventCategory[] = L"{17E788F0-80DB-45f6-B2C9-2B086D2CCB6B}";
constexpr LONG kUntouched = 0x7777;

using ZelTest::ScriptArray;

class OwnedVariant {
 public:
  OwnedVariant() { ::VariantInit(&value); }
  ~OwnedVariant() { ::VariantClear(&value); }
  VARIANT value;
};

// A VARIANT holding a one-dimensional safe array of BSTR VARIANTs.
void MakeSafeArray(const std::vector<std::wstring>& items, VARIANT* out) {
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    VARIANT item;
    V_VT(&item) = VT_BSTR;
    V_BSTR(&item) = ::SysAllocString(items[i].c_str());
    ::SafeArrayPutElement(array, &i, &item);
    ::VariantClear(&item);
  }
  V_VT(out) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out) = array;
}

// Lines of a time-limit main text, each ending in an escaped line break.
size_t LineCount(const std::wstring& mainText) {
  const std::wstring lineBreak = L"&amp;lt;br/&amp;gt;";
  size_t count = 0;
  for (size_t at = mainText.find(lineBreak); at != std::wstring::npos; at = mainText.find(lineBreak, at + 1)) ++count;
  return count;
}

VARIANT DispatchVariant(IDispatch* object) {
  VARIANT value;
  V_VT(&value) = VT_DISPATCH;
  V_DISPATCH(&value) = object;
  return value;
}

class ZelLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    // The type library the dispatch calls need is the one embedded in the built library.
    library_.reset(::LoadLibraryW(ZelTest::SiblingPath(L"ZelTARN.dll").c_str()));
    ASSERT_TRUE(library_);
    g_module.SetInstance(reinterpret_cast<HINSTANCE>(library_.get()));
  }
  void TearDown() override {
    logger_.Reset();
    g_module.SetInstance(nullptr);
    g_module.CanUnloadNow();
    ::CoUninitialize();
  }

  IZelLogger* Logger() {
    if (!logger_) {
      EXPECT_EQ(CZelLogger::CreateWithReportLog(source_.Creator(), IID_IZelLogger, &logger_), S_OK);
    }
    return logger_.Get();
  }
  FakeReportLog& Log() { return source_.Log(0); }
  // The value of the main text of the last record written.
  std::wstring LastMainText() {
    for (const auto& detail : Log().details.back())
      if (detail.first == L"%log_details%") return detail.second;
    return L"(none)";
  }

  FakeReportLogSource source_{1};
  Strata::UniqueModule library_;
  ComPtr<IZelLogger> logger_;
};

TEST_F(ZelLoggerTest, LogEventWritesAPersonalInfoRecordForTypeTwoAndAWebRecordOtherwise) {
  Strata::UniqueBstr page(::SysAllocString(L"http://example.test/"));
  for (LONG type : {0, 1, 2, 3, 4, 5, 17}) {
    LONG result = kUntouched;
    EXPECT_EQ(Logger()->LogEvent(&type, page.get(), nullptr, 1, &result), S_OK) << type;
    EXPECT_EQ(result, 0);
  }
  EXPECT_EQ(Log().categories,
            (std::vector<std::wstring>{kWebEventCategory, kWebEventCategory, kPersonalInfoEventCategory,
                                       kWebEventCategory, kWebEventCategory, kWebEventCategory, kWebEventCategory}));
}

TEST_F(ZelLoggerTest, EveryMethodReturnsTheReportLogsAnswer) {
  Log().answers = {{S_OK, 0x00020005}, {S_FALSE, 0}};
  LONG action = 1;
  LONG result = kUntouched;
  EXPECT_EQ(Logger()->LogPersonalInfo(&action, nullptr, &result), S_OK);
  EXPECT_EQ(result, 0x00020005);
  EXPECT_EQ(Logger()->LogWebsite(&action, &action, nullptr, &result), S_FALSE);
}

TEST_F(ZelLoggerTest, ReportLogThatCouldNotBeCreatedFailsEveryMethodWithResultUntouched) {
  source_.failures = {REGDB_E_CLASSNOTREG};
  LONG value = 1;
  LONG result = kUntouched;
  OwnedVariant empty;
  IZelLogger* logger = Logger();
  EXPECT_EQ(logger->LogInfoUser(&value, nullptr, nullptr, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(logger->LogBlockingFeature(1, &value, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(logger->LogWebsite(&value, &value, nullptr, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(logger->LogPersonalInfo(&value, nullptr, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(logger->LogKeyword(nullptr, nullptr, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(logger->LogEvent(&value, nullptr, nullptr, 1, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(logger->LogInetTimeLimit(nullptr, empty.value, empty.value, empty.value, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(result, kUntouched);
}

TEST_F(ZelLoggerTest, NullArgumentPointersAreRefused) {
  LONG value = 1;
  LONG result = kUntouched;
  EXPECT_EQ(Logger()->LogEvent(nullptr, nullptr, nullptr, 1, &result), E_POINTER);
  EXPECT_EQ(Logger()->LogBlockingFeature(1, nullptr, &result), E_POINTER);
  EXPECT_EQ(Logger()->LogKeyword(nullptr, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(Logger()->LogInfoUser(&value, nullptr, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(Log().WriteCount(), 0u);
}

TEST_F(ZelLoggerTest, TimeLimitListsComeAsScriptArraysSafeArraysOrReferences) {
  ScriptArray days({L"Mon", L"Tue", L"Wed"});
  OwnedVariant from, to, toByValue;
  MakeSafeArray({L"8:00", L"9:00", L"10:00"}, &from.value);
  MakeSafeArray({L"17:00", L"18:00", L"19:00"}, &toByValue.value);
  V_VT(&to.value) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&to.value) = &toByValue.value;
  LONG result = kUntouched;

  EXPECT_EQ(Logger()->LogInetTimeLimit(nullptr, DispatchVariant(&days), from.value, to.value, &result), S_OK);
  V_VT(&to.value) = VT_EMPTY;  // only a reference: nothing of its own to clear
  EXPECT_EQ(LineCount(LastMainText()), 3u);
}

TEST_F(ZelLoggerTest, EmptyTimeLimitListsWriteAnEmptyMainText) {
  OwnedVariant empty;
  LONG result = kUntouched;
  EXPECT_EQ(Logger()->LogInetTimeLimit(nullptr, empty.value, empty.value, empty.value, &result), S_OK);
  EXPECT_EQ(LastMainText(), L"");
}

TEST_F(ZelLoggerTest, UnreadableScriptArrayFailsWithoutWriting) {
  ScriptArray noLength({L"Mon"});
  noLength.lengthAnswer = DISP_E_EXCEPTION;
  ScriptArray lastUnreadable({L"Mon", L"Tue"});
  lastUnreadable.unreadableIndex = 1;
  OwnedVariant empty;
  LONG result = kUntouched;

  EXPECT_EQ(Logger()->LogInetTimeLimit(nullptr, DispatchVariant(&noLength), empty.value, empty.value, &result),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Logger()->LogInetTimeLimit(nullptr, empty.value, DispatchVariant(&lastUnreadable), empty.value, &result),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Log().WriteCount(), 0u);
  EXPECT_EQ(result, kUntouched);
}

TEST_F(ZelLoggerTest, MisshapenListsAreRefusedBeforeAnythingIsRead) {
  ScriptArray huge({L"Mon"});
  huge.claimedLength = 1000000000;
  ScriptArray negative({L"Mon"});
  negative.claimedLength = -5;
  SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
  OwnedVariant twoDimensions, strings;
  V_VT(&twoDimensions.value) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&twoDimensions.value) = ::SafeArrayCreate(VT_VARIANT, 2, square);
  // The VARIANT claims VARIANT elements; the array holds strings.
  V_VT(&strings.value) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&strings.value) = ::SafeArrayCreate(VT_BSTR, 1, square);
  OwnedVariant empty;
  // Shallow copies: the owners above clear what they hold.
  const VARIANT lists[] = {DispatchVariant(&huge), DispatchVariant(&negative), twoDimensions.value, strings.value};
  for (const VARIANT& list : lists) {
    LONG result = kUntouched;
    EXPECT_EQ(Logger()->LogInetTimeLimit(nullptr, list, empty.value, empty.value, &result), E_INVALIDARG);
    EXPECT_EQ(result, kUntouched);
  }
  V_VT(&strings.value) = VT_ARRAY | VT_BSTR;  // cleared as what it is
  EXPECT_EQ(Log().WriteCount(), 0u);
}

TEST_F(ZelLoggerTest, ScriptArrayElementThatCannotBeReadIsSkipped) {
  ScriptArray days({L"Mon", L"Tue", L"Wed"});
  days.unreadableIndex = 1;
  ScriptArray times({L"8:00", L"9:00"});
  LONG result = kUntouched;
  EXPECT_EQ(Logger()->LogInetTimeLimit(nullptr, DispatchVariant(&days), DispatchVariant(&times),
                                       DispatchVariant(&times), &result),
            S_OK);
  EXPECT_EQ(LineCount(LastMainText()), 2u);
}

TEST_F(ZelLoggerTest, DispatchIdsComeFromTheEmbeddedTypeLibrary) {
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(Logger()->QueryInterface(IID_PPV_ARGS(&dispatch)), S_OK);
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  const wchar_t* names[] = {L"LogInfoUser", L"LogBlockingFeature", L"LogWebsite", L"LogPersonalInfo",
                            L"LogKeyword", L"LogEvent", L"LogInetTimeLimit"};
  for (DISPID expected = 1; expected <= 7; ++expected) {
    LPOLESTR name = const_cast<LPOLESTR>(names[expected - 1]);
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK) << names[expected - 1];
    EXPECT_EQ(id, expected);
  }
}

TEST_F(ZelLoggerTest, ScriptsCallThroughIDispatchByNameWithTheResultAsReturnValue) {
  Log().answers = {{S_OK, 0x00020000}};
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(Logger()->QueryInterface(IID_PPV_ARGS(&dispatch)), S_OK);
  LPOLESTR name = const_cast<LPOLESTR>(L"LogKeyword");
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, 5);

  OwnedVariant arguments[2];  // last argument first
  V_VT(&arguments[0].value) = VT_BSTR;
  V_BSTR(&arguments[0].value) = ::SysAllocString(L"badword");
  V_VT(&arguments[1].value) = VT_BSTR;
  V_BSTR(&arguments[1].value) = ::SysAllocString(L"teen");
  VARIANTARG raw[2] = {arguments[0].value, arguments[1].value};
  DISPPARAMS parameters = {raw, nullptr, 2, 0};
  OwnedVariant result;
  ASSERT_EQ(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result.value, nullptr,
                             nullptr),
            S_OK);
  EXPECT_EQ(V_VT(&result.value), VT_I4);
  EXPECT_EQ(V_I4(&result.value), 0x00020000);
  EXPECT_EQ(Log().WriteCount(), 1u);
}

}  // namespace
