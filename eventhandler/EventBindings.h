// The service's record of which handler class of this library receives which of its events.
#pragma once

#include <windows.h>

// Bind (or unbind) every event of the product "ZEL" to its handler class in the service's event
// registry. True exactly when the registry could be reached, the product opened and the changes
// saved; a single binding the registry refuses does not count.
bool registerEventHandlers();
bool unregisterEventHandlers();
