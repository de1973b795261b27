// The record gate of the log: Begin, End, Match and the state records use.
// Starting and stopping the log (its start, level and stop lines) live with
// the log manager.
#include <cstring>
#include <new>
#include <ostream>

#include "kelcore/app/os_calls.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/log/preloaded.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/time/datetime.h"

namespace kelcore_internal {
const char kPreloadedLoggingId[] = "Pre-loaded logging messages";
}  // namespace kelcore_internal

std::ostream *tLOGMGR::pLogFile = nullptr;
unsigned int tLOGMGR::LevelMask = 0;
std::ostream *tLOGMGR::pStream = nullptr;
int tLOGMGR::Processing = 0;
tPHYSYNCOBJ *tLOGMGR::pSyncObj = nullptr;
const char *tLOGMGR::pClassNames = nullptr;
char *tLOGMGR::pStampStr = nullptr;

int tLOGMGR::Begin(const char *label, unsigned int levels) {
  // Locked whether or not logging is active: the test of pLogFile below
  // must see a stream that no other record is using.
  tPHYSYNCOBJ *sync = pSyncObj;
  if (sync != nullptr) sync->LockObject();
  if (pLogFile != nullptr && Processing == 0 && (levels & LevelMask) == levels &&
      Match(label)) {
    Processing = 1;
    if (pStampStr != nullptr && pStampStr[0] != '\0') WriteStamp();
    return 1;
  }
  if (sync != nullptr) sync->UnlockObject();
  return 0;
}

void tLOGMGR::End() {
  Processing = 0;
  if (pSyncObj != nullptr) pSyncObj->UnlockObject();
}

int tLOGMGR::Match(const char *label) {
  if (label == nullptr) return 1;
  const char *item = pClassNames;
  if (item == nullptr || item[0] == '\0') return 1;
  for (;;) {
    const char *end = std::strchr(item, ';');
    std::size_t length = end != nullptr ? static_cast<std::size_t>(end - item) : std::strlen(item);
    // An empty item is a prefix of every label.
    if (std::strncmp(label, item, length) == 0) return 1;
    if (end == nullptr) return 0;
    item = end + 1;
  }
}

void tLOGMGR::Suspend() {
  pStream = pLogFile;
  pLogFile = nullptr;
}

void tLOGMGR::Resume() {
  if (pStream != nullptr) pLogFile = pStream;
}

void tLOGMGR::SetStampFmt(const char *format) {
  char *copy = nullptr;
  if (format != nullptr) {
    std::size_t size = std::strlen(format) + 1;
    copy = new (std::nothrow) char[size];
    if (copy != nullptr) std::memcpy(copy, format, size);
  }
  delete[] pStampStr;
  pStampStr = copy;
}

void tLOGMGR::SetSyncObj(tPHYSYNCOBJ *sync) {
  if (sync == pSyncObj) return;
  delete pSyncObj;
  pSyncObj = sync;
}

void tLOGMGR::WriteStamp() {
  // Whatever building the stamp does, the thread's last error must read the
  // same afterwards: it is put aside and given back, without records.
  tMSG *saved = tTHREAD::ExchangeLastError(nullptr);
  {
    tDATETIME now;
    now.SetToCurrent();
    tMSGSTR stamp(pStampStr, kelcore_internal::kPreloadedLoggingId, tMSG::eINFORMATION);
    stamp << tOSSYSCALLS::GetCurrentProcessId() << tOSSYSCALLS::GetCurrentThreadId()
          << now.Date.Year << now.Date.Month << now.Date.Day << now.Time.Hour
          << now.Time.Minute << now.Time.Second;
    *pLogFile << stamp.Format();
  }
  tMSG::Dispose(tTHREAD::ExchangeLastError(saved));
}
