// filereport: reports the size, line count and modification time of each
// file it is given. A complete console program on libkelcore to copy from:
//
//   - the application object (tCONSOLE_APP) runs the start-up sequence:
//     its message catalog next to the executable (or from MSGFILE), the log
//     from the environment (TRACELEVEL, LOGFILE, TRACELABELS), then Main;
//   - its texts are catalog messages of its own catalog, with built-in
//     defaults; filereport.msg holds them, together with the library's
//     English texts, and kelmsgc compiles it next to the executable;
//   - a failure is a status plus the thread's last error, which Run shows
//     as a catalogued sentence before returning 1;
//   - block traces mark its main steps in the log.
//
//   $ TRACELEVEL=16 LOGFILE='$stdout' ./filereport notes.txt
//   $ ./filereport missing.txt        # the error sentence, exit status 1
#include <cstdio>
#include <new>

#include "kelcore/kelcore.h"

namespace {

// ------------------------------------------------------------ the catalog

// The program's catalog: the first catalog of its message file, with the
// name Run looks for ("<program name> message catalog") and the version
// given to the application.
const char kName[] = "filereport";
const char kVersion[] = "A.01.00";

tMSGCAT &Catalog() {
  static tMSGCAT catalog("filereport message catalog", kVersion, nullptr);
  return catalog;
}

// Set 0 of the catalog; each message has a built-in default, used when no
// message file has the text.
enum eMSG {
  eUSAGE = 0,   // no parameters
  eREPORT = 1,  // %0 file, %1 bytes, %2 lines, %3 modification time
  eTOTAL = 2    // %0 files, %1 bytes
};
const char *const kDefaults[] = {
    "No file given. Usage: filereport FILE...",
    "%0: %1 bytes, %2 lines, modified %3",
    "Total: %0 files, %1 bytes",
};

class tREPORTMSG : public tCATMSG {
 public:
  tREPORTMSG(eMSG msgId, eSEVERITY severity)
      : tCATMSG(&Catalog(), 0, msgId, "filereport message", severity), id_(msgId) {}

 protected:
  const char *GetDefaultMsg() { return kDefaults[id_]; }

 private:
  eMSG id_;
};

// ------------------------------------------------------------ the program

class tFILEREPORT : public tCONSOLE_APP {
 public:
  tFILEREPORT(unsigned int argc, const char **argv)
      : tCONSOLE_APP(argc, argv, kName, nullptr, kVersion), files_(0), bytes_(0) {}

  unsigned int Main() {
    tBTRACE trace("report", 0);
    if (ArgC() < 2) {
      tTHREAD::SetLastError(new tREPORTMSG(eUSAGE, tMSG::eERROR));
      return 0xFFFFFFFFu;
    }
    for (unsigned int i = 1; i < ArgC(); ++i) {
      unsigned int status = Report(ArgV(i));
      if (status != 0) return status;  // the file's error is the last error
    }
    tREPORTMSG total(eTOTAL, tMSG::eINFORMATION);
    Display(total << files_ << bytes_);
    return 0;
  }

 private:
  // One file: open it, count its lines, show one report line.
  unsigned int Report(const char *name) {
    tBTRACE trace(name, 0);
    tOSFILE file;
    file.SetName(name);
    unsigned int status = file.OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYNONE);
    if (status != 0) return status;

    unsigned long size = 0, lines = 0, done = 0;
    char buffer[4096];
    tDATETIME modified;
    status = file.GetSize(&size);
    if (status == 0) status = file.GetModifyTime(&modified);
    while (status == 0 && (status = file.Read(buffer, sizeof buffer, &done)) == 0 && done > 0) {
      for (unsigned long i = 0; i < done; ++i) lines += buffer[i] == '\n';
    }
    if (status != 0) return status;
    file.Close();

    char when[32];
    modified.Format(when, sizeof when, "%Y-%m-%d %H:%M");
    tREPORTMSG line(eREPORT, tMSG::eINFORMATION);
    Display(line << name << size << lines << when);
    ++files_;
    bytes_ += size;
    return 0;
  }

  unsigned long files_;
  unsigned long bytes_;
};

}  // namespace

int main(int argc, char **argv) {
  tFILEREPORT app(static_cast<unsigned int>(argc), const_cast<const char **>(argv));
  return app.Run();
}
