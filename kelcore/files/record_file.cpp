#include "kelcore/files/record_file.h"

#include <climits>
#include <cstring>

#include "kelcore/system/os_calls.h"
#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/text/nls_string.h"

char const *const cREC_VERSION = "A.01.00";
char const *const tRECFILE::cID_TERMINATOR = "\r\n\x1A";

namespace {

// REC set-0 messages.
enum {
  cMSG_ID = 1,
  cMSG_MALFORMED = 2,
  cMSG_TOO_LONG = 3,
  cMSG_TOO_SHORT = 4,
  cMSG_LAYOUT = 5,
  cMSG_FORMAT = 6,
  cMSG_VERSION = 7,
  cMSG_RESERVED = 8,
  cMSG_NOT_FOUND = 9
};

const unsigned int cMISMATCH = 7;
const unsigned int cEND_OF_FILE = 4;
const unsigned int cFAILURE = 0xFFFFFFFFu;
const unsigned int cHEADER = 8;
const unsigned int cFIELD = 8;  // each field of the version record

// Byte by byte, so that files are the same from any host.
void PutLE(unsigned char *p, unsigned int v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

unsigned int GetLE(const unsigned char *p) {
  return static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8 |
         static_cast<unsigned int>(p[2]) << 16 | static_cast<unsigned int>(p[3]) << 24;
}

void PutHeader(unsigned char *p, unsigned int type, unsigned int length) {
  PutLE(p, type);
  PutLE(p + 4, length);
}

// Up to 7 characters and zeros to the end of the field.
void CopyField(char *field, char const *text) {
  std::size_t n = 0;
  while (n < cFIELD - 1 && text[n] != '\0') {
    field[n] = text[n];
    ++n;
  }
  std::memset(field + n, 0, cFIELD - n);
}

int Writable(char const *id) {
  return id != nullptr && std::strlen(id) <= tRECFILE::cMAX_ID_LENGTH &&
         std::strchr(id, '\r') == nullptr;
}

}  // namespace

tRECFILE::tRECFILE(tPHYSICAL_FILE *file, int own) : tBINFILE(file, own) { Init(); }
tRECFILE::tRECFILE(tPHYSICAL_FILE &file, int own) : tBINFILE(file, own) { Init(); }
tRECFILE::~tRECFILE() { delete[] id_; }

void tRECFILE::Init() {
  id_ = nullptr;
  std::memset(formatVersion_, 0, sizeof formatVersion_);
  std::memset(version_, 0, sizeof version_);
}

// --- configuration -------------------------------------------------------------

unsigned int tRECFILE::SetId(char const *id) {
  delete[] id_;
  id_ = strnew(id);
  if (id_ != nullptr) return 0;
  tTHREAD::SetLastError(tERRMSG::OutOfMemory);
  return cFAILURE;
}

unsigned int tRECFILE::SetFile(char const *name, char const *id, char const *version,
                               char const *formatVersion) {
  tOBJECT_LOCK hold(*this);
  SetName(name);
  return Configure(id, version, formatVersion);
}

unsigned int tRECFILE::SetFile(tPHYFILENAMEOBJ const &name, char const *id, char const *version,
                               char const *formatVersion) {
  tOBJECT_LOCK hold(*this);
  SetName(name);
  return Configure(id, version, formatVersion);
}

unsigned int tRECFILE::Configure(char const *id, char const *version, char const *formatVersion) {
  unsigned int status = id != nullptr ? SetId(id) : 0;
  if (formatVersion != nullptr) CopyField(formatVersion_, formatVersion);
  if (version != nullptr) CopyField(version_, version);
  return status;
}

char const *tRECFILE::GetId() const { return id_; }
void tRECFILE::GetId(char const **id) const {
  if (id != nullptr) *id = id_;
}

void tRECFILE::GetVersion(char *formatVersion, char *version) const {
  if (formatVersion != nullptr) std::memcpy(formatVersion, formatVersion_, cFIELD);
  if (version != nullptr) std::memcpy(version, version_, cFIELD);
}

// --- messages --------------------------------------------------------------------

tMSG &tRECFILE::AddErrorContext(tMSG *msg) const {
  tMSG &m = tLOGICAL_FILE::AddErrorContext(msg);
  m << id_ << cREC_VERSION << formatVersion_ << version_;
  return m;
}

unsigned int tRECFILE::Raise(unsigned int msgNo, unsigned int status, tMSG *cause) {
  tMSG &m = AddErrorContext(kelrec::NewLibraryError(msgNo));
  if (cause != nullptr) m << cause;
  tTHREAD::SetLastError(m);
  return status;
}

unsigned int tRECFILE::RaiseWith(unsigned int msgNo, unsigned int status, char const *parm) {
  tTHREAD::SetLastError(AddErrorContext(kelrec::NewLibraryError(msgNo)) << parm);
  return status;
}

// --- opening ---------------------------------------------------------------------

unsigned int tRECFILE::CloseAfter(unsigned int status) {
  tMSG *why = tTHREAD::TakeOwnershipOfLastError();
  Close();
  tTHREAD::SetLastError(why);
  return status;
}

unsigned int tRECFILE::CommonOpen() {
  unsigned int status = id_ != nullptr ? CheckId() : 0;
  if (status == 0 && (formatVersion_[0] != '\0' || version_[0] != '\0')) status = CheckVersion();
  return status;
}

unsigned int tRECFILE::DispatchOpen(unsigned int access, unsigned int share) {
  unsigned int status = tLOGICAL_FILE::OpenExisting(access, share);
  if (status != 0) return status;
  status = CommonOpen();
  return status != 0 ? CloseAfter(status) : 0;
}

unsigned int tRECFILE::DispatchCreate(int how, unsigned int access, unsigned int share,
                                      unsigned int attributes) {
  // Refused before the file is touched: creating would already have
  // emptied an existing file.
  if (id_ != nullptr && !Writable(id_)) return Raise(cMSG_MALFORMED, cFAILURE);
  unsigned int status = how == 1   ? tLOGICAL_FILE::OpenAlways(access, share, attributes)
                        : how == 2 ? tLOGICAL_FILE::Create(access, share, attributes)
                                   : tLOGICAL_FILE::CreateNew(access, share, attributes);
  if (status != 0) return status;
  if (id_ != nullptr) status = WriteId(nullptr);
  if (status == 0 && (formatVersion_[0] != '\0' || version_[0] != '\0')) {
    status = WriteVersion(nullptr, nullptr);
  }
  return status != 0 ? CloseAfter(status) : 0;
}

unsigned int tRECFILE::OpenExisting(unsigned int access, unsigned int share) {
  return DispatchOpen(access, share);
}
unsigned int tRECFILE::OpenAlways(unsigned int access, unsigned int share,
                                  unsigned int attributes) {
  return DispatchCreate(1, access, share, attributes);
}
unsigned int tRECFILE::Create(unsigned int access, unsigned int share, unsigned int attributes) {
  return DispatchCreate(2, access, share, attributes);
}
unsigned int tRECFILE::CreateNew(unsigned int access, unsigned int share,
                                 unsigned int attributes) {
  return DispatchCreate(3, access, share, attributes);
}

// --- identification --------------------------------------------------------------

unsigned int tRECFILE::WriteStr(char const *text) {
  return Write(text, static_cast<unsigned long>(std::strlen(text)), nullptr);
}

unsigned int tRECFILE::GetNextChar(char *c) { return Read(c, 1, nullptr); }

unsigned int tRECFILE::WriteId(char const *id) {
  if (id != nullptr) {
    unsigned int status = SetId(id);
    if (status != 0) return status;
  }
  // An identification that could not be read back would make the file
  // unreadable: refuse it before writing anything.
  if (!Writable(id_)) return Raise(cMSG_MALFORMED, cFAILURE);
  unsigned int status = WriteStr(id_);
  return status != 0 ? status : WriteStr(cID_TERMINATOR);
}

unsigned int tRECFILE::ReadId(char *buf) {
  unsigned int n = 0;
  unsigned int status;
  char c = 0;
  for (;;) {
    status = GetNextChar(&c);
    if (status != 0 || c == '\r' || c == '\0' || n == cMAX_ID_LENGTH) break;
    if (buf != nullptr) buf[n] = c;
    ++n;
  }
  if (buf != nullptr) buf[n] = '\0';
  if (status == cEND_OF_FILE) {
    // Nothing at all: the end of the data, which readers of concatenated
    // files look for. The read's own message says so.
    return n == 0 ? status : Raise(cMSG_MALFORMED, cFAILURE);
  }
  if (status != 0) return Raise(cMSG_MALFORMED, cFAILURE, tTHREAD::TakeOwnershipOfLastError());
  if (c != '\r') return Raise(cMSG_MALFORMED, cFAILURE);  // a NUL, or a 128th character
  return CheckTerminator();
}

unsigned int tRECFILE::CheckTerminator() {
  for (int i = 1; i < 3; ++i) {
    char c = 0;
    unsigned int status = GetNextChar(&c);
    if (status == cEND_OF_FILE || (status == 0 && c != cID_TERMINATOR[i])) {
      return Raise(cMSG_MALFORMED, cFAILURE);
    }
    if (status != 0) return status;
  }
  return 0;
}

unsigned int tRECFILE::CheckId() {
  char read[cMAX_ID_LENGTH + 1];
  unsigned int status = ReadId(read);
  if (status != 0) return status;
  return std::strcmp(read, id_) == 0 ? 0 : RaiseWith(cMSG_ID, cMISMATCH, read);
}

// --- versions ----------------------------------------------------------------------

unsigned int tRECFILE::WriteVersion(char const *formatVersion, char const *version) {
  if (formatVersion != nullptr) CopyField(formatVersion_, formatVersion);
  if (version != nullptr) CopyField(version_, version);
  unsigned char rec[cHEADER + 3 * cFIELD];
  PutHeader(rec, cVERSION_TYPE, 3 * cFIELD);
  CopyField(reinterpret_cast<char *>(rec + cHEADER), cREC_VERSION);
  std::memcpy(rec + cHEADER + cFIELD, formatVersion_, cFIELD);
  std::memcpy(rec + cHEADER + 2 * cFIELD, version_, cFIELD);
  return Write(rec, sizeof rec, nullptr);
}

unsigned int tRECFILE::ReadVersion(char *formatVersion, char *version) {
  char body[3 * cFIELD];
  unsigned int type = 0;
  unsigned int status = ReadRec(body, sizeof body, &type, nullptr);
  if (status != 0) return status;
  if (type != cVERSION_TYPE) return Raise(cMSG_MALFORMED, cFAILURE);
  // Each field holds its text and a NUL; what follows the NUL is ignored.
  for (unsigned int f = 0; f < 3; ++f) {
    if (std::memchr(body + f * cFIELD, '\0', cFIELD) == nullptr) {
      return Raise(cMSG_MALFORMED, cFAILURE);
    }
  }
  if (!tVERSION::Match(body, cREC_VERSION)) return RaiseWith(cMSG_LAYOUT, cMISMATCH, body);
  if (formatVersion != nullptr) CopyField(formatVersion, body + cFIELD);
  if (version != nullptr) CopyField(version, body + 2 * cFIELD);
  return 0;
}

unsigned int tRECFILE::CheckVersion() {
  char formatVersion[cFIELD];
  char version[cFIELD];
  unsigned int status = ReadVersion(formatVersion, version);
  if (status != 0) return status;
  if (formatVersion_[0] != '\0' && !tVERSION::Match(formatVersion_, formatVersion)) {
    return RaiseWith(cMSG_FORMAT, cMISMATCH, formatVersion);
  }
  if (version_[0] != '\0' && !tVERSION::Match(version_, version)) {
    return RaiseWith(cMSG_VERSION, cMISMATCH, version);
  }
  return 0;
}

// --- records --------------------------------------------------------------------------

unsigned int tRECFILE::WriteHeader(unsigned int type, unsigned int length) {
  if (type == cVERSION_TYPE) return Raise(cMSG_RESERVED, cFAILURE);
  unsigned char header[cHEADER];
  PutHeader(header, type, length);
  return Write(header, cHEADER, nullptr);
}

unsigned int tRECFILE::ReadHeaderBytes(unsigned int *type, unsigned int *length,
                                       unsigned long *got) {
  unsigned char header[cHEADER];
  unsigned int status = Read(header, cHEADER, got);
  if (status == 0 && *got == cHEADER) {
    if (type != nullptr) *type = GetLE(header);
    if (length != nullptr) *length = GetLE(header + 4);
  }
  return status;
}

unsigned int tRECFILE::ReadHeader(unsigned int *type, unsigned int *length) {
  unsigned long got = 0;
  unsigned int status = ReadHeaderBytes(type, length, &got);
  if (status != 0) return status;
  return got == cHEADER ? 0 : Raise(cMSG_MALFORMED, cFAILURE);
}

unsigned int tRECFILE::WriteRec(void const *data, unsigned int type, unsigned int length) {
  tOBJECT_LOCK hold(*this);
  // A small record goes out in one write: half the calls for the same bytes.
  unsigned char rec[256];
  if (type != cVERSION_TYPE && length <= sizeof rec - cHEADER) {
    PutHeader(rec, type, length);
    if (length != 0) std::memcpy(rec + cHEADER, data, length);
    return Write(rec, cHEADER + length, nullptr);
  }
  unsigned int status = WriteHeader(type, length);
  if (status != 0 || length == 0) return status;
  return Write(data, length, nullptr);
}

unsigned int tRECFILE::ReadRec(void *buf, unsigned int size, unsigned int *type,
                               unsigned int *length) {
  tOBJECT_LOCK hold(*this);
  unsigned int t = 0;
  unsigned int len = 0;
  unsigned int status = ReadHeader(&t, &len);
  if (status != 0) return status;
  if (type != nullptr) *type = t;
  const unsigned int want = size < len ? size : len;
  unsigned long got = 0;
  status = Read(buf, want, &got);
  if (status != 0) return status;
  if (got < want) return Raise(cMSG_MALFORMED, cFAILURE);
  if (size < len) {
    // Past the rest of the body. A body that would end beyond the end of
    // the file was cut short: say so rather than hand out a part.
    const unsigned long rest = len - size;
    unsigned long pos = 0;
    unsigned long fileSize = 0;
    if (rest > static_cast<unsigned long>(LONG_MAX)) return Raise(cMSG_MALFORMED, cFAILURE);
    status = Seek(tFILEDEFS::SEEK_FROM_CURRENT, static_cast<long>(rest), &pos);
    if (status == 0) status = GetSize(&fileSize);
    if (status != 0) return status;
    if (pos > fileSize) return Raise(cMSG_MALFORMED, cFAILURE);
    if (length != nullptr) *length = len;
    return Raise(cMSG_TOO_LONG, 8);
  }
  if (length != nullptr) *length = len;
  return size == len ? 0 : Raise(cMSG_TOO_SHORT, 9);
}

unsigned int tRECFILE::FindRec(unsigned int type) {
  unsigned long p = 0;
  unsigned int status = GetPos(&p);
  while (status == 0) {
    unsigned int t = 0;
    unsigned int len = 0;
    unsigned long got = 0;
    status = ReadHeaderBytes(&t, &len, &got);
    if (status != 0) return status;
    if (got == 0) {
      // The end where a header should begin; beyond the end of the file,
      // the record before was cut short.
      unsigned long fileSize = 0;
      status = GetSize(&fileSize);
      if (status != 0) return status;
      if (p > fileSize) return Raise(cMSG_MALFORMED, cFAILURE);
      tTHREAD::SetLastError(AddErrorContext(kelrec::NewLibraryError(cMSG_NOT_FOUND)) << type);
      return 1;
    }
    if (got < cHEADER) return Raise(cMSG_MALFORMED, cFAILURE);
    if (t == type) return Seek(tFILEDEFS::SEEK_FROM_START, static_cast<long>(p), nullptr);
    const unsigned long next = p + cHEADER + len;
    // No position can lie there: a corrupt length, not a record.
    if (next < p || next > static_cast<unsigned long>(LONG_MAX)) {
      return Raise(cMSG_MALFORMED, cFAILURE);
    }
    p = next;
    status = Seek(tFILEDEFS::SEEK_FROM_START, static_cast<long>(p), nullptr);
  }
  return status;
}
