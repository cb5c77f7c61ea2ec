// Linked into each stand-in library that a process loads and unloads again and again (the service's
// process in a stress run does so hundreds of times), so that the runtime's exception reserve of a
// stand-in is not counted as growth of the product's process.
#include "RuntimeReserve.h"

namespace {

struct ReserveReleasedAtUnload {
  ~ReserveReleasedAtUnload() { Strata::ReleaseRuntimeReserve(); }
} reserveReleasedAtUnload;

}  // namespace
