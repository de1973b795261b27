// Static members of the shared message-test helpers (one definition for the
// whole test program).
#include "tests/msg/msg_test_util.h"

namespace kelcore_test {

int CountingParm::live = 0;
int TrackedMsg::live = 0;

}  // namespace kelcore_test
