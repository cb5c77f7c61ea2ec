/* The suite platform's alert library "kypltalt.dll": its records and exports. The library is a
   plain DLL loaded by path, so these are C declarations, not COM interfaces. Member names, the
   notification's first argument and the signatures of the exports the product never calls are
   chosen here; sizes and offsets are the library's (checked in RecordLayout.h). */
#pragma once

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KYALERT_RECORD_MARKER 355   /* the library's constant at offset 32 of AlertShowRecord */
#define KYALERT_OPTION_DO_NOT_SHOW 2501

typedef struct AlertButton {
  uint32_t buttonNumber; /* from 1 */
  const wchar_t* label;
} AlertButton;

/* The do-not-show-again tick box. */
typedef struct AlertOption {
  uint32_t optionId;     /* KYALERT_OPTION_DO_NOT_SHOW */
  uint32_t reserved;
  const wchar_t* text;
  uint32_t checked;      /* 0 when shown; the library sets it in the result when ticked */
  uint32_t reserved2;
} AlertOption;

/* One alert to show; strings need to stay valid only during the show call. */
typedef struct AlertShowRecord {
  const wchar_t* typeId;
  uint64_t reserved0;
  const wchar_t* language;
  int32_t priority;
  int32_t status;
  uint16_t marker;             /* KYALERT_RECORD_MARKER */
  const wchar_t* title;
  const wchar_t* appId;
  const wchar_t* detailsContent;
  const wchar_t* defaultContent;
  uint64_t reserved1;
  uint32_t buttonCount;
  uint32_t hasButtons;
  const AlertButton* buttons;
  uint32_t hasOption;
  const AlertOption* option;
  uint64_t reserved2[3];
} AlertShowRecord;

/* How a tracked alert ended, handed to the notification function. */
typedef struct AlertResult {
  uint32_t status;             /* 0 when the alert completed */
  uint32_t chosenButton;       /* from 1 */
  uint32_t optionCount;
  AlertOption* options;
} AlertResult;

/* Called once on the library's own thread with code 0 when a tracked alert ends; other codes may
   come and carry no result. */
typedef void (__stdcall* KyAlertNotification)(uint32_t alertHandle, int32_t code, const AlertResult* result,
                                              void* context);

/* The exports, as function-pointer types for the binding. Every int32 result is 0 on success. */
typedef int32_t (__stdcall* KyInitTARNAlertFn)(void);
typedef int32_t (__stdcall* KyShowTARNAlertFn)(const AlertShowRecord* record, KyAlertNotification notify,
                                               void* context, int32_t timeout, uint32_t* alertHandle);
typedef int32_t (__stdcall* KyShowTARNAlert2Fn)(const AlertShowRecord* record, KyAlertNotification notify,
                                                void* context, int32_t timeout, uint32_t flags, uint32_t* alertHandle);
typedef int32_t (__stdcall* KyCloseTARNAlertFn)(uint32_t alertHandle);
typedef int32_t (__stdcall* KyShowBriefcardNotificationFn)(const wchar_t* title, const wchar_t* text,
                                                           uint32_t* notificationHandle);
typedef int32_t (__stdcall* KyCloseBriefcardNotificationFn)(uint32_t notificationHandle);
typedef int32_t (__stdcall* KyShowMetroToastFn)(const wchar_t* appId, const wchar_t* title, const wchar_t* text);

#ifdef __cplusplus
}
#endif
