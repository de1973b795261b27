#include "kelcore/catalog/nls_catalog.h"

#include <atomic>
#include <cstring>
#include <new>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"
#include "kelcore/text/nls_string.h"

namespace {

// The message file catopen opened; null when none is open. Not locked:
// catopen and catclose must not run alongside each other or catgets.
tSTDMSGFILE *g_open_file = nullptr;

// Each thread's last catgets result: a text of the NLS catalog's in-memory
// view, which `view` holds a reference on, or a copy of its own. Both are
// let go with the thread's block (and the view when a later result is not
// the view's).
struct tRESULT {
  char *copy;
  void *view;
};

void DestroyResult(void *slot) {
  tRESULT *result = static_cast<tRESULT *>(slot);
  delete[] result->copy;
  result->copy = nullptr;
  kelcatalog_internal::DropView(&result->view);
}

// A new block is zero-filled: no text, no view.
tTLSDEF g_result_slot(sizeof(tRESULT), nullptr, DestroyResult);

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
  // Without a file of its own, a message file makes the one catalogs need:
  // an operating-system file with an in-process lock, so that threads may
  // call catgets at once.
  tSTDMSGFILE *file = new (std::nothrow) tSTDMSGFILE(nullptr, 1);
  if (file == nullptr) {
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

namespace {

#if defined(__GNUC__)
#  define KELCORE_NLS_COLD __attribute__((noinline, cold))
#else
#  define KELCORE_NLS_COLD
#endif

// The NLS catalog, found once: the common case of catgets is then one load.
std::atomic<tMSGCAT *> g_nls_catalog(nullptr);

tMSGCAT &NlsCatalog() {
  tMSGCAT *catalog = g_nls_catalog.load(std::memory_order_acquire);
  if (catalog == nullptr) {
    catalog = &kelnls::Catalog();
    g_nls_catalog.store(catalog, std::memory_order_release);
  }
  return *catalog;
}

// catgets through the NLS message: a copy of its text, kept in the cell.
KELCORE_NLS_COLD char *CopiedText(tRESULT *cell, int setId, int msgId,
                                  char const *defaultText) {
  tMSG *msg = kelnls::NewLibraryError(static_cast<unsigned int>(msgId),
                                      static_cast<unsigned int>(setId), defaultText);
  // Without memory for the message the factory gives the shared
  // out-of-memory message, whose text answers no question: the default
  // text does.
  const char *text = msg == &tERRMSG::OutOfMemory ? defaultText : msg->GetText();
  char *copy = text != nullptr ? strnew(text) : nullptr;
  tMSG::Dispose(msg);
  delete[] cell->copy;
  cell->copy = copy;
  // The previous result is no longer promised: a view it came from may go.
  kelcatalog_internal::DropView(&cell->view);
  return copy;
}

}  // namespace

char *kelcore_catgets(int, int setId, int msgId, char const *defaultText) {
  tRESULT *cell = static_cast<tRESULT *>(g_result_slot.GetPtr());
  if (cell == nullptr) return nullptr;
  // A text the catalog's in-memory view holds is the text the message
  // would fetch, up to its first NUL as the copy would be: handed out from
  // the view itself, which the cell keeps alive for this thread. It
  // belongs to the library, as the C library's texts do (they are mapped
  // read-only): callers copy what they change.
  if (const char *text = kelcatalog_internal::ViewText(
          NlsCatalog(), static_cast<unsigned int>(setId), static_cast<unsigned int>(msgId),
          &cell->view)) {
    return const_cast<char *>(text);
  }
  return CopiedText(cell, setId, msgId, defaultText);
}

int kelcore_catclose(int) {
  if (g_open_file == nullptr) return -1;
  unsigned int status = 0;
  CloseOpenFile(&status);
  return status == 0 ? 0 : -1;
}
