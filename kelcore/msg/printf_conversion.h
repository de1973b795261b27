// Internal to the library (not exported): checking printf specs from message
// texts, and rendering them with a parameter's value.
//
// A spec meets a value of a type it knows nothing about: catalog texts are
// written for systems where int and long are one size, so "%08X" may come
// with an unsigned long and "%ld" with an int. A spec is used only after
// ParseSpec has found exactly one well-formed conversion whose character
// suits the value's class (Suits); its length modifier is then replaced by
// the one the value's type needs, so the value prints whole. The library
// renders integer and text conversions itself; floating ones go through
// snprintf with the rewritten conversion.
#ifndef KELCORE_MSG_PRINTF_CONVERSION_H
#define KELCORE_MSG_PRINTF_CONVERSION_H

namespace kelcore_internal {

// The argument type a value is handed over as.
enum eARGKIND {
  eARG_INVALID = 0,
  eARG_INT,         // int after promotion
  eARG_LONG,        // long
  eARG_DOUBLE,      // double (float is promoted)
  eARG_LONGDOUBLE,  // long double
  eARG_STRING       // const char *
};

enum {
  kFLAG_MINUS = 1,
  kFLAG_PLUS = 2,
  kFLAG_SPACE = 4,
  kFLAG_HASH = 8,
  kFLAG_ZERO = 16
};

// The largest width or precision a spec may ask for: a wider field could not
// fit the 1023 characters of a formatted text anyway.
const int kMaxField = 1023;

struct tCONVERSION {
  const char *begin;  // the conversion's '%'
  const char *end;    // one past its conversion character
  unsigned flags;     // kFLAG_*
  int width;          // -1 when absent
  int precision;      // -1 when absent
  // As written: 0, 'H' (hh), 'h', 'l', 'q' (ll), 'L', 'j', 'z', 't' or 'I'
  // (I, I32 or I64 of Windows texts).
  char length;
  char type;  // the conversion character
};

// True when `format` holds exactly one well-formed conversion (described in
// `*conv`) and nothing that could do harm: no %n, '*', '$', second
// conversion, flag C leaves undefined for it, or width or precision beyond
// kMaxField. Whether its character suits a value is Suits' affair.
bool ParseSpec(const char *format, tCONVERSION *conv);

// True when the conversion can show a value handed over as `kind`: d i o u x
// X c for integers, f F e E g G a A for floating values, s for texts. The
// length modifier plays no part: rendering puts the right one in its place,
// except that h and hh keep C's meaning for integers (the value narrowed to
// short or char before it is shown).
bool Suits(const tCONVERSION &conv, eARGKIND kind);

// The argument type printf itself would read for the conversion as written;
// eARG_INVALID where C leaves it undefined or the type differs between
// systems. For specs handed to printf unchanged (tPARAMETER::ValidSpec).
eARGKIND ExactKind(const tCONVERSION &conv);

// Describes a class's default conversion ("%d", "%lu", "%s", ...: a '%',
// an optional 'l' or 'L' and the conversion character) without checking it.
void DefaultConversion(const char *format, tCONVERSION *conv);

// Render `format` (checked, its conversion suiting integers) into a
// 1024-byte buffer. `bits` is the value as printf would receive it: an int
// or a long, zero-extended; the conversion decides on signedness. Output is
// byte for byte what vsnprintf gives for the conversion with the length
// modifier of the value's type (h and hh kept), cut to 1023 characters.
void RenderInteger(char *buf, const char *format, const tCONVERSION &conv,
                   unsigned long long bits, bool is_long);

// Render `format` (checked, its conversion suiting texts) with `text` (a null
// text shows as "(null)").
void RenderString(char *buf, const char *format, const tCONVERSION &conv, const char *text);

// Render `format` (checked, its conversion suiting floating values) with
// `value`, through snprintf with the length modifier of the value's type.
void RenderFloating(char *buf, const char *format, const tCONVERSION &conv, double value);
void RenderFloating(char *buf, const char *format, const tCONVERSION &conv, long double value);

}  // namespace kelcore_internal

#endif  // KELCORE_MSG_PRINTF_CONVERSION_H
