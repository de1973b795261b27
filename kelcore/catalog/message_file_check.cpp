// Checking a registered message file, and describing the failures of one
// in words that need no catalog.
//
// A message file's failure is reported as a module message, whose text
// comes from a catalog, and the catalog is usually in that very file (a
// program's own message file holds the library's texts too). Formatted, the
// failure then reads as the lookup's failure ("Message catalog error (OS
// library message catalog, set:0, msg:0)"): the file's name and the reason
// are lost. DescribeFailure keeps them, from a small built-in copy of the
// English texts of the failures that opening and reading a message file
// can raise.
#include <cstring>
#include <new>

#include "kelcore/msgcat/catalog.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/msg/format_into.h"
#include "kelcore/sync/thread.h"
#include "kelcore/text/nls_string.h"

namespace {

const unsigned int cFAILURE = 0xFFFFFFFFu;
const unsigned int cEND_OF_FILE = 4;

struct tBUILTIN {
  const char *id_string;  // the module's id string object
  unsigned int number;    // set 0
  const char *text;       // as in kelcore/catalog/kelcore.msg
};

// The tests check each text against kelcore.msg.
const tBUILTIN kBuiltIn[] = {
    {kelos::cID_STRING, 0, "Cannot open %1: %0"},
    {kelos::cID_STRING, 2, "Cannot read %1: %0"},
    {kelos::cID_STRING, 10, "Cannot get the size or attributes of %1: %0"},
    {kelos::cID_STRING, 17, "Cannot seek in %1: %0"},
    {kelos::cID_STRING, 18, "Cannot get the position in %1: %0"},
    {kelcstream::cID_STRING, 0, "Cannot open %1: %0"},
    {kelcstream::cID_STRING, 8, "Cannot seek in %1: %0"},
    {kelcstream::cID_STRING, 9, "Cannot get the position in %1: %0"},
    {kelcstream::cID_STRING, 11, "Cannot get the size of %1: %0"},
    {kelfilesys::cID_STRING, 2, "%0 is not open for the access asked for"},
    {kelfilesys::cID_STRING, 3, "Unexpected end of file in %0"},
    {kelrec::cID_STRING, 1, "%0 is not a \"%1\" file: its identification is \"%5\""},
    {kelrec::cID_STRING, 2, "%0 is damaged: a record or the file's header is cut short or malformed"},
    {kelrec::cID_STRING, 3, "A record of %0 is longer than the buffer given for it"},
    {kelrec::cID_STRING, 4, "A record of %0 is shorter than the buffer given for it"},
    {kelrec::cID_STRING, 5, "%0 has record layout version %5; this library reads %2"},
    {kelrec::cID_STRING, 6, "%0 has format version %5; version %3 is expected"},
    {kelrec::cID_STRING, 7, "%0 has version %5; version %4 is expected"},
};

const char *BuiltInText(tMSG *msg) {
  // Only catalog messages have a number; a message of another class that
  // borrows a module's id string is formatted as it is.
  const tCATMSG *cat = dynamic_cast<const tCATMSG *>(msg);
  if (cat == nullptr || cat->GetSetId() != 0) return nullptr;
  for (const tBUILTIN &b : kBuiltIn) {
    if (b.id_string == msg->GetIdString() && b.number == cat->GetMsgId()) return b.text;
  }
  return nullptr;
}

// The parameter at `index`; null when there is none or a null one is
// stored (the interface hands those out as references with null address).
const tPARAMETER *ParmAt(const tMSG &msg, unsigned int index) {
  if (index >= msg.NumParms()) return nullptr;
  const tPARAMETER &parm = msg[index];
  return &parm;
}

}  // namespace

char *tMSGFILE::DescribeFailure(tMSG *failure) {
  if (failure == nullptr) return nullptr;
  const char *text = BuiltInText(failure);
  if (text == nullptr) return strnew(failure->Format());
  // The texts use parameters 0 to 5 only.
  const tPARAMETER *parms[6];
  for (unsigned int i = 0; i < 6; ++i) parms[i] = ParmAt(*failure, i);
  char buf[kelcore_internal::kFormatWorkSize];
  const unsigned int count = failure->NumParms() < 6 ? failure->NumParms() : 6;
  kelcore_internal::FormatInto(buf, text, parms, count);
  return strnew(buf);
}

unsigned int tMSGFILE::Check() {
  // A check that passes leaves the caller's last error as it was.
  tMSG *pending = tTHREAD::TakeOwnershipOfLastError();
  const int opened = !IsOpen();
  unsigned int status = opened ? Open() : 0;
  unsigned long size = 0, at = 0, next = 0;
  if (status == 0) status = GetSize(&size);
  // Catalog after catalog, each starting where the one before ends, up to
  // exactly the end of the file. An empty file holds none: the first read
  // meets the end of the file.
  while (status == 0) {
    status = FindNextCatalog(at);
    if (status == 0) status = GetPos(&next);
    if (status != 0) break;
    if (next <= at || next > size) {
      // A catalog length that points back, nowhere, or past the end.
      tTHREAD::SetLastError(
          AddErrorContext(kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_CORRUPT)));
      status = cFAILURE;
      break;
    }
    if (next == size) break;
    at = next;
  }
  if (status == cEND_OF_FILE && tTHREAD::GetLastError() == nullptr) {
    // The end of the file inside a catalog's beginning: the file is cut.
    tTHREAD::SetLastError(
        AddErrorContext(kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_CORRUPT)));
  }
  if (opened && IsOpen()) {
    // The check's own result counts, not the close's.
    tMSG *why = tTHREAD::TakeOwnershipOfLastError();
    Close();
    tTHREAD::SetLastError(why);
  }
  if (status == 0) {
    tTHREAD::SetLastError(pending);
  } else {
    tMSG::Dispose(pending);
  }
  return status;
}
