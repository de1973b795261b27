#include "kelcore/msg/parameter.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <ostream>

#include "kelcore/msg/null_object.h"
#include "kelcore/msg/object_pool.h"
#include "kelcore/msg/printf_conversion.h"

using kelcore_internal::eARGKIND;
using kelcore_internal::IsNull;
using kelcore_internal::ParseSpec;
using kelcore_internal::tCONVERSION;

namespace {

const std::size_t kBufferSize = 1024;

// Each class's identity is the address of one of these.
char g_tag_char, g_tag_short, g_tag_ushort, g_tag_int, g_tag_uint, g_tag_long, g_tag_ulong,
    g_tag_float, g_tag_double, g_tag_ldouble, g_tag_string;

// The conversion spec to use and its parsed conversion: `spec` when its
// conversion suits `kind` (its length modifier is replaced when rendering),
// the class's default conversion otherwise.
const char *ChooseSpec(const char *spec, const char *default_conversion, eARGKIND kind,
                       tCONVERSION *conv) {
  if (spec != nullptr && *spec != 0 && ParseSpec(spec, conv) &&
      kelcore_internal::Suits(*conv, kind)) {
    return spec;
  }
  kelcore_internal::DefaultConversion(default_conversion, conv);
  return default_conversion;
}

// Integer conversions are rendered by the library itself rather than by
// vsnprintf: the output is the same, and it is the hot path of message
// formatting (see bench/message_bench.cpp).
void FormatIntegral(char *buf, const char *spec, const char *default_conversion,
                    unsigned long long bits, eARGKIND kind) {
  tCONVERSION conv;
  const char *format = ChooseSpec(spec, default_conversion, kind, &conv);
  kelcore_internal::RenderInteger(buf, format, conv, bits, kind == kelcore_internal::eARG_LONG);
}

template <typename T>
void FormatFloating(char *buf, const char *spec, const char *default_conversion, T value,
                    eARGKIND kind) {
  tCONVERSION conv;
  const char *format = ChooseSpec(spec, default_conversion, kind, &conv);
  kelcore_internal::RenderFloating(buf, format, conv, value);
}

inline unsigned long long IntBits(int value) {
  return static_cast<unsigned int>(value);
}

}  // namespace

// --- tPARAMETER --------------------------------------------------------------

tPARAMETER::tPARAMETER() : type_tag_(nullptr) {}

tPARAMETER::tPARAMETER(const void *type_tag) : type_tag_(type_tag) {}

tPARAMETER::~tPARAMETER() {}

int tPARAMETER::operator==(const tPARAMETER &other) const {
  if (IsNull(this) || IsNull(&other)) return 0;
  return type_tag_ == other.type_tag_ ? 1 : 0;
}

void *tPARAMETER::operator new(std::size_t size) noexcept {
  return kelcore_internal::PoolAllocate(size);
}

void *tPARAMETER::operator new(std::size_t size, const std::nothrow_t &) noexcept {
  return kelcore_internal::PoolAllocate(size);
}

void tPARAMETER::operator delete(void *p, std::size_t size) { kelcore_internal::PoolFree(p, size); }

void tPARAMETER::operator delete(void *p, const std::nothrow_t &) noexcept {
  // Only reached when a constructor fails; every pooled block is an
  // allocation of its own.
  ::operator delete(p);
}

void tPARAMETER::PrintfFormat(char *buf, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, kBufferSize, format, args);
  va_end(args);
  // Some C runtimes leave the buffer unterminated on truncation, and an
  // encoding error leaves it undefined.
  if (n < 0) buf[0] = 0;
  buf[kBufferSize - 1] = 0;
}

const char *tPARAMETER::ValidSpec(const char *spec, const char *default_conversion) {
  // The conversion goes to printf as it stands, so its length modifier must
  // already be the one the default conversion's argument needs.
  tCONVERSION conv, def;
  if (spec == nullptr || *spec == 0 || !ParseSpec(spec, &conv)) return default_conversion;
  eARGKIND kind = kelcore_internal::ExactKind(conv);
  if (kind == kelcore_internal::eARG_INVALID || !ParseSpec(default_conversion, &def)) {
    return default_conversion;
  }
  return kind == kelcore_internal::ExactKind(def) ? spec : default_conversion;
}

// --- scalar parameters -------------------------------------------------------

#define KELCORE_DEFINE_SCALAR_PARM(CLASS, TYPE, TAG)                      \
  CLASS::CLASS(TYPE value) : tPARAMETER(&TAG), value_(value) {}           \
  CLASS::~CLASS() {}                                                      \
  int CLASS::operator==(const tPARAMETER &other) const {                  \
    if (!tPARAMETER::operator==(other)) return 0;                         \
    return value_ == static_cast<const CLASS &>(other).value_ ? 1 : 0;    \
  }

KELCORE_DEFINE_SCALAR_PARM(tPARM_CHAR, char, g_tag_char)
KELCORE_DEFINE_SCALAR_PARM(tPARM_SHORT, short, g_tag_short)
KELCORE_DEFINE_SCALAR_PARM(tPARM_USHORT, unsigned short, g_tag_ushort)
KELCORE_DEFINE_SCALAR_PARM(tPARM_INT, int, g_tag_int)
KELCORE_DEFINE_SCALAR_PARM(tPARM_UINT, unsigned int, g_tag_uint)
KELCORE_DEFINE_SCALAR_PARM(tPARM_LONG, long, g_tag_long)
KELCORE_DEFINE_SCALAR_PARM(tPARM_ULONG, unsigned long, g_tag_ulong)
KELCORE_DEFINE_SCALAR_PARM(tPARM_FLOAT, float, g_tag_float)
KELCORE_DEFINE_SCALAR_PARM(tPARM_DOUBLE, double, g_tag_double)
KELCORE_DEFINE_SCALAR_PARM(tPARM_LDOUBLE, long double, g_tag_ldouble)

#undef KELCORE_DEFINE_SCALAR_PARM

// A char is shown sign-extended whatever the platform's char signedness, so
// the byte 0xE9 is -23 under "%d" everywhere.
void tPARM_CHAR::Format(char *buf, const char *spec) const {
  FormatIntegral(buf, spec, "%c", IntBits(static_cast<signed char>(value_)),
                 kelcore_internal::eARG_INT);
}

void tPARM_SHORT::Format(char *buf, const char *spec) const {
  FormatIntegral(buf, spec, "%d", IntBits(value_), kelcore_internal::eARG_INT);
}

void tPARM_USHORT::Format(char *buf, const char *spec) const {
  FormatIntegral(buf, spec, "%u", IntBits(value_), kelcore_internal::eARG_INT);
}

void tPARM_INT::Format(char *buf, const char *spec) const {
  FormatIntegral(buf, spec, "%d", IntBits(value_), kelcore_internal::eARG_INT);
}

void tPARM_UINT::Format(char *buf, const char *spec) const {
  FormatIntegral(buf, spec, "%u", value_, kelcore_internal::eARG_INT);
}

void tPARM_LONG::Format(char *buf, const char *spec) const {
  FormatIntegral(buf, spec, "%ld", static_cast<unsigned long>(value_), kelcore_internal::eARG_LONG);
}

void tPARM_ULONG::Format(char *buf, const char *spec) const {
  FormatIntegral(buf, spec, "%lu", value_, kelcore_internal::eARG_LONG);
}

void tPARM_FLOAT::Format(char *buf, const char *spec) const {
  FormatFloating(buf, spec, "%g", static_cast<double>(value_), kelcore_internal::eARG_DOUBLE);
}

void tPARM_DOUBLE::Format(char *buf, const char *spec) const {
  FormatFloating(buf, spec, "%lg", value_, kelcore_internal::eARG_DOUBLE);
}

void tPARM_LDOUBLE::Format(char *buf, const char *spec) const {
  FormatFloating(buf, spec, "%Lg", value_, kelcore_internal::eARG_LONGDOUBLE);
}

// --- tPARM_STRING ------------------------------------------------------------

// The copy comes from the thread's block pool rather than strnew: it never
// leaves the parameter, and most texts of messages are short.
tPARM_STRING::tPARM_STRING(const char *text) : tPARAMETER(&g_tag_string), text_(nullptr) {
  if (text == nullptr) return;
  std::size_t size = std::strlen(text) + 1;
  text_ = kelcore_internal::PoolAllocateText(size);
  if (text_ != nullptr) std::memcpy(text_, text, size);
}

tPARM_STRING::~tPARM_STRING() { kelcore_internal::PoolFreeText(text_); }

void tPARM_STRING::Format(char *buf, const char *spec) const {
  tCONVERSION conv;
  const char *format = ChooseSpec(spec, "%s", kelcore_internal::eARG_STRING, &conv);
  kelcore_internal::RenderString(buf, format, conv, text_);
}

int tPARM_STRING::operator==(const tPARAMETER &other) const {
  if (!tPARAMETER::operator==(other)) return 0;
  const char *theirs = static_cast<const tPARM_STRING &>(other).text_;
  if (text_ == nullptr || theirs == nullptr) return text_ == theirs ? 1 : 0;
  return std::strcmp(text_, theirs) == 0 ? 1 : 0;
}

// --- tPARMLIST ---------------------------------------------------------------

tPARMLIST::~tPARMLIST() {
  while (head_ != nullptr) {
    tNODE *next = head_->next;
    delete head_->parm;
    kelcore_internal::PoolFree(head_, sizeof(tNODE));
    head_ = next;
  }
  count_ = 0;
}

unsigned int tPARMLIST::Add(tPARAMETER *parm) {
  if (IsNull(this)) return 0xFFFFFFFFu;
  tNODE *node = static_cast<tNODE *>(kelcore_internal::PoolAllocate(sizeof(tNODE)));
  if (node == nullptr) return 0xFFFFFFFFu;
  node->next = nullptr;
  node->parm = parm;
  tNODE **link = &head_;
  while (*link != nullptr) link = &(*link)->next;
  *link = node;
  return count_++;
}

const tPARAMETER *tPARMLIST::Get(unsigned int index) const {
  if (IsNull(this) || index >= count_) return nullptr;
  const tNODE *node = head_;
  while (index-- > 0) node = node->next;
  return node->parm;
}

const tPARAMETER &tPARMLIST::operator[](unsigned int index) const {
  // The interface promises a reference with a null address when there is no
  // parameter; the library itself uses Get.
  return *Get(index);
}

unsigned int tPARMLIST::GetItemsInContainer() const { return IsNull(this) ? 0 : count_; }

// --- stream operators --------------------------------------------------------

std::ostream &operator<<(std::ostream &os, const tPARAMETER &parm) {
  if (IsNull(&parm)) return os;
  char buf[kBufferSize];
  parm.Format(buf, nullptr);
  return os << buf;
}

std::ostream &operator<<(std::ostream &os, tPARAMETER *parm) {
  if (parm == nullptr) return os;
  os << *parm;
  delete parm;
  return os;
}
