// A small program that uses libkelcore as an application would: builds a
// message with typed parameters, formats it, takes a lock around it, and
// checks that a thread's automatic thread object goes when the thread ends
// (through the DLL's entry point on Windows, a thread-exit hook elsewhere).
#include <cstdio>
#include <cstring>
#include <thread>

#include "kelcore/msg/message.h"
#include "kelcore/msg/parameter.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"

namespace {

int Check(const char *what, const char *got, const char *expected) {
  if (got != nullptr && std::strcmp(got, expected) == 0) {
    std::printf("ok: %s: %s\n", what, got);
    return 0;
  }
  std::printf("FAILED: %s: got \"%s\", expected \"%s\"\n", what, got ? got : "(null)", expected);
  return 1;
}

int slots_destroyed = 0;
void CountDestroyed(void *) { ++slots_destroyed; }
tTLSDEF counted_slot(sizeof(int), nullptr, CountDestroyed);

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

  std::thread worker([] {
    tTHREAD::SetLastError(*new tMSGSTR("worker failed", "consumer error", tMSG::eERROR));
    counted_slot.GetPtr();
  });
  worker.join();
  failures += Check("thread object deleted at thread exit", slots_destroyed == 1 ? "yes" : "no",
                    "yes");

  failures += Check("out-of-memory text", tERRMSG::OutOfMemoryStr, "Out of memory");

  std::printf("consumer: %d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
