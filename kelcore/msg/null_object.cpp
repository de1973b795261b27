#include "kelcore/msg/null_object.h"

namespace kelcore_internal {

bool IsNull(const void *p) { return p == nullptr; }

}  // namespace kelcore_internal
