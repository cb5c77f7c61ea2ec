#include "UserHelper.h"

HRESULT CUserHelper::Create(REFIID iid, void** object) { return CreateInstance<CUserHelper>(iid, object); }
