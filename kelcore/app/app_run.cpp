// The run sequence and the message-catalog step.
#include <cstdio>
#include <cstring>

#include "kelcore/app/application.h"

#if __has_include("kelcore/catalog/message_file.h")
#  include "kelcore/catalog/message_file.h"
#  define KELCORE_HAVE_MESSAGE_FILE 1
#endif

#if defined(KELCORE_HAVE_MESSAGE_FILE)
namespace {

// The catalog title: the program's name and " message catalog", cut to
// 79 characters.
void CatalogTitle(char (&title)[80]) {
  std::snprintf(title, sizeof title, "%.79s message catalog",
                tAPP::pAppName != nullptr ? tAPP::pAppName : "");
}

}  // namespace

unsigned int tAPP::OpenMessageCatalog(tSTDMSGFILE &msgFile) {
  char title[80];
  CatalogTitle(title);
  return msgFile.Initialize(GetMsgFileName(), title, pVersion, "american");
}

int tAPP::Run() {
  // Destroyed in reverse order: the log stops (stop line) before the
  // message file closes.
  tSTDMSGFILE msgFile;
  tSTDLOGFILE logFile;
  return RunSteps(&msgFile, logFile);
}

#else

// Until message files exist the run has no catalog step.
unsigned int tAPP::OpenMessageCatalog(tSTDMSGFILE &) { return 0; }

int tAPP::Run() {
  tSTDLOGFILE logFile;
  return RunSteps(nullptr, logFile);
}

#endif

int tAPP::RunSteps(tSTDMSGFILE *msgFile, tSTDLOGFILE &logFile) {
  if (msgFile != nullptr && OpenMessageCatalog(*msgFile) != 0) {
    Display("Unable to open message catalog", tMSG::eINFORMATION);
    return 1;
  }
  if (OpenLogFile(logFile) == 0 && Initialize() == 0 && Main() == 0) return 0;
  DisplayLastError();
  return 1;
}
