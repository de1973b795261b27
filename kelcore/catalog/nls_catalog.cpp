#include "kelcore/catalog/nls_catalog.h"

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

char *kelcore_catgets(int, int setId, int msgId, char const *defaultText) {
  char **cell = static_cast<char **>(g_result_slot.GetPtr());
  if (cell == nullptr) return nullptr;
  // An 8-bit text the catalog's in-memory view holds is the text the
  // message below would fetch: taken at once, without the message, into
  // the thread's previous result when that is long enough.
  const unsigned char *raw = nullptr;
  unsigned int length = 0, width = 0;
  if (kelcatalog_internal::ViewBytes(kelnls::Catalog(), static_cast<unsigned int>(setId),
                                     static_cast<unsigned int>(msgId), &raw, &length,
                                     &width) == 0 &&
      width == 1) {
    // The text as a C string: up to its first NUL, as the message path's
    // copy.
    const void *nul = length > 0 ? std::memchr(raw, '\0', length) : nullptr;
    if (nul != nullptr) length = static_cast<unsigned int>(static_cast<const unsigned char *>(nul) - raw);
    char *text = *cell;
    if (text == nullptr || std::strlen(text) < length) {
      text = new (std::nothrow) char[static_cast<std::size_t>(length) + 1];
    }
    if (text != nullptr) {
      if (length > 0) std::memcpy(text, raw, length);
      text[length] = '\0';
      if (text != *cell) {
        delete[] *cell;
        *cell = text;
      }
      return text;
    }
  }
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
