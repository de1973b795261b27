// The application object, the console application and the command-line
// splitter. Run and the message-catalog step are in app_run.cpp.
#include "kelcore/app/application.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>

#include "kelcore/system/os_calls.h"
#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/platform/console.h"
#include "kelcore/platform/message_box.h"
#include "kelcore/sync/thread.h"

namespace {

std::atomic<tAPP *> g_current(nullptr);

// ---------------------------------------------------------------- file names

// The value of the environment variable `var`, else pAppFile with `ext`
// in the executable's directory, kept in `name`.
//
// When the executable's directory is not known (its path is longer than a
// name object holds), the name is empty: a file of that name in the
// current directory is never taken for the program's own, and opening it
// fails with the reason.
const char *EnvOrExecName(tPCFILENAME &name, const char *var, const char *ext) {
  const char *value = std::getenv(var);
  if (value != nullptr) {
    name.SetName(value);
  } else if (tOSSYSCALLS::GetExecDir().GetName()[0] == '\0') {
    name.SetName("");
  } else {
    name.SetName(tAPP::pAppFile);
    name.SetExtension(ext);
    name.SetLocation(tOSSYSCALLS::GetExecDir(), 0);
    // The directory is absolute already; this only makes the composed
    // name a native path on POSIX ("/opt/bin/tool.cat", not
    // "/opt/bin\tool.cat"), as it shows in messages.
    name.FullyQualify();
  }
  return name.GetName();
}

// The directory of the running program, found once. The program's path
// may be longer than a name object holds while its directory is not: then
// the directory is taken from the path (with a short stand-in for the
// program's name). A directory too long for a name object stays empty.
struct ExecDir {
  tPCFILENAME dir;
  ExecDir() {
    // The longest path Windows hands out; /proc/self/exe gives 4,095 bytes.
    const kelsys::DWORD size = 32768;
    char *path = new (std::nothrow) char[size];
    if (path == nullptr) return;
    kelsys::DWORD n = kelsys::GetModuleFileNameA(nullptr, path, size);
    if (n == 0 || n >= size) {
      delete[] path;
      return;
    }
    kelsys::DWORD cut = n;
    while (cut > 0 && path[cut - 1] != '/' && path[cut - 1] != '\\') --cut;
    if (n >= tPCFILENAME::cBUFFER_SIZE && cut > 0 && cut + 1 < tPCFILENAME::cBUFFER_SIZE) {
      path[cut] = 'x';
      path[cut + 1] = '\0';
      n = cut + 1;
    }
    if (n >= tPCFILENAME::cBUFFER_SIZE) {
      delete[] path;
      return;
    }
    tPCFILENAME file(path);
    delete[] path;
    file.FullyQualify();
    tPHYFILENAMEOBJ *location = file.GetLocation();
    if (location != nullptr) dir.SetName(*location);
  }
};

// ------------------------------------------------------------ display texts

// An APP catalog message whose text, when the catalog lacks it, is a
// built-in default instead of a description of the failed lookup.
class tAPPTEXT : public kelapp::tLIBMSG {
 public:
  tAPPTEXT(unsigned int setId, unsigned int msgId, const char *defaultText)
      : tLIBMSG(msgId, setId, kelapp::cID_STRING), default_text_(defaultText) {}

 protected:
  const char *GetDefaultMsg() { return default_text_; }

 private:
  const char *default_text_;
};

const unsigned int kLineFormat = 5;

// Text `msgId` of the APP catalog's set `setId`: set 0 holds the console's
// labels 0 to 4 and the line format 5, set 1 the message-box captions 0 to
// 4. Looked up on first use and kept for the process; the default when
// the catalog has none. The lookup leaves the thread's last error alone.
const char *DisplayText(unsigned int msgId, unsigned int setId = 0) {
  static std::atomic<char *> kept[2][kLineFormat + 1];
  const char *fallback = setId == 0 && msgId == kLineFormat ? "%0%1" : "";
  if (setId > 1 || msgId > kLineFormat || (setId == 1 && msgId == kLineFormat)) return fallback;
  std::atomic<char *> *slot = &kept[setId][msgId];
  char *text = slot->load(std::memory_order_acquire);
  if (text != nullptr) return text;

  tAPPTEXT msg(setId, msgId, fallback);
  const char *found = msg.GetText();
  std::size_t size = std::strlen(found) + 1;
  char *copy = new (std::nothrow) char[size];
  // Without memory this display uses the default; the next one tries again.
  if (copy == nullptr) return fallback;
  std::memcpy(copy, found, size);
  char *expected = nullptr;
  if (!slot->compare_exchange_strong(expected, copy, std::memory_order_acq_rel)) {
    delete[] copy;  // another thread kept its copy first
    return expected;
  }
  return copy;
}

// -------------------------------------------------------------- log stream

std::ofstream &LogStream() {
  static std::ofstream stream;
  return stream;
}

// ------------------------------------------------------ command-line split

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Scans the argument that starts at `p` (not white space, not the end),
// storing its characters at `out` when that is not null; returns the
// position after it and its length in *length.
const char *ScanArg(const char *p, char *out, std::size_t *length) {
  bool quoted = false;
  std::size_t n = 0;
  for (; *p != '\0' && (quoted || !IsBlank(*p)); ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else {
      if (out != nullptr) out[n] = *p;
      ++n;
    }
  }
  if (out != nullptr) out[n] = '\0';
  *length = n;
  return p;
}

const char *SkipBlanks(const char *p) {
  while (*p != '\0' && IsBlank(*p)) ++p;
  return p;
}

}  // namespace

// ------------------------------------------------------------------- tAPP

const char *tAPP::pAppName = nullptr;
const char *tAPP::pAppFile = nullptr;
const char *tAPP::pVersion = nullptr;
unsigned int tAPP::_hInstance = 0;

tAPP::tAPP(unsigned int argc, const char **argv, const char *name, const char *file,
           const char *version)
    : argc_(argc), argv_(argv) {
  tAPP::SetNewHandler();
  pAppName = name;
  pAppFile = file != nullptr ? file : name;
  pVersion = version;
  g_current.store(this);
}

tAPP::~tAPP() {
  // No dangling current application once the object is gone.
  tAPP *self = this;
  g_current.compare_exchange_strong(self, nullptr);
}

void tAPP::SetNewHandler() {}

unsigned int tAPP::Initialize() { return 0; }

const char *tAPP::GetMsgFileName() {
  static tPCFILENAME name;
  return EnvOrExecName(name, "MSGFILE", ".cat");
}

const char *tAPP::GetLogFileName() {
  static tPCFILENAME name;
  return EnvOrExecName(name, "LOGFILE", ".log");
}

tLOGDEFS::eLEVELS tAPP::GetLogLevels() {
  const char *value = std::getenv("TRACELEVEL");
  if (value == nullptr || !(std::isdigit(static_cast<unsigned char>(value[0])) || value[0] == '-')) {
    return tLOGDEFS::eNONE;
  }
  // Read as atoi does (decimal, up to the first other character), but
  // without its undefined result out of range: the low 32 bits of the
  // number are the mask, so "4294967295" is every bit, as "-1" is.
  long long number = std::strtoll(value, nullptr, 10);
  return static_cast<tLOGDEFS::eLEVELS>(static_cast<unsigned int>(number & 0xFFFFFFFFll));
}

const char *tAPP::GetLogClasses() { return std::getenv("TRACELABELS"); }

unsigned int tAPP::OpenLogFile(tSTDLOGFILE &) {
  unsigned int levels = GetLogLevels();
  if (levels == 0) return 0;
  const char *name = GetLogFileName();
  std::ostream *stream;
  if (std::strcmp(name, "$stderr") == 0) {
    stream = &std::cerr;
  } else if (std::strcmp(name, "$stdout") == 0) {
    stream = &std::cout;
  } else {
    static char buffer[512];
    std::ofstream &file = LogStream();
    // A stream left open by an earlier run in this process: its log was
    // stopped and flushed, and reopening needs it closed.
    if (file.is_open()) file.close();
    file.clear();
    file.rdbuf()->pubsetbuf(buffer, sizeof buffer);
    file.open(name, std::ios::out | std::ios::app);
    if (!file.is_open() || !file) return 0;
    stream = &file;
  }
  tLOGMGR::Start(*stream, levels, GetLogClasses());
  return 0;
}

unsigned int tAPP::ArgC() const { return argc_; }

const char *tAPP::ArgV(unsigned int index) const {
  return index < argc_ && argv_ != nullptr ? argv_[index] : nullptr;
}

tAPP::operator unsigned int() const { return _hInstance; }

void tAPP::Display(tMSG &msg) const { Display(msg.Format(), msg.GetSeverity()); }

void tAPP::DisplayLastError() const {
  // While it is shown the thread has no last error, so what the display
  // raises (a catalog lookup, say) cannot dispose of it; giving it back
  // drops whatever was raised meanwhile.
  tMSG *msg = tTHREAD::TakeOwnershipOfLastError();
  if (msg != nullptr) Display(*msg);
  tTHREAD::SetLastError(msg);
}

unsigned int tAPP::ParseArgs(const char *cmdLine, unsigned int *argc, char ***argv) {
  if (cmdLine == nullptr) cmdLine = "";
  unsigned int count = 0;
  std::size_t length;
  for (const char *p = SkipBlanks(cmdLine); *p != '\0'; p = SkipBlanks(p)) {
    p = ScanArg(p, nullptr, &length);
    ++count;
  }
  char **vector = new (std::nothrow) char *[count + 1];
  if (vector == nullptr) {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return 0xFFFFFFFFu;
  }
  unsigned int stored = 0;
  for (const char *p = SkipBlanks(cmdLine); *p != '\0'; p = SkipBlanks(p)) {
    ScanArg(p, nullptr, &length);
    char *arg = new (std::nothrow) char[length + 1];
    if (arg == nullptr) {
      vector[stored] = nullptr;
      FreeArgs(stored, vector);
      tTHREAD::SetLastError(tERRMSG::OutOfMemory);
      return 0xFFFFFFFFu;
    }
    p = ScanArg(p, arg, &length);
    vector[stored++] = arg;
  }
  vector[stored] = nullptr;
  *argc = stored;
  *argv = vector;
  return 0;
}

void tAPP::FreeArgs(unsigned int argc, char **argv) {
  if (argv == nullptr) return;
  for (unsigned int i = 0; i <= argc; ++i) delete[] argv[i];
  delete[] argv;
}

tAPP &GetKelApplication() { return *g_current.load(); }

const tPHYFILENAMEOBJ &tOSSYSCALLS::GetExecDir() {
  static ExecDir exec;
  return exec.dir;
}

// ------------------------------------------------------------ tCONSOLE_APP

tCONSOLE_APP::tCONSOLE_APP(unsigned int argc, const char **argv, const char *name,
                           const char *file, const char *version)
    : tAPP(argc, argv, name, file, version),
      out_(kelsys::GetStdHandle(kelsys::kStdOutput)) {}

tCONSOLE_APP::~tCONSOLE_APP() {}

void tCONSOLE_APP::Display(tMSG &msg) const { tAPP::Display(msg); }

void tCONSOLE_APP::Display(const char *text, tMSG::eSEVERITY severity) const {
  if (text == nullptr) text = "";
  const unsigned int number = static_cast<unsigned int>(severity);
  // Severities outside 0 to 4 have no label of their own.
  const char *label = number < kLineFormat ? DisplayText(number) : "";
  char *line = tMSG::Format(DisplayText(kLineFormat), 2, new (std::nothrow) tPARM_STRING(label),
                            new (std::nothrow) tPARM_STRING(text));
  // Without memory for the line the user still sees the text.
  WriteLine(line != nullptr ? line : text);
  delete[] line;

  if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("app", tLOGDEFS::eAPP)) {
    *tLOGMGR::pLogFile << "Displayed \"" << label << text << "\"\n";
    tLOGMGR::End();
  }
}

void tCONSOLE_APP::Write(const char *text) const {
  if (out_ == kelsys::kInvalidHandle || out_ == nullptr || text == nullptr) return;
  // The console is written beside the standard streams' buffers; emptying
  // them first keeps the order in which the program wrote.
  std::cout.flush();
  std::fflush(stdout);
  kelsys::WriteConsoleText(static_cast<kelsys::HANDLE>(out_), text,
                           static_cast<kelsys::DWORD>(std::strlen(text)));
}

void tCONSOLE_APP::WriteLine(const char *text) const {
  Write(text);
  Write("\n");
}

// ---------------------------------------------------------------- tGUI_APP

namespace {

void DefaultMessageBox(const char *caption, const char *text, unsigned int style) {
  kelsys::ShowMessageBox(caption, text, style);
}

std::atomic<tMESSAGE_BOX_HOOK> g_message_box(nullptr);

}  // namespace

unsigned int tGUI_APP::_hPrevInstance = 0;
int tGUI_APP::_nCmdShow = 0;

tGUI_APP::tGUI_APP(unsigned int argc, const char **argv, const char *name, const char *file,
                   const char *version)
    : tAPP(argc, argv, name, file, version) {}

tGUI_APP::~tGUI_APP() {}

void tGUI_APP::SetWinMainParms(unsigned int hInstance, unsigned int hPrevInstance, int nCmdShow) {
  tAPP::_hInstance = hInstance;
  _hPrevInstance = hPrevInstance;
  _nCmdShow = nCmdShow;
}

tMESSAGE_BOX_HOOK tGUI_APP::SetMessageBoxHook(tMESSAGE_BOX_HOOK hook) {
  return g_message_box.exchange(hook);
}

void tGUI_APP::Display(tMSG &msg) const { tAPP::Display(msg); }

void tGUI_APP::Display(const char *text, tMSG::eSEVERITY severity) const {
  if (text == nullptr) text = "";
  const unsigned int number = static_cast<unsigned int>(severity);
  // Severities outside 0 to 4 have neither a caption nor an icon.
  const char *caption = number < kLineFormat ? DisplayText(number, 1) : "";
  unsigned int style = 0;
  if (number == 0) {
    style = kelsys::kIconInformation;
  } else if (number == 1) {
    style = kelsys::kIconStop;
  } else if (number < kLineFormat) {
    style = kelsys::kIconExclamation;
  }
  tMESSAGE_BOX_HOOK hook = g_message_box.load();
  (hook != nullptr ? hook : DefaultMessageBox)(caption, text, style);

  if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("app", tLOGDEFS::eAPP)) {
    *tLOGMGR::pLogFile << "Displayed " << caption << " \"" << text << "\"\n";
    tLOGMGR::End();
  }
}
