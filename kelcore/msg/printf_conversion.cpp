#include "kelcore/msg/printf_conversion.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace kelcore_internal {

namespace {

const std::size_t kRoom = 1023;  // characters of a 1024-byte buffer

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal width or precision; false when it exceeds kMaxField.
bool ReadField(const char *&p, int *value) {
  int v = 0;
  while (IsDigit(*p)) {
    v = v * 10 + (*p - '0');
    if (v > kMaxField) return false;
    ++p;
  }
  *value = v;
  return true;
}

// Which flags C defines for a conversion; any other flag makes the call
// undefined, so such a spec is refused.
unsigned AllowedFlags(char type) {
  switch (type) {
    case 'd':
    case 'i':
    case 'u':
      return kFLAG_MINUS | kFLAG_PLUS | kFLAG_SPACE | kFLAG_ZERO;
    case 'o':
    case 'x':
    case 'X':
      return kFLAG_MINUS | kFLAG_PLUS | kFLAG_SPACE | kFLAG_ZERO | kFLAG_HASH;
    case 'c':
    case 's':
      return kFLAG_MINUS;
    default:  // floating point
      return kFLAG_MINUS | kFLAG_PLUS | kFLAG_SPACE | kFLAG_ZERO | kFLAG_HASH;
  }
}

bool IsIntegerConversion(char type) {
  switch (type) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
      return true;
    default:
      return false;
  }
}

bool IsFloatingConversion(char type) {
  switch (type) {
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
      return true;
    default:
      return false;
  }
}

// Reads the length modifier, if any: every one C or Windows texts use,
// since the value's type decides in the end.
void ReadLength(const char *&p, char *length) {
  *length = 0;
  switch (*p) {
    case 'h':
      *length = p[1] == 'h' ? 'H' : 'h';
      p += p[1] == 'h' ? 2 : 1;
      return;
    case 'l':
      *length = p[1] == 'l' ? 'q' : 'l';
      p += p[1] == 'l' ? 2 : 1;
      return;
    case 'L':
    case 'j':
    case 'z':
    case 't':
      *length = *p++;
      return;
    case 'I':  // Windows texts: I, I32, I64
      *length = 'I';
      ++p;
      if ((p[0] == '3' && p[1] == '2') || (p[0] == '6' && p[1] == '4')) p += 2;
      return;
    default:
      return;
  }
}

// Writes into a 1024-byte buffer, silently dropping what goes past 1023
// characters.
class tWRITER {
 public:
  explicit tWRITER(char *buf) : buf_(buf), pos_(0) {}
  void Put(char c) {
    if (pos_ < kRoom) buf_[pos_++] = c;
  }
  void Fill(char c, std::size_t n) {
    if (n > kRoom - pos_) n = kRoom - pos_;
    std::memset(buf_ + pos_, c, n);
    pos_ += n;
  }
  void Text(const char *s, std::size_t n) {
    if (n > kRoom - pos_) n = kRoom - pos_;
    std::memcpy(buf_ + pos_, s, n);
    pos_ += n;
  }
  // Literal text of a checked format: its only '%' signs are "%%" pairs.
  void Literal(const char *from, const char *to) {
    while (from < to) {
      const char *pct = static_cast<const char *>(std::memchr(from, '%', to - from));
      if (pct == nullptr) {
        Text(from, to - from);
        return;
      }
      Text(from, pct - from + 1);
      from = pct + 2;
    }
  }
  // Lets a caller write in place: the room left and, after writing, how much
  // of it was used (more than the room is cut).
  char *Cursor() { return buf_ + pos_; }
  std::size_t RoomWithNul() const { return kRoom - pos_ + 1; }
  void Advance(std::size_t n) { pos_ += n < kRoom - pos_ ? n : kRoom - pos_; }
  // The literal text after the conversion, to the end of the format; most
  // formats have none.
  void LiteralToEnd(const char *from) {
    if (*from != 0) Literal(from, from + std::strlen(from));
  }
  void Finish() { buf_[pos_] = 0; }

 private:
  char *buf_;
  std::size_t pos_;
};

// The blanks that right-align (PadLeft) or left-align (PadRight, with the
// '-' flag) a field of `len` characters in the conversion's width.
void PadLeft(tWRITER &w, const tCONVERSION &c, std::size_t len) {
  if (!(c.flags & kFLAG_MINUS) && c.width > 0 && static_cast<std::size_t>(c.width) > len) {
    w.Fill(' ', c.width - len);
  }
}

void PadRight(tWRITER &w, const tCONVERSION &c, std::size_t len) {
  if ((c.flags & kFLAG_MINUS) && c.width > 0 && static_cast<std::size_t>(c.width) > len) {
    w.Fill(' ', c.width - len);
  }
}

}  // namespace

void DefaultConversion(const char *format, tCONVERSION *conv) {
  conv->begin = format;
  conv->flags = 0;
  conv->width = -1;
  conv->precision = -1;
  const char *p = format + 1;
  conv->length = 0;
  if (*p == 'l' || *p == 'L') conv->length = *p++;
  conv->type = *p;
  conv->end = p + 1;
}

bool ParseSpec(const char *format, tCONVERSION *conv) {
  if (format == nullptr) return false;
  bool found = false;
  const char *p = format;
  while (*p != 0) {
    if (*p != '%') {
      ++p;
      continue;
    }
    if (p[1] == '%') {
      p += 2;
      continue;
    }
    if (found) return false;  // a second conversion has no argument
    found = true;
    tCONVERSION c;
    c.begin = p++;
    c.flags = 0;
    for (;; ++p) {
      if (*p == '-') c.flags |= kFLAG_MINUS;
      else if (*p == '+') c.flags |= kFLAG_PLUS;
      else if (*p == ' ') c.flags |= kFLAG_SPACE;
      else if (*p == '#') c.flags |= kFLAG_HASH;
      else if (*p == '0') c.flags |= kFLAG_ZERO;
      else break;
    }
    c.width = -1;
    if (IsDigit(*p) && !ReadField(p, &c.width)) return false;
    c.precision = -1;
    if (*p == '.') {
      ++p;
      if (!ReadField(p, &c.precision)) return false;
    }
    ReadLength(p, &c.length);
    c.type = *p;
    if (!IsIntegerConversion(c.type) && !IsFloatingConversion(c.type) && c.type != 'c' &&
        c.type != 's') {
      return false;  // %n, %p, '*', '$', an unknown or a missing conversion
    }
    if (c.type == 'c' && c.precision >= 0) return false;
    c.end = ++p;
    if (c.flags & ~AllowedFlags(c.type)) return false;
    *conv = c;
  }
  return found;
}

bool Suits(const tCONVERSION &c, eARGKIND kind) {
  switch (kind) {
    case eARG_INT:
    case eARG_LONG:
      return IsIntegerConversion(c.type) || c.type == 'c';
    case eARG_DOUBLE:
    case eARG_LONGDOUBLE:
      return IsFloatingConversion(c.type);
    case eARG_STRING:
      return c.type == 's';
    default:
      return false;
  }
}

eARGKIND ExactKind(const tCONVERSION &c) {
  if (IsIntegerConversion(c.type)) {
    if (c.length == 0 || c.length == 'h' || c.length == 'H') return eARG_INT;
    return c.length == 'l' ? eARG_LONG : eARG_INVALID;
  }
  if (IsFloatingConversion(c.type)) {
    if (c.length == 0 || c.length == 'l') return eARG_DOUBLE;
    return c.length == 'L' ? eARG_LONGDOUBLE : eARG_INVALID;
  }
  // %lc and %ls take wide characters, whose width differs between systems.
  if (c.type == 'c') return c.length == 0 ? eARG_INT : eARG_INVALID;
  if (c.type == 's') return c.length == 0 ? eARG_STRING : eARG_INVALID;
  return eARG_INVALID;
}

void RenderInteger(char *buf, const char *format, const tCONVERSION &c, unsigned long long bits,
                   bool is_long) {
  tWRITER w(buf);
  w.Literal(format, c.begin);

  if (c.type == 'c') {
    PadLeft(w, c, 1);
    w.Put(static_cast<char>(static_cast<unsigned char>(bits)));
    PadRight(w, c, 1);
  } else {
    // The value as the conversion reads it: signed for d and i, unsigned
    // otherwise, narrowed by h and hh; any other length modifier is the
    // value's own.
    bool negative = false;
    unsigned long long magnitude;
    if (c.type == 'd' || c.type == 'i') {
      long long v;
      if (c.length == 'H') v = static_cast<signed char>(static_cast<unsigned char>(bits));
      else if (c.length == 'h') v = static_cast<short>(static_cast<unsigned short>(bits));
      else if (is_long) v = static_cast<long>(static_cast<unsigned long>(bits));
      else v = static_cast<int>(static_cast<unsigned int>(bits));
      negative = v < 0;
      magnitude = negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    } else if (c.length == 'H') {
      magnitude = static_cast<unsigned char>(bits);
    } else if (c.length == 'h') {
      magnitude = static_cast<unsigned short>(bits);
    } else if (is_long) {
      magnitude = static_cast<unsigned long>(bits);
    } else {
      magnitude = static_cast<unsigned int>(bits);
    }

    // One loop per base, so that each divides by a constant (a multiply or
    // a shift) rather than running a division instruction per digit.
    const char *digit_chars = c.type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[32];  // 22 octal digits hold 64 bits
    std::size_t ndigits = 0;
    unsigned long long v = magnitude;
    if (c.type == 'o') {
      for (; v != 0; v >>= 3) digits[ndigits++] = digit_chars[v & 7];
    } else if (c.type == 'x' || c.type == 'X') {
      for (; v != 0; v >>= 4) digits[ndigits++] = digit_chars[v & 15];
    } else if (v <= 0xFFFFFFFFu) {
      for (unsigned int v32 = static_cast<unsigned int>(v); v32 != 0; v32 /= 10) {
        digits[ndigits++] = static_cast<char>('0' + v32 % 10);
      }
    } else {
      for (; v != 0; v /= 10) digits[ndigits++] = static_cast<char>('0' + v % 10);
    }

    // Precision is the minimum number of digits; the default is one, and an
    // explicit zero prints nothing for the value zero.
    std::size_t min_digits = c.precision >= 0 ? static_cast<std::size_t>(c.precision) : 1;
    std::size_t ndigits_out = ndigits > min_digits ? ndigits : min_digits;
    // '#' with o forces a leading zero digit.
    if (c.type == 'o' && (c.flags & kFLAG_HASH) && ndigits_out == ndigits) ++ndigits_out;

    char prefix[2];
    std::size_t nprefix = 0;
    if (c.type == 'd' || c.type == 'i') {
      if (negative) prefix[nprefix++] = '-';
      else if (c.flags & kFLAG_PLUS) prefix[nprefix++] = '+';
      else if (c.flags & kFLAG_SPACE) prefix[nprefix++] = ' ';
    } else if ((c.type == 'x' || c.type == 'X') && (c.flags & kFLAG_HASH) && magnitude != 0) {
      prefix[nprefix++] = '0';
      prefix[nprefix++] = c.type;
    }

    std::size_t len = nprefix + ndigits_out;
    // The '0' flag pads with zeros after the sign or prefix; '-' or a
    // precision turns it off.
    if ((c.flags & kFLAG_ZERO) && !(c.flags & kFLAG_MINUS) && c.precision < 0 && c.width > 0 &&
        static_cast<std::size_t>(c.width) > len) {
      ndigits_out += c.width - len;
      len = c.width;
    }
    PadLeft(w, c, len);
    w.Text(prefix, nprefix);
    w.Fill('0', ndigits_out - ndigits);
    while (ndigits > 0) w.Put(digits[--ndigits]);
    PadRight(w, c, len);
  }

  w.LiteralToEnd(c.end);
  w.Finish();
}

void RenderString(char *buf, const char *format, const tCONVERSION &c, const char *text) {
  if (text == nullptr) text = "(null)";
  tWRITER w(buf);
  w.Literal(format, c.begin);
  std::size_t len = 0;
  if (c.precision >= 0) {
    // The text need not be terminated within the precision: read no further.
    while (len < static_cast<std::size_t>(c.precision) && text[len] != 0) ++len;
  } else {
    len = std::strlen(text);
  }
  PadLeft(w, c, len);
  w.Text(text, len);
  PadRight(w, c, len);
  w.LiteralToEnd(c.end);
  w.Finish();
}

namespace {

// The conversion rebuilt from its parts, each flag once and the length
// modifier `length` (0 for none): at most 1 + 5 + 4 + 5 + 1 + 1 characters.
void RebuildConversion(const tCONVERSION &c, char length, char *out) {
  char *o = out;
  *o++ = '%';
  const char flag_chars[] = "-+ #0";
  for (int i = 0; i < 5; ++i) {
    if (c.flags & (1u << i)) *o++ = flag_chars[i];
  }
  // Widths and precisions are at most kMaxField (four digits).
  const auto put_number = [&o](int v) {
    char digits[8];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) *o++ = digits[--n];
  };
  if (c.width >= 0) put_number(c.width);
  if (c.precision >= 0) {
    *o++ = '.';
    put_number(c.precision);
  }
  if (length != 0) *o++ = length;
  *o++ = c.type;
  *o = 0;
}

template <typename T>
void RenderFloatingAs(char *buf, const char *format, const tCONVERSION &c, T value, char length) {
  tWRITER w(buf);
  w.Literal(format, c.begin);
  char conversion[24];
  RebuildConversion(c, length, conversion);
  int n = std::snprintf(w.Cursor(), w.RoomWithNul(), conversion, value);
  if (n > 0) w.Advance(static_cast<std::size_t>(n));
  w.LiteralToEnd(c.end);
  w.Finish();
}

}  // namespace

void RenderFloating(char *buf, const char *format, const tCONVERSION &c, double value) {
  RenderFloatingAs(buf, format, c, value, 0);
}

void RenderFloating(char *buf, const char *format, const tCONVERSION &c, long double value) {
  RenderFloatingAs(buf, format, c, value, 'L');
}

}  // namespace kelcore_internal
