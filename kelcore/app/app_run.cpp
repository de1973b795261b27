// The run sequence and the message-catalog step.
#include <cstdio>

#include "kelcore/app/application.h"
#include "kelcore/catalog/message_file.h"

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
    Display("Unable to open message catalog", tMSG::eINFORMATION);
    return 1;
  }
  if (OpenLogFile(logFile) == 0 && Initialize() == 0 && Main() == 0) return 0;
  DisplayLastError();
  return 1;
}
