#include "kelcore/error/os_error.h"

#include <cstring>
#include <new>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/error/util.h"

namespace {

// Rows as the operating-system back ends need them; the library's own codes
// (0xF000...) are listed in both tables because back ends raise them through
// either path.
const tUTIL::tXLATETBL kWin32ToStatus[] = {
    {2, 1},      {3, 1},      {5, 3},      {19, 3},     {32, 3},     {33, 6},
    {80, 2},     {145, 3},    {183, 2},    {18, 1},     {0xF002, 3}, {0xF004, 3},
    {0xF005, 3}, {0xF000, 2}, {0xF006, 3}, {1920, 3}, {0, 0xFFFFFFFFu},
};

const tUTIL::tXLATETBL kErrnoToStatus[] = {
    {2, 1}, {13, 3}, {17, 2}, {4, 5}, {0xF000, 2}, {0xF006, 3}, {0, 0xFFFFFFFFu},
};

// Identities of the two parameter classes (addresses only).
char kErrnoTag;
char kSysErrTag;

// Prints `text` into the 1024-byte `buf` with `spec` (default "%s"). The
// text is cut first so that the literal characters of the conversion spec still fit;
// a spec with a field width is the caller's responsibility.
template <typename PRINT>
void PrintText(char *buf, const char *spec, const char *text, PRINT print) {
  const std::size_t kRoom = 1023;
  const bool has_spec = spec != nullptr && spec[0] != '\0';
  std::size_t limit = kRoom;
  if (has_spec) {
    std::size_t spec_length = std::strlen(spec);
    limit = spec_length < kRoom ? kRoom - spec_length : 0;
  }
  char cut[1024];
  std::size_t n = 0;
  while (n < limit && text[n] != '\0') ++n;
  std::memcpy(cut, text, n);
  cut[n] = '\0';
  print(buf, has_spec ? spec : "%s", cut);
}

}  // namespace

// ----------------------------------------------------------------- tOSERR

unsigned int tOSERR::ToStatus(int code) {
  return tUTIL::Xlate(static_cast<unsigned int>(code), kWin32ToStatus);
}

tMSG *tOSERR::Make(unsigned int msgNo, int code) {
  tMSG *msg = kelos::NewLibraryError(msgNo);
  *msg << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_SYSERR(code));
  return msg;
}

// The CStream module's factory that appends the C library's error
// (module_catalogs.h): defined here, beside tPARM_ERRNO, because the module
// catalogs lie on a lower floor than the error parameters.
tMSG *kelcstream::NewLibraryError(unsigned int msgId, int errnoValue) {
  tMSG *msg = NewLibraryError(msgId);
  *msg << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_ERRNO(errnoValue));
  return msg;
}

// ----------------------------------------------------------------- tERRNO

unsigned int tERRNO::ToStatus(int err) {
  return tUTIL::Xlate(static_cast<unsigned int>(err), kErrnoToStatus);
}

// ------------------------------------------------------------ tPARM_ERRNO

tPARM_ERRNO::tPARM_ERRNO(int err) : tPARAMETER(&kErrnoTag), value_(err) {}
tPARM_ERRNO::~tPARM_ERRNO() {}

void tPARM_ERRNO::Format(char *buf, const char *spec) const {
  tMSG *msg = new (std::nothrow) kelos::tLIBMSG1(value_);
  if (msg == nullptr) msg = &tERRMSG::OutOfMemory;
  // A spec that is not a valid text conversion falls back to "%s" rather
  // than reach printf with an argument it does not expect.
  PrintText(buf, spec && *spec ? ValidSpec(spec, "%s") : spec, msg->Format(), PrintfFormat);
  tMSG::Dispose(msg);
}

int tPARM_ERRNO::operator==(const tPARAMETER &other) const {
  if (!tPARAMETER::operator==(other)) return 0;
  return static_cast<const tPARM_ERRNO &>(other).value_ == value_;
}

// ----------------------------------------------------------- tPARM_SYSERR

tPARM_SYSERR::tPARM_SYSERR(int code) : tPARAMETER(&kSysErrTag), value_(code) {}
tPARM_SYSERR::~tPARM_SYSERR() {}

void tPARM_SYSERR::Format(char *buf, const char *spec) const {
  tMSG *msg = new (std::nothrow) kelos::tLIBMSG2(value_);
  if (msg == nullptr) msg = &tERRMSG::OutOfMemory;
  // A spec that is not a valid text conversion falls back to "%s" rather
  // than reach printf with an argument it does not expect.
  PrintText(buf, spec && *spec ? ValidSpec(spec, "%s") : spec, msg->Format(), PrintfFormat);
  tMSG::Dispose(msg);
}

int tPARM_SYSERR::operator==(const tPARAMETER &other) const {
  if (!tPARAMETER::operator==(other)) return 0;
  return static_cast<const tPARM_SYSERR &>(other).value_ == value_;
}
