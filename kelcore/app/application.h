// The application object: a program's start-up sequence, its messages on
// the console, and the command-line splitter.
//
// A program derives its application class from tCONSOLE_APP, constructs one
// object of it and calls Run:
//
//   class tTOOL : public tCONSOLE_APP {
//    public:
//     tTOOL(unsigned int argc, const char **argv)
//         : tCONSOLE_APP(argc, argv, "tool", nullptr, "A.01.00") {}
//     unsigned int Main() { ...; return 0; }   // or a status, with a last error
//   };
//   int main(int argc, char **argv) {
//     tTOOL app(argc, const_cast<const char **>(argv));
//     return app.Run();
//   }
//
// Run opens the program's message catalog (a message file named after the
// program, next to the executable, or the file MSGFILE names), starts the
// log when the environment asks for it (TRACELEVEL, LOGFILE, TRACELABELS),
// calls Initialize and Main, and when a step fails shows the thread's last
// error with Display and returns 1. Leaving Run stops the log and closes the
// message file. Every step is a virtual operation a program may override.
//
// Environment:
//   MSGFILE      the message file; default <program file>.cat next to the
//                executable.
//   LOGFILE      the log file, opened for appending; "$stdout" and
//                "$stderr" log to the standard streams; default
//                <program file>.log next to the executable.
//   TRACELEVEL   the enabled level bits as a decimal number ("196" is 0xC4,
//                "-1" every bit). Missing, or not starting with a digit or
//                "-": no log.
//   TRACELABELS  the accepted class labels, separated by ";"; missing: all.
#ifndef KELCORE_APP_APPLICATION_H
#define KELCORE_APP_APPLICATION_H

#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/platform/export.h"

class tSTDMSGFILE;

// The application base: the run sequence, the program's arguments and names, and the display of
// messages (see the file comment). Derive from tCONSOLE_APP or tGUI_APP.
class KELCORE_API tAPP {
 public:
  // Shows `text` to the user with the decorations of `severity`.
  virtual void Display(const char *text, tMSG::eSEVERITY severity) const = 0;
  // The current application (GetKelApplication) is this object no more.
  virtual ~tAPP();
  // The program's body: 0, or a status with the reason as the thread's last
  // error.
  virtual unsigned int Main() = 0;
  // Opens the program's catalog in `msgFile`: the file GetMsgFileName
  // names, the catalog "<program name> message catalog" (cut to 79
  // characters), pVersion, language "american".
  virtual unsigned int OpenMessageCatalog(tSTDMSGFILE &msgFile);
  // Starts the log as the environment asks (see above). 0 also when the
  // log file cannot be opened: the program runs without a log.
  virtual unsigned int OpenLogFile(tSTDLOGFILE &logFile);
  // Hook for installing an allocation-failure handler; does nothing here.
  virtual void SetNewHandler();
  // The program's initialisation; 0 here.
  virtual unsigned int Initialize();
  // MSGFILE's value, else pAppFile with ".cat" in the executable's
  // directory. Points into a process-wide name object.
  virtual const char *GetMsgFileName();
  // The same with LOGFILE and ".log".
  virtual const char *GetLogFileName();
  // TRACELEVEL as a decimal number taken as a bit mask (its low 32 bits);
  // 0 when missing or when it starts with neither a digit nor "-".
  virtual tLOGDEFS::eLEVELS GetLogLevels();
  // TRACELABELS, or null when it is not set.
  virtual const char *GetLogClasses();

  // The run sequence: 0 when Main succeeded, 1 when a step failed.
  int Run();

  // The number of command-line arguments, the program's name included.
  unsigned int ArgC() const;
  // The argument at `index`; null when `index` is not below ArgC().
  const char *ArgV(unsigned int index) const;
  // The module instance handle of a windowed program; 0 for others.
  operator unsigned int() const;
  // Display of the message's formatted text with its severity.
  void Display(tMSG &msg) const;
  // Shows the thread's last error, if there is one. The thread's last error
  // is the same afterwards; errors raised while it is shown are dropped.
  void DisplayLastError() const;

  // Splits `cmdLine` into arguments: runs of ASCII white space separate
  // them; a double quote switches quoting on and off and is removed (white
  // space inside quotes belongs to the argument; a"b c" is the one argument
  // ab c; a quote never closed runs to the end); no escape character.
  // Stores the count and a new vector of new char[] texts, ended by a null
  // entry, and returns 0; release them with FreeArgs. Without memory: the
  // outputs are untouched, the last error is tERRMSG::OutOfMemory and the
  // result 0xFFFFFFFF.
  static unsigned int ParseArgs(const char *cmdLine, unsigned int *argc, char ***argv);
  // Frees what ParseArgs stored. A null vector is ignored.
  static void FreeArgs(unsigned int argc, char **argv);

  // The program's name (catalog title), the base name of its message and
  // log files, its version text (checked against its catalog's).
  static const char *pAppName;
  // The base name of the program's message and log files (the name when none was given).
  static const char *pAppFile;
  // The program's version text, checked against its catalog's version when the catalog is
  // opened.
  static const char *pVersion;
  // Module instance handle of a windowed program; 0 otherwise.
  static unsigned int _hInstance;

 protected:
  // Keeps `argc` and `argv` (not copied), sets the static names (`file`
  // null: the name) and makes this object the current application.
  tAPP(unsigned int argc, const char **argv, const char *name, const char *file,
       const char *version);

 private:
  tAPP(const tAPP &);
  tAPP &operator=(const tAPP &);

  unsigned int argc_;
  const char **argv_;
};

// The current application: the application object constructed last and not
// yet destroyed. Only valid while there is one.
KELCORE_API tAPP &GetKelApplication();

// An application that shows its messages on the console's standard output,
// as one line each: the severity's label and the text, in the line format
// of the APP catalog ("%0%1" and empty labels when the catalog has none).
class KELCORE_API tCONSOLE_APP : public tAPP {
 public:
  void Display(const char *text, tMSG::eSEVERITY severity) const;
  void Display(tMSG &msg) const;

 protected:
  // tAPP's constructor; then this object is the current application and
  // takes the standard-output handle.
  tCONSOLE_APP(unsigned int argc, const char **argv, const char *name, const char *file,
               const char *version);
  ~tCONSOLE_APP();

  // Writes the text to standard output, wherever it leads (console, file or
  // pipe); what the program wrote through stdio or cout before comes first.
  // Nothing when the handle is invalid.
  void Write(const char *text) const;
  // Write of the text, then of a line end.
  void WriteLine(const char *text) const;

 private:
  void *out_;  // the standard-output handle
};

// How a windowed application shows a message box: the caption, the text
// and the MessageBoxA style bits of the icon (0x40 information, 0x10 stop,
// 0x30 exclamation; 0 none). Returns when the user has seen the box.
typedef void (*tMESSAGE_BOX_HOOK)(const char *caption, const char *text, unsigned int style);

// An application that shows its messages in message boxes, for windowed
// programs. The entry point hands its start-up values to SetWinMainParms
// before constructing the application object:
//
//   int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show) {
//     tGUI_APP::SetWinMainParms((unsigned int)(UINT_PTR)inst,
//                               (unsigned int)(UINT_PTR)prev, show);
//     tVIEWER app(__argc, (const char **)__argv);
//     return app.Run();
//   }
//
// The box: the caption is the APP catalog's text of set 1 for the severity
// (empty without one), looked up once per severity and kept; the icon is
// information for severity 0, stop for 1 and exclamation for 2 to 4; other
// severities get neither. On Windows the box is MessageBoxA owned by the
// active window. Elsewhere, by default, "caption: text" goes to standard
// error as one line. SetMessageBoxHook replaces the way the box is shown,
// on every system: a program built on a toolkit shows its own dialog, and
// tests record what would have been shown.
//
// With the "app" label and level 0x01 enabled, each box is logged as
// `Displayed <caption> "<text>"`.
class KELCORE_API tGUI_APP : public tAPP {
 public:
  void Display(const char *text, tMSG::eSEVERITY severity) const;
  void Display(tMSG &msg) const;

  // Stores the entry point's values in tAPP::_hInstance, _hPrevInstance
  // and _nCmdShow.
  static void SetWinMainParms(unsigned int hInstance, unsigned int hPrevInstance, int nCmdShow);
  // Installs `hook` for every later box of every windowed application;
  // null restores the library's own. Returns the hook it replaces (null
  // for the library's own).
  static tMESSAGE_BOX_HOOK SetMessageBoxHook(tMESSAGE_BOX_HOOK hook);

  // The previous-instance handle that SetWinMainParms stored; 0 elsewhere.
  static unsigned int _hPrevInstance;
  // The show command that SetWinMainParms stored; 0 elsewhere.
  static int _nCmdShow;

 protected:
  // tAPP's constructor; then this object is the current application.
  tGUI_APP(unsigned int argc, const char **argv, const char *name, const char *file,
           const char *version);
  ~tGUI_APP();
};

#endif  // KELCORE_APP_APPLICATION_H
