// The run sequence and the message-catalog step.
#include <cstdio>

#include "kelcore/app/application.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/sync/thread.h"

unsigned int tAPP::OpenMessageCatalog(tSTDMSGFILE &msgFile) {
  // The program's name and " message catalog", cut to 79 characters.
  char title[80];
  std::snprintf(title, sizeof title, "%.79s message catalog", pAppName != nullptr ? pAppName : "");
  return msgFile.Initialize(GetMsgFileName(), title, pVersion, "american");
}

int tAPP::Run() {
  // Destroyed in reverse order: the log stops (stop line) before the
  // message file closes.
  tSTDMSGFILE msgFile;
  tSTDLOGFILE logFile;
  if (OpenMessageCatalog(msgFile) != 0) {
    // The fixed line says what failed; a second line says why, naming the
    // file. The reason's own text would come from a catalog, normally one
    // in the very file that failed, so it is shown in the library's
    // built-in words. The reason stays the thread's last error, whatever
    // the display's lookups raise meanwhile.
    tMSG *why = tTHREAD::TakeOwnershipOfLastError();
    Display("Unable to open message catalog", tMSG::eINFORMATION);
    char *reason = tMSGFILE::DescribeFailure(why);
    if (reason != nullptr) Display(reason, tMSG::eINFORMATION);
    delete[] reason;
    tTHREAD::SetLastError(why);
    return 1;
  }
  if (OpenLogFile(logFile) == 0 && Initialize() == 0 && Main() == 0) return 0;
  DisplayLastError();
  return 1;
}
