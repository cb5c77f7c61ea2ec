// What every CAlert and the library's notifications share, owned by CAlertEngine. The pointers are
// set before the first CAlert exists and stay valid until the last one is gone; each object they
// name guards its own state.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

class CActiveAlerts;
class CAltLib;
class CNotificationThread;
class CRetryList;
class CRetryThread;
class CServerLifetime;
class CUiLauncher;

struct AlertServices {
  const CAltLib* library = nullptr;  // null when the library could not be bound
  CActiveAlerts* active = nullptr;
  CRetryList* retry = nullptr;
  const CUiLauncher* launcher = nullptr;
  CRetryThread* retryThread = nullptr;  // null when the retry delay is 0
  CNotificationThread* notificationThread = nullptr;  // null without a library
  CServerLifetime* lifetime = nullptr;  // null when no server process is kept alive by objects
  Microsoft::WRL::ComPtr<ITypeInfo> alertTypeInfo;  // IDispatch of IAlert; null without the type library
};
