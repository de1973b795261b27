#include "kelcore/msg/message.h"

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <new>

#include "kelcore/msg/format_into.h"
#include "kelcore/msg/null_object.h"
#include "kelcore/msg/object_pool.h"
#include "kelcore/platform/thread_exit.h"

using kelcore_internal::IsNull;

namespace {

const std::size_t kBufferSize = 1024;
const std::size_t kRoom = kBufferSize - 1;
const std::size_t kMaxSpec = 15;

// Id strings are compared by address, so each is one object.
const char kOutOfMemoryText[] = "Out of memory";
const char kOutOfMemoryId[] = "Out of memory object";
const char kTraceId[] = "Block trace log message";
const char kNullMessageText[] = "<NULL> message";
const char kNullParameterText[] = "NULL";

// The working buffer holds the 1023 characters of the text plus room for one
// parameter's full 1024-byte text after them, so that parameters format in
// place instead of through a scratch buffer and a copy; what lies past 1023
// characters is dropped afterwards.
const std::size_t kWorkSize = kRoom + kBufferSize;

static_assert(kWorkSize == kelcore_internal::kFormatWorkSize, "one working size");

// Parameters given as an array (FormatInto) rather than a message's list.
struct tPARMARRAY {
  const tPARAMETER *const *parms;
  unsigned int count;
  const tPARAMETER *Get(unsigned int index) const { return index < count ? parms[index] : nullptr; }
};

// Expands `format` into `buf` (kWorkSize bytes); the length of the text.
// Scans by hand rather than with strchr and strlen: message texts are
// short, and a library call per piece costs more than the scan. `parms` is
// a tPARMLIST or a tPARMARRAY.
template <class PARMS>
std::size_t Expand(char *buf, const char *format, const PARMS &parms) {
  std::size_t pos = 0;
  const char *p = format;
  for (;;) {
    while (*p != 0 && *p != '%') {
      if (pos < kRoom) buf[pos++] = *p;
      ++p;
    }
    if (*p == 0) break;
    char c = p[1];
    if (c == 0) break;  // a trailing '%' ends the text
    p += 2;
    if (c < '0' || c > '9') {
      if (pos < kRoom) buf[pos++] = c;
      continue;
    }

    char spec[kMaxSpec + 1];
    const char *spec_arg = nullptr;
    if (*p == '\'') {
      std::size_t k = 0;
      for (++p; *p != 0 && *p != '\''; ++p) {
        if (k < kMaxSpec) spec[k++] = *p;
      }
      spec[k] = 0;
      spec_arg = spec;
      if (*p == '\'') ++p;
    }

    const tPARAMETER *parm = parms.Get(static_cast<unsigned int>(c - '0'));
    char *field = buf + pos;
    if (parm == nullptr) {
      std::memcpy(field, kNullParameterText, sizeof kNullParameterText);
    } else {
      field[0] = 0;
      parm->Format(field, spec_arg);
      field[kRoom] = 0;  // in case a parameter class overran its text
    }
    std::size_t len = std::strlen(field);
    pos += len < kRoom - pos ? len : kRoom - pos;
  }
  buf[pos] = 0;
  return pos;
}

// The formatted-text cache of a message: like the static Format, but in a
// block of the thread's pool, as it never leaves the message; null without
// memory.
char *FormatCached(const char *format, const tPARMLIST &parms) {
  char text[kWorkSize];
  std::size_t len = Expand(text, format != nullptr ? format : "", parms);
  char *result = kelcore_internal::PoolAllocateText(len + 1);
  if (result != nullptr) std::memcpy(result, text, len + 1);
  return result;
}

}  // namespace

std::size_t kelcore_internal::FormatInto(char *buf, const char *format,
                                         const tPARAMETER *const *parms, unsigned int count) {
  tPARMARRAY array = {parms, count};
  return Expand(buf, format != nullptr ? format : "", array);
}

namespace {

// Guards the formatted-text cache of static messages, which any thread may
// format at the same time.
std::mutex &StaticFormatLock() {
  static std::mutex lock;
  // Held across fork(), so that the child never inherits it locked.
  static const bool heldAcrossFork =
      (kelsys::HoldAcrossFork(
           kelsys::kForkStaticFormat, [] { lock.lock(); }, [] { lock.unlock(); },
           [] { lock.unlock(); }),
       true);
  (void)heldAcrossFork;
  return lock;
}

}  // namespace

// --- tMSG --------------------------------------------------------------------

tMSG::~tMSG() {
  // static_ stays as it is: the class-level operator delete reads it after
  // the destructor has run.
  kelcore_internal::PoolFreeText(formatted_);
  formatted_ = nullptr;
}

int tMSG::operator==(const tMSG &other) const {
  if (IsNull(this) || IsNull(&other)) return 0;
  if (id_string_ != other.id_string_ || severity_ != other.severity_) return 0;
  unsigned int n = parms_.GetItemsInContainer();
  if (n != other.parms_.GetItemsInContainer()) return 0;
  for (unsigned int i = 0; i < n; ++i) {
    const tPARAMETER *mine = parms_.Get(i);
    const tPARAMETER *theirs = other.parms_.Get(i);
    // Null parameters (from failed allocations) equal only each other.
    if (mine == nullptr || theirs == nullptr) {
      if (mine != theirs) return 0;
    } else if (!mine->operator==(*theirs)) {
      return 0;
    }
  }
  return 1;
}

unsigned int tMSG::NumParms() const { return IsNull(this) ? 0 : parms_.GetItemsInContainer(); }

tMSG::eSEVERITY tMSG::GetSeverity() const { return IsNull(this) ? eINFORMATION : severity_; }

const char *tMSG::GetIdString() const { return IsNull(this) ? nullptr : id_string_; }

const char *tMSG::GetText() {
  if (IsNull(this)) return kNullMessageText;
  return GetFormatStr();
}

const char *tMSG::Format() {
  if (IsNull(this)) return kNullMessageText;
  if (static_) {
    // A static message never holds parameters; without a '%' its text is
    // already its formatted text, and returning it needs no memory, which
    // matters most for the out-of-memory message.
    const char *text = GetText();
    if (text == nullptr || std::strchr(text, '%') == nullptr) {
      return text != nullptr ? text : "";
    }
    std::lock_guard<std::mutex> hold(StaticFormatLock());
    if (formatted_ == nullptr) formatted_ = FormatCached(text, parms_);
    return formatted_ != nullptr ? formatted_ : tERRMSG::OutOfMemoryStr;
  }
  if (formatted_ != nullptr) return formatted_;
  const char *text = GetText();
  // A catalog message whose text could not be built for lack of memory
  // hands out the out-of-memory text itself; keeping it would stop the
  // next call from trying again.
  if (text == tERRMSG::OutOfMemoryStr) return text;
  formatted_ = FormatCached(text, parms_);
  return formatted_ != nullptr ? formatted_ : tERRMSG::OutOfMemoryStr;
}

const tPARAMETER &tMSG::operator[](unsigned int index) const {
  const tPARAMETER *parm = IsNull(this) ? nullptr : parms_.Get(index);
  // The interface promises a reference with a null address when there is no
  // parameter; callers test &msg[i].
  return *parm;
}

tMSG &tMSG::operator<<(tPARAMETER *parm) {
  if (IsNull(this) || static_) {
    delete parm;
    return *this;
  }
  // Without room in the list the parameter is dropped: nobody else owns it.
  if (parms_.Add(parm) == 0xFFFFFFFFu) delete parm;
  return *this;
}

#define KELCORE_DEFINE_STREAM_OP(ARG, CLASS, CAST)                           \
  tMSG &tMSG::operator<<(ARG value) {                                        \
    return *this << static_cast<tPARAMETER *>(new (std::nothrow) CLASS(CAST(value))); \
  }

KELCORE_DEFINE_STREAM_OP(char, tPARM_CHAR, )
KELCORE_DEFINE_STREAM_OP(signed char, tPARM_CHAR, static_cast<char>)
KELCORE_DEFINE_STREAM_OP(unsigned char, tPARM_CHAR, static_cast<char>)
KELCORE_DEFINE_STREAM_OP(short, tPARM_SHORT, )
KELCORE_DEFINE_STREAM_OP(unsigned short, tPARM_USHORT, )
KELCORE_DEFINE_STREAM_OP(int, tPARM_INT, )
KELCORE_DEFINE_STREAM_OP(unsigned int, tPARM_UINT, )
KELCORE_DEFINE_STREAM_OP(long, tPARM_LONG, )
KELCORE_DEFINE_STREAM_OP(unsigned long, tPARM_ULONG, )
KELCORE_DEFINE_STREAM_OP(float, tPARM_FLOAT, )
KELCORE_DEFINE_STREAM_OP(double, tPARM_DOUBLE, )
KELCORE_DEFINE_STREAM_OP(long double, tPARM_LDOUBLE, )

#undef KELCORE_DEFINE_STREAM_OP

tMSG &tMSG::operator<<(const char *text) {
  tPARM_STRING *parm = new (std::nothrow) tPARM_STRING(text);
  if (parm != nullptr && text != nullptr && parm->Value() == nullptr) {
    // The copy of the text failed: show "NULL" rather than a null text.
    delete parm;
    parm = nullptr;
  }
  return *this << static_cast<tPARAMETER *>(parm);
}

tMSG &tMSG::operator<<(tMSG *adopted) {
  tPARM_MSG *parm = new (std::nothrow) tPARM_MSG(adopted);
  // The message was handed over: with no parameter to own it, it goes.
  if (parm == nullptr) Dispose(adopted);
  return *this << static_cast<tPARAMETER *>(parm);
}

tMSG &tMSG::operator<<(tMSG &borrowed) {
  return *this << static_cast<tPARAMETER *>(new (std::nothrow) tPARM_MSG(borrowed));
}

char *tMSG::Format(const char *format, const tPARMLIST &parms) {
  // The text is expanded on the stack, which lets parameters format in place
  // (see kWorkSize), and then copied to the heap at its exact length. Only
  // when that copy cannot be made is a full 1024-byte buffer tried, as the
  // working buffer that the text would otherwise have been built in; without
  // either the result is null.
  char text[kWorkSize];
  std::size_t len = Expand(text, format != nullptr ? format : "", parms);
  char *result = new (std::nothrow) char[len + 1];
  if (result == nullptr) result = new (std::nothrow) char[kBufferSize];
  if (result != nullptr) std::memcpy(result, text, len + 1);
  return result;
}

char *tMSG::Format(const char *format, unsigned int count, ...) {
  tPARMLIST parms;
  va_list args;
  va_start(args, count);
  for (unsigned int i = 0; i < count; ++i) {
    tPARAMETER *parm = va_arg(args, tPARAMETER *);
    // Keep the numbering: a parameter the list cannot take leaves a gap
    // that shows as "NULL" rather than shifting the later ones.
    if (parms.Add(parm) == 0xFFFFFFFFu) {
      delete parm;
      if (parms.Add(nullptr) == 0xFFFFFFFFu) {
        // No node even for a placeholder entry: release the rest.
        for (++i; i < count; ++i) delete va_arg(args, tPARAMETER *);
      }
    }
  }
  va_end(args);
  return Format(format, parms);
}

void tMSG::Dispose(tMSG *msg) {
  if (msg == nullptr || msg->static_) return;
  delete msg;
}

void *tMSG::operator new(std::size_t size) noexcept { return kelcore_internal::PoolAllocate(size); }

void *tMSG::operator new(std::size_t size, const std::nothrow_t &) noexcept {
  return kelcore_internal::PoolAllocate(size);
}

void tMSG::operator delete(void *p, std::size_t size) {
  if (p == nullptr) return;
  // Read through volatile: the object's lifetime has ended and the compiler
  // may otherwise treat its fields as dead.
  const volatile int *is_static = &static_cast<tMSG *>(p)->static_;
  if (*is_static == 0) kelcore_internal::PoolFree(p, size);
}

void tMSG::operator delete(void *p, const std::nothrow_t &) noexcept {
  // Only reached when a constructor fails, before any flag was set. The
  // size is not known here, but every pooled block is an allocation of its
  // own.
  ::operator delete(p);
}

int tMSG::UseThreadPool(int on) { return kelcore_internal::UseThreadPool(on); }

const char *tMSG::GetDefaultMsg() { return nullptr; }

// --- tMSGSTR, tTRACEMSG ------------------------------------------------------

tMSGSTR::tMSGSTR(const char *format, const char *id_string, eSEVERITY severity)
    : tMSG(id_string, severity, 0), format_(format) {}

tMSGSTR::~tMSGSTR() {}

const char *tMSGSTR::GetFormatStr() { return format_; }

tTRACEMSG::tTRACEMSG(const char *format) : tMSGSTR(format, kTraceId, eINFORMATION) {}

tTRACEMSG::~tTRACEMSG() {}

// --- tERRMSG -----------------------------------------------------------------

const char *const tERRMSG::OutOfMemoryStr = kOutOfMemoryText;

// Constant-initialised (the constructors are constexpr): it exists before
// any constructor of another library object could need it.
tMSGSTR tERRMSG::OutOfMemory(kOutOfMemoryText, kOutOfMemoryId, tMSG::eERROR, 1);
