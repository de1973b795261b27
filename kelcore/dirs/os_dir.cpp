#include "kelcore/dirs/os_dir.h"

#include <cstring>
#include <new>
#include <ostream>

#include "kelcore/dirs/current_dir.h"
#include "kelcore/dirs/dir_name.h"
#include "kelcore/dirs/drive.h"
#include "kelcore/error/os_error.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/os/attribute_word.h"
#include "kelcore/platform/dir.h"
#include "kelcore/sync/thread.h"

using namespace kelsys;

namespace {

// Set-0 message numbers of the OS catalog.
enum {
  cMSG_OPEN = 0,
  cMSG_CLOSE = 1,
  cMSG_READ = 2,
  cMSG_DELETE = 4,
  cMSG_CREATE = 6,
  cMSG_GET_ATTRIBUTES = 10,
  cMSG_CURRENT_DIR = 15
};

// The library's own codes.
const unsigned int cROOT = 0xF000;
const unsigned int cDIR_EXISTS = 0xF001;
const unsigned int cFILE_EXISTS = 0xF002;
const unsigned int cDIR_IN_USE = 0xF004;
const unsigned int cNOT_A_DIR = 0xF005;

const unsigned int cSTATUS_NOT_FOUND = 1;
const unsigned int cSTATUS_FAILURE = 0xFFFFFFFFu;


}  // namespace

// ---------------------------------------------------------------------------
// tOSDIRIO

struct tOSDIRIO::tLISTING {
  char *pattern;
  HANDLE handle;
  WIN32_FIND_DATAA data;
  int first;
  DWORD error;  // why the last Read found nothing
};

tOSDIRIO::tOSDIRIO() : listing_(nullptr) {}

tOSDIRIO::~tOSDIRIO() {
  if (listing_ != nullptr && listing_->handle != INVALID_HANDLE_VALUE) {
    FindClose(listing_->handle);
  }
  Release();
}

void tOSDIRIO::Release() {
  if (listing_ == nullptr) return;
  delete[] listing_->pattern;
  delete listing_;
  listing_ = nullptr;
}

unsigned int tOSDIRIO::Report(unsigned int msgNo, unsigned int osError) {
  tTHREAD::SetLastError(AddErrorContext(tOSERR::Make(msgNo, static_cast<int>(osError))));
  return tOSERR::ToStatus(static_cast<int>(osError));
}

// The search's own failures name the pattern searched, not the directory.
unsigned int tOSDIRIO::ReportPattern(unsigned int msgNo, unsigned int osError) {
  tMSG *msg = tOSERR::Make(msgNo, static_cast<int>(osError));
  *msg << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_FILENAME(listing_->pattern));
  tTHREAD::SetLastError(msg);
  return tOSERR::ToStatus(static_cast<int>(osError));
}

int tOSDIRIO::IsOpen() { return listing_ != nullptr ? 1 : 0; }

unsigned int tOSDIRIO::Open() {
  if (listing_ != nullptr) return Report(cMSG_OPEN, ERROR_ACCESS_DENIED);
  tLISTING *listing = new (std::nothrow) tLISTING;
  const char *name = GetName();
  std::size_t len = std::strlen(name);
  char last = len != 0 ? name[len - 1] : '\0';
  const char *tail = (len == 0 || last == ':' || last == '/' || last == '\\') ? "*" : "\\*";
  char *pattern = new (std::nothrow) char[len + std::strlen(tail) + 1];
  if (listing == nullptr || pattern == nullptr) {
    delete listing;
    delete[] pattern;
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return cSTATUS_FAILURE;
  }
  std::memcpy(pattern, name, len);
  std::strcpy(pattern + len, tail);
  listing->pattern = pattern;
  listing->handle = INVALID_HANDLE_VALUE;
  listing->first = 1;
  listing->error = NO_ERROR;
  listing_ = listing;
  return 0;
}

unsigned int tOSDIRIO::Read(tDIRFINDINFO &info) {
  if (listing_ == nullptr) return Report(cMSG_READ, ERROR_INVALID_HANDLE);
  tLISTING &l = *listing_;
  const char *file;
  for (;;) {
    DWORD err = NO_ERROR;
    if (l.first) {
      l.first = 0;
      l.handle = FindFirstFileA(l.pattern, &l.data);
      if (l.handle == INVALID_HANDLE_VALUE) err = GetLastError();
    } else if (l.handle == INVALID_HANDLE_VALUE) {
      err = ERROR_NO_MORE_FILES;  // the first search found nothing
    } else if (!FindNextFileA(l.handle, &l.data)) {
      err = GetLastError();
    }
    if (err != NO_ERROR) {
      l.error = err;
      return ReportPattern(cMSG_READ, err);
    }
    file = l.data.cFileName;
    if (!((l.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && file[0] == '.' &&
          (file[1] == '\0' || (file[1] == '.' && file[2] == '\0')))) {
      break;
    }
  }
  info.Kind = kelos::AttributeWord(l.data.dwFileAttributes);
  info.ShortName.SetName(l.data.cAlternateFileName);

  // The directory's name, a separator unless it ends a location already,
  // and the entry's name: what SetLocation(name, 0) makes of a bare file
  // name, composed once instead of through a location object per entry,
  // and with the separator the directory's name uses, so that native
  // POSIX names stay native.
  const char *dir = GetName();
  std::size_t dirLen = std::strlen(dir), fileLen = std::strlen(file);
  char full[2 * MAX_PATH + 2];
  std::size_t n = 0;
  if (dirLen + fileLen + 1 < sizeof full) {
    std::memcpy(full, dir, dirLen);
    n = dirLen;
    if (n != 0 && !PathSep(full[n - 1])) full[n++] = keldirs::SeparatorOf(*this);
    std::memcpy(full + n, file, fileLen + 1);
    n += fileLen;
  }
  if (n == 0 || n > info.Name.GetMaxLen()) {
    // No DOS-style name reaches this entry: say which one it is rather
    // than hand out another name.
    tMSG *msg = tOSERR::Make(cMSG_READ, static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    *msg << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_FILENAME(file));
    tTHREAD::SetLastError(AddErrorContext(msg));
    info.Name.SetName(static_cast<const char *>(nullptr));
    return tOSERR::ToStatus(static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
  }
  info.Name.SetName(full);
  if (info.Kind & ATTR_DIRECTORY) keldirs::EndWithPathChar(info.Name);
  return 0;
}

unsigned int tOSDIRIO::Close() {
  if (listing_ == nullptr) return Report(cMSG_CLOSE, ERROR_INVALID_HANDLE);
  if (listing_->handle != INVALID_HANDLE_VALUE) {
    if (!FindClose(listing_->handle)) return ReportPattern(cMSG_CLOSE, GetLastError());
    listing_->handle = INVALID_HANDLE_VALUE;
  }
  Release();
  return 0;
}

unsigned long tOSDIRIO::_LastAttributes() const {
  return listing_ != nullptr ? listing_->data.dwFileAttributes : 0;
}

int tOSDIRIO::_Missing() const {
  return listing_ != nullptr && listing_->error == ERROR_PATH_NOT_FOUND;
}

// ---------------------------------------------------------------------------
// tOSDIRSYS

tOSDIRSYS::tOSDIRSYS() {}
tOSDIRSYS::~tOSDIRSYS() {}

unsigned int tOSDIRSYS::Report(unsigned int msgNo, unsigned int osError) const {
  tTHREAD::SetLastError(AddErrorContext(tOSERR::Make(msgNo, static_cast<int>(osError))));
  return tOSERR::ToStatus(static_cast<int>(osError));
}

unsigned int tOSDIRSYS::Create() {
  const char *name = GetName();
  std::size_t len = std::strlen(name);
  unsigned int code;
  if (len != 0 && PathSep(name[len - 1]) && IsRoot()) {
    code = cROOT;
  } else {
    // The attributes straight from the system: a missing name is the
    // normal case here and leaves no message behind.
    DWORD attrs = GetFileAttributesA(name);
    if (attrs != INVALID_FILE_ATTRIBUTES) {
      code = (kelos::AttributeWord(attrs) & ATTR_DIRECTORY) ? cDIR_EXISTS : cFILE_EXISTS;
    } else {
      DWORD err = GetLastError();
      if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) {
        return Report(cMSG_GET_ATTRIBUTES, err);
      }
      if (CreateDirectoryA(name, nullptr)) return 0;
      code = GetLastError();
    }
  }
  return Report(cMSG_CREATE, code);
}

unsigned int tOSDIRSYS::Delete() {
  if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("os", 0xC0)) {
    *tLOGMGR::pLogFile << "Deleting directory \"" << GetName() << "\"\n";
    tLOGMGR::End();
  }
  if (RemoveDirectoryA(GetName())) return 0;
  DWORD err = GetLastError();
  if (err == ERROR_DIRECTORY) {
    err = cNOT_A_DIR;
  } else if (err == ERROR_SHARING_VIOLATION) {
    err = cDIR_IN_USE;
  }
  return Report(cMSG_DELETE, err);
}

unsigned int tOSDIRSYS::DeleteFiles(unsigned int flags) {
  tOSDIR list;
  list.SetName(*this);
  unsigned int status = list.Open();
  if (status != 0) return status;
  tDIRFINDINFO entry;
  for (;;) {
    status = list.Read(entry);
    if (status != 0) break;
    if (entry.Kind & ATTR_FILE) {
      tOSFILE file;
      file.SetName(entry.Name);
      status = file.Delete();
    } else if ((entry.Kind & ATTR_DIRECTORY) && (flags & tDIRDEFS::DELETE_SUBDIRS)) {
      tOSDIR sub;
      sub.SetName(entry.Name);
      if (!(list._LastAttributes() & FILE_ATTRIBUTE_REPARSE_POINT)) {
        status = sub.DeleteFiles(flags);
      } else if (flags & tDIRDEFS::DELETE_DIR) {
        // A link leads out of the tree: it goes, what it leads to stays.
        status = sub.Delete();
      }
    }
    if (status != 0) {
      list.Close();
      return status;
    }
  }
  if (status != cSTATUS_NOT_FOUND || list._Missing()) {
    list.Close();
    return status;
  }
  status = list.Close();
  if (status != 0) return status;
  if (flags & tDIRDEFS::DELETE_DIR) return Delete();
  return 0;
}

unsigned int tOSDIRSYS::GetCurrent(tPHYFILENAMEOBJ &name, unsigned int drive) {
  keldirs::tSAVED_CURRENT_DIR *saved = nullptr;
  if (drive != 0) {
    saved = new (std::nothrow) keldirs::tSAVED_CURRENT_DIR;
    if (saved == nullptr) {
      tTHREAD::SetLastError(tERRMSG::OutOfMemory);
      return cSTATUS_FAILURE;
    }
    if (tPHYDRIVE::SetCurrent(drive) != 0) {
      delete saved;
      return cSTATUS_FAILURE;
    }
  }
  char text[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(sizeof text, text);
  DWORD err = n == 0 ? GetLastError() : n >= sizeof text ? ERROR_FILENAME_EXCED_RANGE : NO_ERROR;
  if (saved != nullptr) {
    unsigned int back = saved->Restore();
    delete saved;
    if (back != 0) return cSTATUS_FAILURE;
  }
  if (err != NO_ERROR) return Report(cMSG_CURRENT_DIR, err);
  name.SetName(text);
  // An over-long text is refused by the name, which says so.
  if (name.GetName()[0] == '\0') return cSTATUS_FAILURE;
  keldirs::EndWithPathChar(name);
  return 0;
}

unsigned int tOSDIRSYS::SetCurrent() const {
  const char *name = GetName();
  if (!SetCurrentDirectoryA(name)) return Report(cMSG_CURRENT_DIR, GetLastError());
  if (name[0] != '\0' && name[1] == ':') {
    char c = name[0];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return tPHYDRIVE::SetCurrent(static_cast<unsigned int>(c - 'a' + 1));
  }
  return 0;
}

unsigned int tOSDIRSYS::IsEmpty(int *empty) {
  if (empty != nullptr) *empty = 1;
  tOSDIR list;
  list.SetName(*this);
  unsigned int status = list.Open();
  if (status != 0) return status;
  tDIRFINDINFO entry;
  // The listing reads no further than the first entry. A missing
  // directory is a listing that finds nothing: 1 stays stored and the
  // status is the closing's.
  status = list.Read(entry);
  if (status == 0) {
    if (empty != nullptr) *empty = 0;
  } else if (status != cSTATUS_NOT_FOUND) {
    list.Close();
    return status;
  }
  return list.Close();
}

// ---------------------------------------------------------------------------
// tOSDIR

tOSDIR::tOSDIR() {}
tOSDIR::~tOSDIR() {}
