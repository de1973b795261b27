#include "kelcore/msg/null_object.h"

namespace kelcore_internal {

#if !defined(__GNUC__)
bool IsNull(const void *p) { return p == nullptr; }
#endif

}  // namespace kelcore_internal
