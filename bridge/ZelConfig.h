// The COM class "ZelConfig": the script user interface's gateway to the parental-control service's
// settings and users, and to the platform user of a session. Parents change every setting through
// it, so it answers "yes" only when the service verifiably said so, and every result code starts
// out as a failure.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include <wrl/client.h>

#include "KyGSService.h"
#include "TarnUserHelper.h"
#include "TypeLibDispatch.h"
#include "ZelHelper.h"
#include "ZelTARN.h"
#include "ZelTARNModule.h"

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
  // Object `id` of `service` as `Interface`, *result the read's result code. The read is the first
  // real call on the root object; when it meets an RPC failure (the service's process has gone),
  // the root object is made afresh (`service` then holds the new one) and the read tried once more.
  template <typename Interface>
  HRESULT ReadServiceObject(Microsoft::WRL::ComPtr<IKyGSService>& service, long id,
                            Microsoft::WRL::ComPtr<Interface>& object, long* result);
  template <typename Interface>
  HRESULT ServiceObject(long id, Microsoft::WRL::ComPtr<Interface>& object);
  // The service user whose name equals `name` regardless of case.
  HRESULT findUser(BSTR name, ConfigPtr* user);

  // A configuration object of the service root as a settings reader or writer names it in its lines.
  struct SettingsObject {
    const wchar_t* method;
    long objectId;
    const wchar_t* serviceFailure;  // the line when the service object cannot be had (its HRESULT)
    const wchar_t* objectName;      // how the line of a failed read of the object names it
  };
  // The object, after the lines the readers and writers write when it cannot be had: `objectFailure`
  // (at `level`) takes the method, the HRESULT, the object's name and pointer, and the result code.
  HRESULT GetSettingsObject(const SettingsObject& object, const wchar_t* objectFailure, DWORD level,
                            ConfigPtr* settings);
  // The common reader: item vItem of the object, *pvResult its result code. `ageGroup` (when given)
  // is selected first.
  HRESULT ReadSetting(const SettingsObject& object, const long* ageGroup, const VARIANT& vItem, VARIANT* pvResult,
                      VARIANT* pvValue);
  // Selects the age group whose values the next read of `ageGroups` returns; false, with the
  // select's HRESULT in *hr, when the service refused. Every read fetches an age-group object of its
  // own, so no other reader's selection can come between the select and the read.
  static bool SelectAgeGroup(IKyConfig* ageGroups, long ageGroup, HRESULT* hr);
  // The common writer; *result says how the write and the apply ended.
  HRESULT WriteSetting(const SettingsObject& object, const VARIANT& vItem, const VARIANT& vValue, bool apply,
                       long* result);

  // How a write, and the apply after it, ended.
  struct WriteOutcome {
    HRESULT written = E_FAIL;
    long writeResult = -1;  // the write's own result code, as the service gave it
    bool applied = false;
  };
  // Writes `value` as property `propertyId` and applies it when asked and the write succeeded.
  // *result ends as the service's code: a failure code unless the write (and apply) succeeded.
  static WriteOutcome WriteAndApply(IKyConfig* object, long propertyId, const VARIANT& value, bool apply, long* result);
  // The line of a user write whose HRESULT failed while its result code said nothing.
  static void NoteFailedUserWrite(const wchar_t* function, long propertyId, const WriteOutcome& outcome);
  HRESULT VerifySecret(long item, BSTR text, VARIANT_BOOL* verified);
  HRESULT PlatformUser(DWORD session, VARIANT* name, VARIANT* kind, VARIANT* startup, LONG* plResult);

  std::unique_ptr<CTarnUserHelper> userHelper_;
  std::unique_ptr<CZelHelper> zelHelper_;
};
