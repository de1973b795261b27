// A short walk through libkelcore: messages with typed parameters, dates,
// a named cross-process lock, and the library's one error channel (status
// code plus the thread's last error) with the log records it writes.
#include <cstdio>
#include <iostream>
#include <new>

#include "kelcore/kelcore.h"

namespace {

void Section(const char *title) { std::printf("\n== %s ==\n", title); }

void Messages() {
  Section("messages");
  // Parameters are typed; placeholders pick them by number and may carry a
  // printf spec between apostrophes.
  tMSGSTR line("%0 holds %1 records (flags 0x%2'%08X', load %3'%.1f'%%)", "Demo message",
               tMSG::eINFORMATION);
  line << "customers.dat" << 1024 << 196u << 37.25;
  std::printf("%s\n", line.Format());

  // Order is free, and a message can be a parameter of another one.
  tMSGSTR outer("[%1] %0", "Demo message", tMSG::eERROR);
  outer << line << "warning";
  std::printf("%s\n", outer.Format());

  // The static form formats a text with parameters made for the occasion.
  char *text = tMSG::Format("%1, %0!", 2, new (std::nothrow) tPARM_STRING("world"),
                            new (std::nothrow) tPARM_STRING("Hello"));
  std::printf("%s\n", text ? text : tERRMSG::OutOfMemoryStr);
  delete[] text;
}

void Dates() {
  Section("dates");
  static const char *const kDays[] = {"Saturday", "Sunday",   "Monday", "Tuesday",
                                      "Wednesday", "Thursday", "Friday"};
  tDATE d(1997, 1, 31);
  char text[64];
  d.Format(text, sizeof text, "%Y-%m-%d");
  std::printf("%s is a %s\n", text, kDays[d.GetDayOfWeek()]);

  d.AddMonths(1);  // 31 February: kept as is, and not valid
  std::printf("one month later: %u-%02u-%02u, valid: %s\n", d.Year, d.Month, d.Day,
              d.IsValid() ? "yes" : "no");

  d = tDATE(1997, 1, 31);
  d.AddDays(30);
  d.Format(text, sizeof text, "%d %B %Y");
  std::printf("30 days after 31 January 1997: %s\n", text);

  d.SetToLast(tDATE::eFRIDAY);
  d.Format(text, sizeof text, "%Y-%m-%d");
  std::printf("last Friday of that month: %s\n", text);

  tDATETIME stamp(tDATE(1999, 12, 31), tTIME(23, 59, 59, 999));
  int days = stamp.AddMilliseconds(1);
  stamp.Format(text, sizeof text, "%Y-%m-%d %H:%M:%S");
  std::printf("one millisecond after 1999-12-31 23:59:59.999: %s (%d day carried)\n", text,
              days);
}

void Locks() {
  Section("locks");
  // Every process that names the same lock shares it; the holder may take it
  // again, and the lock is released if a holder dies.
  tINTER_PROCESS_LOCK lock("kelcore-demo-lock");
  {
    tOBJECT_LOCK hold(lock);
    tOBJECT_LOCK again(lock);  // re-entrant for the holding thread
    std::printf("holding \"kelcore-demo-lock\" in process %d, thread %d\n",
                tOSSYSCALLS::GetCurrentProcessId(), tOSSYSCALLS::GetCurrentThreadId());
  }
  std::printf("released\n");
}

void ErrorsAndLogging(bool englishTexts) {
  Section("errors and logging");
  // Send the library's records to stdout: file operations ("os") and changes
  // of the thread's last error ("thread"), each with a time stamp. With a
  // message file registered, only the changes of the last error: the file
  // operations would show the message file's own reads as well.
  tLOGMGR::pLogFile = &std::cout;
  tLOGMGR::LevelMask = 0xC4;
  tLOGMGR::pClassNames = englishTexts ? "thread" : "os;thread";
  tLOGMGR::SetStampFmt("[pid %0 %5'%02u':%6'%02u':%7'%02u'] ");

  // Every operation returns a status and leaves the detail as the calling
  // thread's last error.
  tOSFILE file;
  file.SetName("C:\\no such folder\\settings.ini");
  unsigned int status = file.OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYNONE);
  tMSG *error = tTHREAD::GetLastError();
  std::printf("OpenExisting returned status %u: %s\n", status, error ? error->Format() : "");
  // Without a message file the text describes the missing catalog; the
  // detail travels in the message's parameters all the same.
  for (unsigned int i = 0; !englishTexts && error && i < error->NumParms(); ++i) {
    const tPARAMETER *parm = &(*error)[i];
    char text[1024];
    parm->Format(text, nullptr);
    std::printf("  parameter %u: %s\n", i, text);
  }

  // A guard keeps errors raised inside its scope from replacing the one the
  // thread already has.
  {
    tLOCAL_ERRORS guard;
    tOSFILE other;
    other.SetName("C:\\another missing file");
    int exists = 1;
    other.Exists(&exists);
    other.Delete();
  }
  error = tTHREAD::GetLastError();
  std::printf("after the guard the last error is still: %s\n", error ? error->Format() : "");

  tLOGMGR::SetStampFmt(nullptr);
  tLOGMGR::pClassNames = nullptr;
  tLOGMGR::pLogFile = nullptr;
}

}  // namespace

// With the path of the library's English texts (kelcore.cat, installed under
// share/kelcore/) as its argument, the demo registers them, and every
// library error reads as an English sentence; without it, the messages show
// what they carry while no message file is open.
int main(int argc, char **argv) {
  std::printf("libkelcore demo\n");
  // A message file is registered from construction to destruction.
  tMSGFILE *texts = argc > 1 ? new (std::nothrow) tMSGFILE : nullptr;
  if (texts != nullptr) {
    texts->SetName(argv[1]);
    // Said plainly here, rather than by every error of the tour.
    if (texts->Open() != 0) {
      std::printf("No readable message file at \"%s\": the library's errors below show what\n"
                  "they carry instead of English sentences (the texts are built by\n"
                  "\"make demo\" as build/native/share/kelcore/kelcore.cat).\n",
                  argv[1]);
      tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
      delete texts;
      texts = nullptr;
    }
  }
  Messages();
  Dates();
  Locks();
  ErrorsAndLogging(texts != nullptr);
  delete texts;
  return 0;
}
