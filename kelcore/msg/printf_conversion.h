// Internal to the library (not exported): checking printf specs from message
// texts, and rendering the integer and text conversions without vsnprintf.
//
// A spec reaches printf together with a value of a type it knows
// nothing about, so a spec is only used after ParseSpec has found exactly one
// conversion that suits that type (the rules are in parameter.h).
#ifndef KELCORE_MSG_PRINTF_CONVERSION_H
#define KELCORE_MSG_PRINTF_CONVERSION_H

namespace kelcore_internal {

// The argument type a conversion consumes.
enum eARGKIND {
  eARG_INVALID = 0,
  eARG_INT,         // int after promotion: %d %i %o %u %x %X %c (none, h, hh)
  eARG_LONG,        // long: %ld %lu ...
  eARG_DOUBLE,      // double: %f %F %e %E %g %G %a %A (none or l)
  eARG_LONGDOUBLE,  // long double: %Lg ...
  eARG_STRING       // const char *: %s
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
  char length;        // 0, 'H' (hh), 'h', 'l' or 'L'
  char type;          // the conversion character
};

// The argument type that `format` converts, with its one conversion described
// in `*conv`; eARG_INVALID when the format does not pass the check.
eARGKIND ParseSpec(const char *format, tCONVERSION *conv);

// Describes a class's default conversion ("%d", "%lu", "%s", ...: a '%',
// an optional 'l' or 'L' and the conversion character) without checking it.
void DefaultConversion(const char *format, tCONVERSION *conv);

// Render `format` (already checked, of kind eARG_INT or eARG_LONG) into a
// 1024-byte buffer. `bits` is the value as printf would receive it: an int
// or a long, zero-extended; the conversion decides on signedness. Output is
// byte for byte what vsnprintf gives, cut to 1023 characters.
void RenderInteger(char *buf, const char *format, const tCONVERSION &conv,
                   unsigned long long bits, bool is_long);

// Render `format` (already checked, of kind eARG_STRING) with `text` (a null
// text shows as "(null)").
void RenderString(char *buf, const char *format, const tCONVERSION &conv, const char *text);

}  // namespace kelcore_internal

#endif  // KELCORE_MSG_PRINTF_CONVERSION_H
