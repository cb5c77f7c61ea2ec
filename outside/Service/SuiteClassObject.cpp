#include "SuiteClassObject.h"

#include "ServiceKnobs.h"

namespace ZelService {

HRESULT CSuiteClassObject::CreateInstance(REFIID iid, IUnknown** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (knob_) {
    if (std::optional<KnobAnswer> answer = ConfiguredAnswer(knob_); answer && FAILED(answer->hr)) return answer->hr;
  }
  return creator_(iid, reinterpret_cast<void**>(object));
}

}  // namespace ZelService
