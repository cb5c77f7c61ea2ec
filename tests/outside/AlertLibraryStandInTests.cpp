// The alert library stand-in loaded as the alerter loads it: every shown alert recorded with its
// whole record, tracked alerts ended on command with the notification on the library's own
// thread, configured failures.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "KyPltAlt.h"
#include "ProcessKnobs.h"
#include "StandInKnobs.h"
#include "StandInState.h"
#include "TestSupport.h"

namespace {

using ZelStandIns::OpenKey;
using ZelStandIns::ReadDword;
using ZelStandIns::ReadText;

// What one notification brought, copied on the library's thread.
struct Notification {
  Strata::UniqueHandle arrived{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  DWORD threadId = 0;
  uint32_t handle = 0;
  int32_t code = -1;
  bool hasResult = false;
  AlertResult result{};
  uint32_t firstOptionChecked = 0;
};

void __stdcall OnNotification(uint32_t handle, int32_t code, const AlertResult* result, void* context) {
  auto* notification = static_cast<Notification*>(context);
  notification->threadId = ::GetCurrentThreadId();
  notification->handle = handle;
  notification->code = code;
  notification->hasResult = result != nullptr;
  if (result) {
    notification->result = *result;
    if (result->optionCount > 0 && result->options) notification->firstOptionChecked = result->options[0].checked;
  }
  ::SetEvent(notification->arrived.get());
}

class AlertLibraryStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(knobs_.Created());
    library_.reset(::LoadLibraryW(ZelTest::SiblingPath(L"kypltalt.dll").c_str()));
    ASSERT_TRUE(library_);
    init_ = Export<KyInitTARNAlertFn>("KyInitTARNAlert");
    show_ = Export<KyShowTARNAlertFn>("KyShowTARNAlert");
    close_ = Export<KyCloseTARNAlertFn>("KyCloseTARNAlert");
    ASSERT_TRUE(init_ && show_ && close_);
  }

  template <typename Fn>
  Fn Export(const char* name) const {
    return reinterpret_cast<Fn>(::GetProcAddress(library_.get(), name));
  }
  std::wstring AlertKeyPath(uint32_t handle) const {
    return ZelStandIns::StandInKnobs::ProcessKeyPath(L"KyPltAlt", ::GetCurrentProcessId()) + L"\\Alerts\\" +
           ZelStandIns::EntryName(handle);
  }
  void Command(uint32_t handle, uint32_t button, bool doNotShowAgain) const {
    Strata::UniqueHkey root =
        OpenKey(HKEY_LOCAL_MACHINE, ZelStandIns::StandInKnobs::ProcessKeyPath(L"KyPltAlt", ::GetCurrentProcessId()), true);
    Strata::UniqueHkey command = ZelStandIns::CreateNextEntry(root.get(), L"Commands");
    ASSERT_TRUE(command);
    // The handle last: the library takes a command once it names an alert.
    ZelStandIns::WriteDword(command.get(), L"Button", button);
    ZelStandIns::WriteDword(command.get(), L"DoNotShowAgain", doNotShowAgain ? 1 : 0);
    ZelStandIns::WriteDword(command.get(), L"Handle", handle);
  }

  ZelTest::ProcessKnobs knobs_{L"KyPltAlt"};
  Strata::UniqueModule library_;
  KyInitTARNAlertFn init_ = nullptr;
  KyShowTARNAlertFn show_ = nullptr;
  KyCloseTARNAlertFn close_ = nullptr;
};

// An alert with two buttons and the do-not-show-again option, as the alerter fills it.
// Zeroed whole, padding included, as the alerter hands its records over: the stand-in records
// whether every reserved byte is zero.
struct SampleAlert {
  AlertButton buttons[2]{};
  AlertOption option{};
  AlertShowRecord record{};
  SampleAlert() {
    buttons[0].buttonNumber = 1;
    buttons[0].label = L"Open settings";
    buttons[1].buttonNumber = 2;
    buttons[1].label = L"Dismiss";
    option.optionId = KYALERT_OPTION_DO_NOT_SHOW;
    option.text = L"Do not show again";
    record.typeId = L"WebBlocked";
    record.language = L"en-US";
    record.priority = 2;
    record.status = 1;
    record.marker = KYALERT_RECORD_MARKER;
    record.title = L"Site blocked";
    record.appId = L"ZEL";
    record.detailsContent = nullptr;
    record.defaultContent = L"A site was blocked for Jamie.";
    record.buttonCount = 2;
    record.hasButtons = 1;
    record.buttons = buttons;
    record.hasOption = 1;
    record.option = &option;
  }
};

TEST_F(AlertLibraryStandIn, ExportsTheSevenEntryPoints) {
  for (const char* name : {"KyInitTARNAlert", "KyShowTARNAlert", "KyShowTARNAlert2", "KyCloseTARNAlert",
                           "KyShowBriefcardNotification", "KyCloseBriefcardNotification", "KyShowMetroToast"}) {
    EXPECT_TRUE(::GetProcAddress(library_.get(), name)) << name;
  }
}

TEST_F(AlertLibraryStandIn, RecordsTheWholeRecordOfEachShownAlert) {
  ASSERT_EQ(init_(), 0);
  SampleAlert alert;
  uint32_t handle = 0;
  ASSERT_EQ(show_(&alert.record, nullptr, nullptr, 30, &handle), 0);
  ASSERT_NE(handle, 0u);

  Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, AlertKeyPath(handle), false);
  ASSERT_TRUE(key);
  EXPECT_EQ(ReadText(key.get(), L"TypeId"), L"WebBlocked");
  EXPECT_EQ(ReadText(key.get(), L"Language"), L"en-US");
  EXPECT_EQ(ReadDword(key.get(), L"Priority"), 2u);
  EXPECT_EQ(ReadDword(key.get(), L"Status"), 1u);
  EXPECT_EQ(ReadDword(key.get(), L"Marker"), 355u);
  EXPECT_EQ(ReadText(key.get(), L"Title"), L"Site blocked");
  EXPECT_EQ(ReadText(key.get(), L"AppId"), L"ZEL");
  EXPECT_FALSE(ReadText(key.get(), L"DetailsContent").has_value());
  EXPECT_EQ(ReadText(key.get(), L"DefaultContent"), L"A site was blocked for Jamie.");
  EXPECT_EQ(ReadDword(key.get(), L"ButtonCount"), 2u);
  EXPECT_EQ(ReadDword(key.get(), L"HasButtons"), 1u);
  EXPECT_EQ(ZelStandIns::ReadTexts(key.get(), L"Buttons"),
            (std::vector<std::wstring>{L"1=Open settings", L"2=Dismiss"}));
  EXPECT_EQ(ReadDword(key.get(), L"HasOption"), 1u);
  EXPECT_EQ(ReadDword(key.get(), L"OptionId"), 2501u);
  EXPECT_EQ(ReadText(key.get(), L"OptionText"), L"Do not show again");
  EXPECT_EQ(ReadDword(key.get(), L"OptionChecked"), 0u);
  EXPECT_EQ(ReadDword(key.get(), L"ReservedZero"), 1u);
  EXPECT_EQ(ReadDword(key.get(), L"Timeout"), 30u);
  EXPECT_EQ(ReadDword(key.get(), L"Tracked"), 0u);

  EXPECT_EQ(close_(handle), 0);
  EXPECT_EQ(ReadDword(key.get(), L"Closed"), 1u);
}

TEST_F(AlertLibraryStandIn, CompletesATrackedAlertOnCommandOnItsOwnThread) {
  ASSERT_EQ(init_(), 0);
  SampleAlert alert;
  Notification notification;
  uint32_t handle = 0;
  ASSERT_EQ(show_(&alert.record, &OnNotification, &notification, 0, &handle), 0);
  EXPECT_EQ(::WaitForSingleObject(notification.arrived.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT))
      << "nothing ends an alert before its command";

  Command(handle, 2, true);
  ASSERT_EQ(::WaitForSingleObject(notification.arrived.get(), 10000), WAIT_OBJECT_0);
  EXPECT_NE(notification.threadId, ::GetCurrentThreadId());
  EXPECT_EQ(notification.handle, handle);
  EXPECT_EQ(notification.code, 0);
  ASSERT_TRUE(notification.hasResult);
  EXPECT_EQ(notification.result.status, 0u);
  EXPECT_EQ(notification.result.chosenButton, 2u);
  EXPECT_EQ(notification.result.optionCount, 1u);
  EXPECT_EQ(notification.firstOptionChecked, 1u);
  Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, AlertKeyPath(handle), false);
  EXPECT_EQ(ReadDword(key.get(), L"Tracked"), 1u);
  EXPECT_EQ(ReadDword(key.get(), L"Completed"), 1u);
}

TEST_F(AlertLibraryStandIn, ClosedAlertIsNotCompletedLater) {
  ASSERT_EQ(init_(), 0);
  SampleAlert alert;
  Notification notification;
  uint32_t handle = 0;
  ASSERT_EQ(show_(&alert.record, &OnNotification, &notification, 0, &handle), 0);
  ASSERT_EQ(close_(handle), 0);
  Command(handle, 1, false);
  EXPECT_EQ(::WaitForSingleObject(notification.arrived.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(AlertLibraryStandIn, FailsShowsWithTheConfiguredCodeAndRecordsNothing) {
  knobs_.SetDword(L"ShowResult", 0x5B4);
  ASSERT_EQ(init_(), 0);
  SampleAlert alert;
  uint32_t handle = 77;
  EXPECT_EQ(show_(&alert.record, nullptr, nullptr, 0, &handle), 0x5B4);
  EXPECT_EQ(handle, 0u);
  EXPECT_FALSE(OpenKey(HKEY_LOCAL_MACHINE, AlertKeyPath(1), false));
}

TEST_F(AlertLibraryStandIn, InitAnswersTheConfiguredResult) {
  knobs_.SetDword(L"InitResult", 0x7E);
  EXPECT_EQ(init_(), 0x7E);
}

}  // namespace
