// A small program that uses libkelcore as an application would: builds a
// message with typed parameters, formats it, and takes a lock around it.
#include <cstdio>
#include <cstring>

#include "kelcore/msg/message.h"
#include "kelcore/msg/parameter.h"
#include "kelcore/sync/lock.h"

namespace {

int Check(const char *what, const char *got, const char *expected) {
  if (got != nullptr && std::strcmp(got, expected) == 0) {
    std::printf("ok: %s: %s\n", what, got);
    return 0;
  }
  std::printf("FAILED: %s: got \"%s\", expected \"%s\"\n", what, got ? got : "(null)", expected);
  return 1;
}

}  // namespace

int main() {
  int failures = 0;

  tINTRA_PROCESS_LOCK lock;
  {
    tOBJECT_LOCK hold(lock);

    tMSGSTR msg("%0 of %1 files copied to %2", "consumer copy message", tMSG::eINFORMATION);
    msg << 3 << 4u << "backup";
    failures += Check("message", msg.Format(), "3 of 4 files copied to backup");

    char *text = tMSG::Format("item %0'%04d' costs %1'%.2f'", 2, new tPARM_INT(7),
                              new tPARM_DOUBLE(2.5));
    failures += Check("static format", text, "item 0007 costs 2.50");
    delete[] text;
  }

  tINTER_PROCESS_LOCK named("kelcore-consumer-lock");
  named.LockObject();
  named.UnlockObject();

  failures += Check("out-of-memory text", tERRMSG::OutOfMemoryStr, "Out of memory");

  std::printf("consumer: %d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
