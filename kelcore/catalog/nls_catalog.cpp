#include "kelcore/catalog/nls_catalog.h"

#include <new>

#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/text/nls_string.h"

namespace {

// The file under catopen's message file: an operating-system file whose
// lock serialises the threads that read catalogs through it at once.
class tNLSFILE : public tINTRA_PROCESS_LOCK,
                 public tPHYSICAL_FILE,
                 public tOSFILEIO,
                 public tPCFILENAME,
                 public tOSFILESYS {
 public:
  tNLSFILE() {}
  ~tNLSFILE() {}

  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const {
    tNLSFILE *file = out != nullptr ? new (std::nothrow) tNLSFILE : nullptr;
    if (out != nullptr) *out = file;
    if (file == nullptr) {
      tTHREAD::SetLastError(tERRMSG::OutOfMemory);
      return 0xFFFFFFFFu;
    }
    return 0;
  }
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const {
    if (out != nullptr) *out = nullptr;
    return 0;
  }
};

// The message file catopen opened; null when none is open. Not locked:
// catopen and catclose must not run alongside each other or catgets.
tSTDMSGFILE *g_open_file = nullptr;

// Each thread's last catgets result, freed with the thread's block.
void DestroyResult(void *slot) {
  char **text = static_cast<char **>(slot);
  delete[] *text;
  *text = nullptr;
}

// A new block is zero-filled: a null text.
tTLSDEF g_result_slot(sizeof(char *), nullptr, DestroyResult);

void CloseOpenFile(unsigned int *status) {
  tSTDMSGFILE *file = g_open_file;
  // Forgotten first, so that nothing can reach the file while it goes.
  g_open_file = nullptr;
  *status = file->Close();
  delete file;
}

}  // namespace

int kelcore_catopen(char const *fileName, int) {
  if (g_open_file != nullptr) {
    unsigned int ignored;
    CloseOpenFile(&ignored);
  }
  tNLSFILE *phys = new (std::nothrow) tNLSFILE;
  tSTDMSGFILE *file = phys != nullptr ? new (std::nothrow) tSTDMSGFILE(phys, 1) : nullptr;
  if (file == nullptr) {
    delete phys;
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return -1;
  }
  // Kept (and registered) even when the open fails, as the file a later
  // catclose closes; a catalog lookup through it finds nothing.
  g_open_file = file;
  return file->Initialize(fileName, kelnls::cCATALOG_NAME, kelnls::cCATALOG_VERSION,
                          "american") == 0
             ? 0
             : -1;
}

char *kelcore_catgets(int, int setId, int msgId, char const *defaultText) {
  char **cell = static_cast<char **>(g_result_slot.GetPtr());
  if (cell == nullptr) return nullptr;
  tMSG *msg = kelnls::NewLibraryError(static_cast<unsigned int>(msgId),
                                      static_cast<unsigned int>(setId), defaultText);
  // Without memory for the message the factory gives the shared
  // out-of-memory message, whose text answers no question: the default
  // text does.
  const char *text = msg == &tERRMSG::OutOfMemory ? defaultText : msg->GetText();
  char *copy = text != nullptr ? strnew(text) : nullptr;
  tMSG::Dispose(msg);
  delete[] *cell;
  *cell = copy;
  return copy;
}

int kelcore_catclose(int) {
  if (g_open_file == nullptr) return -1;
  unsigned int status = 0;
  CloseOpenFile(&status);
  return status == 0 ? 0 : -1;
}
