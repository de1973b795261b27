// Starting and stopping the log: the start, level and stop lines, the
// block-trace formats and the clean-up that lets a later Start begin afresh.
// The record gate itself is in log_gate.cpp.
#include "kelcore/log/log_manager.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <ostream>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/msg/message.h"
#include "kelcore/platform/process.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"

char *tLOGMGR::pEnterStr = nullptr;
char *tLOGMGR::pLeaveStr = nullptr;
int tLOGMGR::StringsLoaded = 0;

namespace {

// A new char[] copy of the format text of LOG message `msgId` (the
// catalog's when a message file has it, else the default); null without
// memory.
char *LoadFormat(unsigned int msgId) {
  tMSG *msg = kellog::NewLibraryError(msgId);
  const char *text = msg->GetText();
  char *copy = nullptr;
  if (text != nullptr) {
    std::size_t size = std::strlen(text) + 1;
    copy = new (std::nothrow) char[size];
    if (copy != nullptr) std::memcpy(copy, text, size);
  }
  tMSG::Dispose(msg);
  return copy;
}

// The local time in the C library's ctime layout without its line end
// ("Sat Dec  5 10:01:02 2026"). Written out here rather than by ctime,
// whose buffer is shared by every thread of the process.
void LocalTimeText(char (&text)[32]) {
  static const char kDays[][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm;
  if (!kelsys::LocalTime(std::time(nullptr), &tm) || tm.tm_wday < 0 || tm.tm_wday > 6 ||
      tm.tm_mon < 0 || tm.tm_mon > 11) {
    text[0] = '\0';
    return;
  }
  std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", kDays[tm.tm_wday],
                kMonths[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                tm.tm_year + 1900);
  text[24] = '\0';
}

}  // namespace

tLOGMGR::tLOGMGR() {}

tLOGMGR::~tLOGMGR() {
  Stop();
  SetStampFmt(nullptr);
  delete[] pEnterStr;
  pEnterStr = nullptr;
  delete[] pLeaveStr;
  pLeaveStr = nullptr;
  StringsLoaded = 0;
  SetSyncObj(nullptr);
  // Not owned, but it may point into an environment that changes after
  // the run.
  pClassNames = nullptr;
}

void tLOGMGR::Start(std::ostream &stream, unsigned int levels, const char *classNames) {
  pLogFile = &stream;
  if (pSyncObj == nullptr) SetSyncObj(new (std::nothrow) tINTRA_PROCESS_LOCK());
  // Nothing the catalog lookups of the trace formats record may reach the
  // log before its start line.
  Processing = 1;
  LoadStrings();
  pClassNames = classNames;
  LevelMask = levels;
  WriteTimeStamp(1);
  WriteLevel();
  Processing = 0;
}

void tLOGMGR::Stop() {
  if (pLogFile == nullptr) return;
  Processing = 1;
  WriteTimeStamp(0);
  pLogFile->flush();
  Processing = 0;
  pLogFile = nullptr;
}

void tLOGMGR::LoadStrings() {
  if (StringsLoaded) return;
  StringsLoaded = 1;
  pEnterStr = LoadFormat(kellog::eTRACE_ENTER);
  pLeaveStr = LoadFormat(kellog::eTRACE_LEAVE);
}

void tLOGMGR::WriteTimeStamp(int start) {
  tMSG *line = kellog::NewLibraryError(start ? kellog::eLOG_START : kellog::eLOG_STOP);
  char now[32];
  LocalTimeText(now);
  WriteLine(*line << now);
}

void tLOGMGR::WriteLevel() { WriteLine(*kellog::NewLibraryError(kellog::eLOGGING_LEVEL) << LevelMask); }

void tLOGMGR::WriteLine(tMSG &line) {
  // Nothing done here may replace the thread's last error: it is put aside
  // and given back, and whatever the line's formatting left is dropped.
  tMSG *saved = tTHREAD::ExchangeLastError(nullptr);
  *pLogFile << line.Format() << '\n';
  tMSG::Dispose(&line);
  tMSG::Dispose(tTHREAD::ExchangeLastError(saved));
}

tSTDLOGFILE::tSTDLOGFILE() {}

tSTDLOGFILE::~tSTDLOGFILE() {}
