// kelini: reads and changes INI files from the command line.
//
//   kelini get FILE SECTION KEY            the key's value
//   kelini set FILE SECTION KEY VALUE      sets it (adds section and key)
//   kelini list FILE [SECTION]             the sections, or a section's keys
//   kelini remove FILE SECTION [KEY]       removes a key, or a whole section
//
// The file is a tINIFILE: its content is loaded whole and saved whole with
// the library's safe save (a side copy while the file is rewritten), under
// its region locks (shared while loading, exclusive while saving), so no
// run ever reads a half-written file. A change is load, change, save: two
// runs changing one file at once must not both load the old content, or
// the second save drops the first one's change. A region lock cannot span
// the three (Load's unlock releases every region of the handle that lies
// in the whole file, the caller's too), so a change also holds a named
// inter-process lock of the file's full name from before the load until
// after the save: kelini runs changing one file take turns, and nothing is
// lost.
//
// Errors are catalog messages (kelini.msg, with the library's texts after
// it) shown on standard error as "kelini: <text>". Exit status: 0 done;
// 1 the file, section or key is missing, or the file could not be read or
// saved; 2 the command line was wrong.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "kelcore/kelcore.h"

#ifndef KELINI_VERSION
#define KELINI_VERSION "unknown"
#endif
#ifndef KELINI_DATADIR
#define KELINI_DATADIR "."
#endif

namespace {

const char kName[] = "kelini";
const char kCatalogVersion[] = "A.01.00";

const char kHelp[] =
    "Usage: kelini get FILE SECTION KEY\n"
    "       kelini set FILE SECTION KEY VALUE\n"
    "       kelini list FILE [SECTION]\n"
    "       kelini remove FILE SECTION [KEY]\n"
    "       kelini --help | --version\n"
    "\n"
    "Reads and changes INI files: named [sections] of name=value keys.\n"
    "\n"
    "  get      print the value of the first KEY in the first SECTION\n"
    "  set      give KEY that VALUE, adding the key (and the section) when\n"
    "           missing; FILE is created when it does not exist\n"
    "  list     print the names of the sections, or SECTION's keys as\n"
    "           name=value lines\n"
    "  remove   remove every KEY of that name from SECTION, or without KEY\n"
    "           every section of that name with its keys\n"
    "\n"
    "Names of sections and keys compare without regard to case. A change is\n"
    "saved safely (the old content stays in FILE.sav until the new one is\n"
    "complete) and under a lock over the whole file, so that concurrent\n"
    "changes of one file are all kept.\n"
    "\n"
    "Exit status: 0 done, 1 missing file, section or key, or a file that\n"
    "could not be read or saved, 2 wrong command line.\n";

// ------------------------------------------------------------ the catalog

tMSGCAT &Catalog() {
  static tMSGCAT catalog("kelini message catalog", kCatalogVersion, nullptr);
  return catalog;
}

// Set 0 of the catalog (kelini.msg), with the same texts built in.
enum eMSG {
  eUSAGE = 0,         // no parameters
  eUNKNOWN = 1,       // %0 the command
  eARGUMENTS = 2,     // %0 the command
  eBADTEXT = 3,       // %0 "section", "key" or "value", %1 the text
  eNOSECTION = 4,     // %0 file, %1 section
  eNOKEY = 5,         // %0 file, %1 section, %2 key
  eNOTSAVED = 6,      // %0 file
  eNOFILE = 7,        // %0 file
  eNOOUTPUT = 8       // no parameters
};
const char *const kDefaults[] = {
    "Usage: kelini get|set|list|remove FILE ...; \"kelini --help\" explains",
    "Unknown command %0",
    "Wrong number of arguments for %0",
    "The %0 \"%1\" cannot be stored in an INI file",
    "%0: no section [%1]",
    "%0: no key %2 in section [%1]",
    "%0 could not be saved; it keeps its earlier content",
    "%0 does not exist",
    "Cannot write to standard output",
};

class tKELINIMSG : public tCATMSG {
 public:
  tKELINIMSG(eMSG msgId)
      : tCATMSG(&Catalog(), 0, msgId, "kelini message", tMSG::eERROR), id_(msgId) {}

 protected:
  const char *GetDefaultMsg() { return kDefaults[id_]; }

 private:
  eMSG id_;
};

// Makes a new message of ours the thread's last error and returns the
// failure status; null (no memory) leaves the out-of-memory error.
tMSG *Raise(eMSG id) {
  tKELINIMSG *msg = new (std::nothrow) tKELINIMSG(id);
  if (msg == nullptr) {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return nullptr;
  }
  tTHREAD::SetLastError(msg);
  return msg;
}
const unsigned int kFailed = 0xFFFFFFFFu;

// What a written file would not give back: names must be non-empty, and
// no text may hold a line end or start or end with blanks (reading trims
// them). A section name may not hold ']', a key name not '=' and not start
// with ';' (a comment) or '['.
bool Storable(const char *text, bool name, bool section) {
  size_t n = std::strlen(text);
  if (n == 0) return !name;
  if (std::strpbrk(text, "\r\n") != nullptr) return false;
  if (text[0] == ' ' || text[0] == '\t' || text[n - 1] == ' ' || text[n - 1] == '\t') return false;
  if (section) return std::strchr(text, ']') == nullptr;
  if (name) return std::strchr(text, '=') == nullptr && text[0] != ';' && text[0] != '[';
  return true;
}

// ------------------------------------------------------------ the program

class tKELINI : public tCONSOLE_APP {
 public:
  tKELINI(unsigned int argc, const char **argv)
      : tCONSOLE_APP(argc, argv, kName, nullptr, kCatalogVersion), usage_(false) {}

  // 2 for a wrong command line, else Run's result.
  int Exit(int runResult) const { return usage_ ? 2 : runResult; }

  // Errors go to standard error, as "kelini: <text>"; anything else to
  // standard output.
  void Display(const char *text, tMSG::eSEVERITY severity) const {
    if (severity == tMSG::eINFORMATION) {
      std::printf("%s\n", text);
    } else {
      std::fflush(stdout);
      std::fprintf(stderr, "%s: %s\n", kName, text);
    }
  }
  void Display(tMSG &msg) const { Display(msg.Format(), msg.GetSeverity()); }

  // The message file beside the program (or MSGFILE's); an installed
  // program has none beside it and takes the one under share/kelcore.
  const char *GetMsgFileName() {
    const char *beside = tAPP::GetMsgFileName();
    if (std::getenv("MSGFILE") != nullptr) return beside;
    if (std::FILE *f = beside ? std::fopen(beside, "rb") : nullptr) {
      std::fclose(f);
      return beside;
    }
    return KELINI_DATADIR "/kelini.cat";
  }

  unsigned int Main() {
    const char *command = ArgC() > 1 ? ArgV(1) : "";
    unsigned int args = ArgC() > 2 ? ArgC() - 2 : 0;  // after the command
    if (ArgC() < 2) return Usage(eUSAGE, nullptr);

    eCOMMAND which;
    unsigned int least, most;
    if (std::strcmp(command, "get") == 0) {
      which = eGET, least = 3, most = 3;
    } else if (std::strcmp(command, "set") == 0) {
      which = eSET, least = 4, most = 4;
    } else if (std::strcmp(command, "list") == 0) {
      which = eLIST, least = 1, most = 2;
    } else if (std::strcmp(command, "remove") == 0) {
      which = eREMOVE, least = 2, most = 3;
    } else {
      return Usage(eUNKNOWN, command);
    }
    if (args < least || args > most) return Usage(eARGUMENTS, command);
    const char *file = ArgV(2);
    const char *section = args > 1 ? ArgV(3) : nullptr;
    const char *key = args > 2 ? ArgV(4) : nullptr;
    const char *value = args > 3 ? ArgV(5) : nullptr;
    if (section && !Storable(section, true, true)) return BadText("section", section);
    if (key && !Storable(key, true, false)) return BadText("key", key);
    if (value && !Storable(value, false, false)) return BadText("value", value);

    tOSFILE *physical = new (std::nothrow) tOSFILE;
    if (physical == nullptr) {
      tTHREAD::SetLastError(tERRMSG::OutOfMemory);
      return kFailed;
    }
    // After a failure, what closing the file raises (bytes of a failed save
    // still buffered, say) must not replace the reason already given: the
    // reason is put back once the file object is gone.
    struct tREASON {
      tMSG *msg = nullptr;
      bool keep = false;
      ~tREASON() {
        if (keep) tTHREAD::SetLastError(msg);
      }
    } reason;
    tINIFILE ini(*physical, 1);  // buffered; owns the physical file
    ini.SetName(file);
    // A change holds the named lock of the file's full name from before
    // the load until after the save (a reader needs only the region locks
    // that Load and Save take). The name has no backslash, which a Windows
    // object name may not hold, and is global, so that every user's runs
    // share it.
    bool change = which == eSET || which == eREMOVE;
    std::string lockName;
    if (change) {
      ini.FullyQualify();
      lockName = std::string("Global\\kelini ") + ini.GetName();
      for (size_t i = 7; i < lockName.size(); ++i) {
        if (lockName[i] == '\\') lockName[i] = '/';
      }
    }
    tINTER_PROCESS_LOCK named(change ? lockName.c_str() : nullptr);
    tOBJECT_LOCK hold(named);
    unsigned int status = Open(ini, which);
    if (status != 0) return status;
    switch (which) {
      case eGET: status = Get(ini, file, section, key); break;
      case eLIST: status = List(ini, file, section); break;
      case eSET: status = Set(ini, file, section, key, value); break;
      case eREMOVE: status = Remove(ini, file, section, key); break;
    }
    // Unlocks and closes; a failed save has cleared the modified flag, so
    // nothing is written here.
    if (status != 0) {
      reason.msg = tTHREAD::TakeOwnershipOfLastError();
      reason.keep = true;
    }
    unsigned int closed = ini.Close();
    if (status != 0) return status;
    return closed != 0 ? closed : Output();
  }

 private:
  enum eCOMMAND { eGET, eSET, eLIST, eREMOVE };

  unsigned int Usage(eMSG id, const char *command) {
    usage_ = true;
    tMSG *msg = Raise(id);
    if (msg && command) *msg << command;
    return kFailed;
  }

  unsigned int BadText(const char *what, const char *text) {
    usage_ = true;
    tMSG *msg = Raise(eBADTEXT);
    if (msg) *msg << what << text;
    return kFailed;
  }

  unsigned int Missing(eMSG id, const char *file, const char *section, const char *key) {
    tMSG *msg = Raise(id);
    if (msg) {
      *msg << file;
      if (section) *msg << section;
      if (key) *msg << key;
    }
    return kFailed;
  }

  // Opens the file (only `set` creates a missing one) and loads it.
  unsigned int Open(tINIFILE &ini, eCOMMAND which) {
    unsigned int status;
    if (which == eSET) {
      status = ini.OpenAlways(tFILEDEFS::MODE_READWRITE, tFILEDEFS::SHARE_DENYNONE, 0666);
    } else {
      int exists = 0;
      status = ini.Exists(&exists);
      if (status == 0 && !exists) return Missing(eNOFILE, ArgV(2), nullptr, nullptr);
      unsigned int access = which == eREMOVE ? tFILEDEFS::MODE_READWRITE : tFILEDEFS::MODE_READ;
      if (status == 0) status = ini.OpenExisting(access, tFILEDEFS::SHARE_DENYNONE);
    }
    if (status != 0) return status;
    ini.Load();
    return 0;
  }

  unsigned int Get(tINIFILE &ini, const char *file, const char *section, const char *key) {
    tINIFILE::tSECTION *s = ini.FindSection(section);
    if (s == nullptr) return Missing(eNOSECTION, file, section, nullptr);
    tINIFILE::tKEY *k = s->FindKey(key);
    if (k == nullptr) return Missing(eNOKEY, file, section, key);
    std::printf("%s\n", k->GetValue() ? k->GetValue() : "");
    return 0;
  }

  unsigned int List(tINIFILE &ini, const char *file, const char *section) {
    if (section == nullptr) {
      for (tINIFILE::tSECTION *s = ini.GetFirstSection(); s; s = s->GetNext()) {
        std::printf("%s\n", s->GetName());
      }
      return 0;
    }
    tINIFILE::tSECTION *s = ini.FindSection(section);
    if (s == nullptr) return Missing(eNOSECTION, file, section, nullptr);
    for (tINIFILE::tKEY *k = s->GetFirstKey(); k; k = k->GetNext()) {
      if (!k->IsComment()) std::printf("%s=%s\n", k->GetName(), k->GetValue() ? k->GetValue() : "");
    }
    return 0;
  }

  // Replace leaves a value that equals the new one without regard to case;
  // the tool stores exactly what it was given, so such a value is cleared
  // first.
  unsigned int Set(tINIFILE &ini, const char *file, const char *section, const char *key,
                   const char *value) {
    tINIFILE::tSECTION *s = ini.FindSection(section);
    tINIFILE::tKEY *k = s ? s->FindKey(key) : nullptr;
    const char *old = k ? k->GetValue() : nullptr;
    if (old && std::strcmp(old, value) == 0) return 0;
    if (old) ini.Replace(section, key, static_cast<const char *>(nullptr));
    ini.Replace(section, key, value);
    return Save(ini, file);
  }

  unsigned int Remove(tINIFILE &ini, const char *file, const char *section, const char *key) {
    tINIFILE::tSECTION *s = ini.FindSection(section);
    if (s == nullptr) return Missing(eNOSECTION, file, section, nullptr);
    if (key != nullptr) {
      if (s->FindKey(key) == nullptr) return Missing(eNOKEY, file, section, key);
      ini.Remove(section, key, static_cast<const char *>(nullptr));
    } else {
      for (; s != nullptr; s = ini.FindSection(section)) ini.Remove(s);
    }
    return Save(ini, file);
  }

  // The library's safe save; it reports nothing, and a save that could not
  // write the new content leaves the file modified (and the old content in
  // place, or in the side copy that the next load reads).
  unsigned int Save(tINIFILE &ini, const char *file) {
    if (!ini.Modified()) return 0;
    ini.Save();
    if (!ini.Modified()) return 0;
    ini.SetModified(0);  // no second attempt when the file is closed
    return Missing(eNOTSAVED, file, nullptr, nullptr);
  }

  // Standard output must have taken everything (a full disk, a closed pipe).
  unsigned int Output() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    Raise(eNOOUTPUT);
    return kFailed;
  }

  bool usage_;
};

}  // namespace

int main(int argc, char **argv) {
  // Answered before the application starts: they need no message file.
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kelini %s\n", KELINI_VERSION);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  tKELINI app(static_cast<unsigned int>(argc), const_cast<const char **>(argv));
  return app.Exit(app.Run());
}
