// The COM class "ZelConfig": the script user interface's gateway to the parental-control service's
// settings and users, and to the platform user of a session. Parents change every setting through
// it, so it answers "yes" only when the service verifiably said so, and every result code starts
// out as a failure.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include <wrl/client.h>

#include "KyGSService.h"
#include "TarnUserHelper.h"
#include "TypeLibDispatch.h"
#include "ZelComObject.h"
#include "ZelHelper.h"
#include "ZelTARN.h"
#include "SlimLock.h"

class CZelConfig : public CZelComObject<CTypeLibDispatch<IZelConfig>> {
 public:
  static HRESULT Create(REFIID iid, void** object);

  CZelConfig() = default;
  HRESULT FinalConstruct() noexcept;

  // Writes one administrator setting, applying it only when asked: the password and security
  // answer checks write without applying. S_OK whenever the arguments were usable; the outcome is
  // in *plResult, which holds a failure code unless the write (and apply) succeeded.
  virtual HRESULT _SetAdminSettingsConfigValue(VARIANT vItem, VARIANT vValue, long* plResult, VARIANT_BOOL bApply);

  STDMETHODIMP GetGlobalConfigsValue(VARIANT vItem, VARIANT* pvResult, VARIANT* pvValue) override;
  STDMETHODIMP SetGlobalConfigsValue(VARIANT vItem, VARIANT vValue, LONG* lpResult) override;
  STDMETHODIMP GetTARNUserList(VARIANT* pUserList) override;
  STDMETHODIMP GetCurrentTarnUserNameAndType(VARIANT* pvarCurrentUserName, VARIANT* pvarCurrentUserType,
                                             VARIANT* pvarIsStartupUser, LONG* plResult) override;
  STDMETHODIMP GetInstallDir(VARIANT* pvarInstallDir) override;
  STDMETHODIMP GetSessionCurrentTarnUserNameAndType(ULONG idSession, VARIANT* pvarCurrentUserName,
                                                    LONG* plResult) override;
  STDMETHODIMP CreateNewZelUser(BSTR strName, LONG* plResult) override;
  STDMETHODIMP GetUserConfigValue(BSTR strName, LONG lPropertyID, VARIANT* pvValue) override;
  STDMETHODIMP SetUserConfigValue(BSTR strName, LONG lPropertyID, VARIANT vValue, LONG* plResult) override;
  STDMETHODIMP DoesUserExist(BSTR strName, LONG* plResult) override;
  STDMETHODIMP SetUserConfigValues(BSTR strName, VARIANT arrProperties, VARIANT arrValues, LONG lNumChanges,
                                   LONG* plResult) override;
  STDMETHODIMP GetResourceDir(VARIANT* pvarResourceDir) override;
  STDMETHODIMP GetAdminSettingsConfigValue(VARIANT vItem, VARIANT* pvResult, VARIANT* pvValue) override;
  STDMETHODIMP SetAdminSettingsConfigValue(VARIANT vItem, VARIANT vValue, LONG* lpResult) override;
  STDMETHODIMP VerifyAdminPassword(BSTR strPassword, VARIANT_BOOL* pbResult) override;
  STDMETHODIMP IsAdminPasswordAbsent(VARIANT_BOOL* pbResult) override;
  STDMETHODIMP VerifyAdminSecurityAnswer(BSTR strSecurityAnswer, VARIANT_BOOL* pbResult) override;
  STDMETHODIMP GetAgeGroupConfigsValue(LONG lAgeGroup, VARIANT vItem, VARIANT* pvResult, VARIANT* pvValue) override;
  STDMETHODIMP GetSupportedCategoryList(VARIANT* pCategoryList) override;
  STDMETHODIMP IsUserProtected(BSTR strName, VARIANT_BOOL* pbResult) override;
  STDMETHODIMP SetUserProtected(BSTR strName, VARIANT_BOOL bProtected, LONG* lpResult) override;
  STDMETHODIMP RegisterZelPlugin(LONG* plResult) override;
  STDMETHODIMP IsZelPluginRegistered(VARIANT_BOOL* pbResult) override;

 private:
  using ConfigPtr = Microsoft::WRL::ComPtr<IKyConfig>;

  HRESULT GetService(Microsoft::WRL::ComPtr<IKyGSService>* service);
  // Object `id` of the service root as `Interface`. The read is the first real call on the root
  // object; when it meets an RPC failure (the service's process has gone), the root object is made
  // afresh and the read tried once more.
  template <typename Interface>
  HRESULT ServiceObject(long id, Microsoft::WRL::ComPtr<Interface>& object);
  // Configuration object `objectId` of the service root.
  HRESULT GetSettingsObject(long objectId, ConfigPtr* object);
  // The service user whose name equals `name` regardless of case.
  HRESULT findUser(BSTR name, ConfigPtr* user);

  // The common reader: item vItem of object `objectId`, *pvResult its result code. `ageGroup`
  // (when given) is selected first, in one step with the read.
  HRESULT ReadSetting(const wchar_t* method, long objectId, const long* ageGroup, const VARIANT& vItem,
                      VARIANT* pvResult, VARIANT* pvValue);
  // Selects the age group and reads from it while no other reader of this object can select.
  HRESULT ReadAgeGroupItem(IKyConfig* ageGroups, long ageGroup, long item, VARIANT* value, long* result);
  // The common writer; *result says how the write and the apply ended.
  HRESULT WriteSetting(const wchar_t* method, long objectId, const VARIANT& vItem, const VARIANT& vValue, bool apply,
                       long* result);
  // Writes `value` as property `propertyId` and applies it when the write succeeded.
  static void WriteAndApply(IKyConfig* object, long propertyId, const VARIANT& value, bool apply, long* result);
  HRESULT VerifySecret(long item, BSTR text, VARIANT_BOOL* verified);
  HRESULT PlatformUser(DWORD session, VARIANT* name, VARIANT* kind, VARIANT* startup, LONG* plResult);

  std::unique_ptr<CTarnUserHelper> userHelper_;
  std::unique_ptr<CZelHelper> zelHelper_;
  // Makes selecting an age group and reading from it one step for this object's callers.
  Strata::SlimLock ageGroupLock_;
};
