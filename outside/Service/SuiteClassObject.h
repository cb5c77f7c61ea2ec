// The class object of each service class: it answers the suite's two factory interfaces and, like
// the real service's, not IClassFactory.
#pragma once

#include <windows.h>

#include "LiveObjects.h"
#include "KyClassFactory.h"

namespace ZelService {

class CSuiteClassObject : public ComObject<IKyClassFactory, IKyClassFactory_PreComponentization> {
 public:
  using Creator = HRESULT (*)(REFIID iid, void** object);
  // `knob` names the operation whose knobs may answer a creation instead, or is null.
  CSuiteClassObject(Creator creator, const wchar_t* knob) : creator_(creator), knob_(knob) {}

  // The creation method of both factory interfaces.
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override;

 private:
  const Creator creator_;
  const wchar_t* const knob_;
};

}  // namespace ZelService
