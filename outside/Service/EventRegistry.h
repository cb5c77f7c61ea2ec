// The service's event registry: which handler class receives which event, per product. Changes
// since OpenProduct wait in the object until Save stores them for every process.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "LiveObjects.h"
#include "SlimLock.h"
#include "KyGSService.h"
#include "ServiceStore.h"

namespace ZelService {

class CEventRegistry : public ComObject<IKyGSEventRegistry> {
 public:
  STDMETHODIMP OpenProduct(BSTR product, long* result) override;
  STDMETHODIMP AddBinding(BSTR eventIid, BSTR handlerClsid, long reserved, long* result) override;
  STDMETHODIMP RemoveBinding(BSTR eventIid, BSTR handlerClsid, long* result) override;
  STDMETHODIMP Save(long* result) override;
  STDMETHODIMP FindBinding(BSTR product, BSTR eventIid, BSTR* handlerClsid, long* result) override;

 private:
  struct Change {
    bool add;
    std::wstring eventIid;
    std::wstring handler;
  };
  long RecordChange(bool add, BSTR eventIid, BSTR handlerClsid);

  const ServiceStore store_;
  // Guards product_ and changes_.
  Strata::SlimLock guard_;
  std::wstring product_;
  std::vector<Change> changes_;
};

}  // namespace ZelService
