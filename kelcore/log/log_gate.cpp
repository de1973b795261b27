// The record gate of the log: Begin, End, Match and the state records use.
// Starting and stopping the log (its start, level and stop lines) live with
// the log manager.
#include <cstring>
#include <new>
#include <ostream>
#include <typeinfo>

#include "kelcore/system/os_calls.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/log/preloaded.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/time/datetime.h"

namespace kelcore_internal {
const char kPreloadedLoggingId[] = "Pre-loaded logging messages";
}  // namespace kelcore_internal

namespace {

// A stamp's text depends only on its format and its eight values, which
// change once a second; building the message (eight parameters, their
// texts) costs several times what writing the record does. Each thread
// keeps the last stamp it wrote and writes it again while the values and
// the format are the same. pStampStr is exported data that programs may
// set directly, not only through SetStampFmt, so the format is recognised
// by its address and its text: a new pointer, or new characters at the old
// address (a freed format's storage handed out again, say), build afresh.
struct StampCache {
  const char *format;  // pStampStr when the text was built: compared only
  char *format_copy;   // owned: the format's text then
  unsigned int values[8];
  char *text;  // owned
};

void ClearStampCache(StampCache *cache) {
  delete[] cache->text;
  delete[] cache->format_copy;
  cache->text = nullptr;
  cache->format_copy = nullptr;
  cache->format = nullptr;
}

void DestroyStampCache(void *slot) { ClearStampCache(static_cast<StampCache *>(slot)); }

// A new block is zero-filled, which is an empty cache.
tTLSDEF g_stamp_slot(sizeof(StampCache), nullptr, DestroyStampCache);

char *CopyOf(const char *text) {
  std::size_t size = std::strlen(text) + 1;
  char *copy = new (std::nothrow) char[size];
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

std::ostream *tLOGMGR::pLogFile = nullptr;
unsigned int tLOGMGR::LevelMask = 0;
std::ostream *tLOGMGR::pStream = nullptr;
int tLOGMGR::Processing = 0;
tPHYSYNCOBJ *tLOGMGR::pSyncObj = nullptr;
const char *tLOGMGR::pClassNames = nullptr;
char *tLOGMGR::pStampStr = nullptr;

tPHYSYNCOBJ *tLOGMGR::pQuietSyncObj = nullptr;

int tLOGMGR::Gate(const char *label, unsigned int levels) {
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
  char *copy = format != nullptr ? CopyOf(format) : nullptr;
  delete[] pStampStr;
  pStampStr = copy;
}

void tLOGMGR::SetSyncObj(tPHYSYNCOBJ *sync) {
  if (sync == pSyncObj) return;
  delete pSyncObj;
  pSyncObj = sync;
  // A lock of exactly one of the library's classes does nothing but wait
  // while it is taken, so Begin may refuse a record without it; a derived
  // class of the program's may count, log or check, and is always taken.
  const bool quiet = sync == nullptr || typeid(*sync) == typeid(tINTRA_PROCESS_LOCK) ||
                     typeid(*sync) == typeid(tNOSYNC);
  pQuietSyncObj = quiet ? sync : reinterpret_cast<tPHYSYNCOBJ *>(&pQuietSyncObj);
}

void tLOGMGR::WriteStamp() {
  tDATETIME now;
  now.SetToCurrent();
  unsigned int values[8] = {static_cast<unsigned int>(tOSSYSCALLS::GetCurrentProcessId()),
                            static_cast<unsigned int>(tOSSYSCALLS::GetCurrentThreadId()),
                            now.Date.Year,
                            now.Date.Month,
                            now.Date.Day,
                            now.Time.Hour,
                            now.Time.Minute,
                            now.Time.Second};
  StampCache *cache = static_cast<StampCache *>(g_stamp_slot.GetPtr());
  if (cache != nullptr && cache->text != nullptr && cache->format == pStampStr &&
      std::memcmp(cache->values, values, sizeof values) == 0 &&
      std::strcmp(cache->format_copy, pStampStr) == 0) {
    *pLogFile << cache->text;
    return;
  }

  // Whatever building the stamp does, the thread's last error must read the
  // same afterwards: it is put aside and given back, without records.
  tMSG *saved = tTHREAD::ExchangeLastError(nullptr);
  {
    tMSGSTR stamp(pStampStr, kelcore_internal::kPreloadedLoggingId, tMSG::eINFORMATION);
    // The ids are ints, the date and time unsigned ints. A parameter that
    // cannot be allocated shows as "NULL"; such a stamp is not kept.
    bool complete = true;
    for (int i = 0; i < 8; ++i) {
      tPARAMETER *parm;
      if (i < 2) {
        parm = new (std::nothrow) tPARM_INT(static_cast<int>(values[i]));
      } else {
        parm = new (std::nothrow) tPARM_UINT(values[i]);
      }
      if (parm == nullptr) complete = false;
      stamp << parm;
    }
    const char *text = stamp.Format();
    *pLogFile << text;
    if (cache != nullptr) {
      ClearStampCache(cache);
      // Not kept when the message could not be built: the next record tries
      // again.
      if (complete && stamp.NumParms() == 8 && std::strcmp(text, tERRMSG::OutOfMemoryStr) != 0) {
        cache->text = CopyOf(text);
        cache->format_copy = CopyOf(pStampStr);
        if (cache->text == nullptr || cache->format_copy == nullptr) {
          ClearStampCache(cache);
        } else {
          std::memcpy(cache->values, values, sizeof values);
          cache->format = pStampStr;
        }
      }
    }
  }
  tMSG::Dispose(tTHREAD::ExchangeLastError(saved));
}
