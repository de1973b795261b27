// The INI file's typed access: Get and Remove by value, for texts and
// numbers. The lists they work on are in ini_file.cpp.
#include <climits>
#include <cstdio>
#include <cstring>

#include "kelcore/files/ini_file.h"
#include "kelcore/files/ini_names.h"

using kelini::IsBlank;
using kelini::SameName;

namespace {

// Values compare like names; an absent value is empty.
int SameValue(char const *a, char const *b) { return SameName(a ? a : "", b ? b : ""); }

// atol's reading, but a number beyond the range of long stops at its
// limit instead of being undefined.
long ParseLong(char const *s) {
  if (!s) return 0;
  while (IsBlank(*s)) ++s;
  int negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  unsigned long limit = negative ? static_cast<unsigned long>(LONG_MAX) + 1 : LONG_MAX;
  unsigned long value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    unsigned int digit = static_cast<unsigned int>(*s - '0');
    value = (value > (limit - digit) / 10) ? limit : value * 10 + digit;
  }
  if (!negative) return static_cast<long>(value);
  return value == limit ? LONG_MIN : -static_cast<long>(value);
}

// strtoul's reading: a minus sign negates in unsigned arithmetic, numbers
// beyond the range stop at ULONG_MAX.
unsigned long ParseULong(char const *s) {
  if (!s) return 0;
  while (IsBlank(*s)) ++s;
  int negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  unsigned long value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    unsigned int digit = static_cast<unsigned int>(*s - '0');
    if (value > (ULONG_MAX - digit) / 10) return ULONG_MAX;
    value = value * 10 + digit;
  }
  return negative ? 0 - value : value;
}

// Decimal texts of the typed overloads.
struct tNUMBER_TEXT {
  char text[24];
  explicit tNUMBER_TEXT(long v) { std::snprintf(text, sizeof text, "%ld", v); }
  explicit tNUMBER_TEXT(unsigned long v) { std::snprintf(text, sizeof text, "%lu", v); }
};

// A char widens with its sign whether or not char is signed here.
long Widen(char v) { return static_cast<signed char>(v); }

}  // namespace

namespace {
int MatchesText(char const *value, void const *wanted) {
  return !wanted || SameValue(value, static_cast<char const *>(wanted));
}
int MatchesLong(char const *value, void const *wanted) {
  return ParseLong(value) == *static_cast<long const *>(wanted);
}
int MatchesULong(char const *value, void const *wanted) {
  return ParseULong(value) == *static_cast<unsigned long const *>(wanted);
}
}  // namespace

void tINIFILE::Remove(char const *section, char const *key, char const *value) {
  RemoveMatching(section, key, MatchesText, value);
}

void tINIFILE::Remove(char const *section, char const *key, long value) {
  RemoveMatching(section, key, MatchesLong, &value);
}

void tINIFILE::Remove(char const *section, char const *key, unsigned long value) {
  RemoveMatching(section, key, MatchesULong, &value);
}

// The typed overloads: signed types as "%ld", unsigned ones as "%lu".
#define KELCORE_INI_TYPED(T, WIDE, WIDEN)                                                   \
  void tINIFILE::Add(char const *section, char const *key, T value) {                       \
    Add(section, key, tNUMBER_TEXT(static_cast<WIDE>(WIDEN(value))).text);                  \
  }                                                                                         \
  void tINIFILE::Replace(char const *section, char const *key, T value) {                   \
    Replace(section, key, tNUMBER_TEXT(static_cast<WIDE>(WIDEN(value))).text);              \
  }                                                                                         \
  void tINIFILE::Insert(char const *section, char const *key, T value, tKEY *before) {      \
    Insert(section, key, tNUMBER_TEXT(static_cast<WIDE>(WIDEN(value))).text, before);       \
  }

KELCORE_INI_TYPED(char, long, Widen)
KELCORE_INI_TYPED(unsigned char, unsigned long, )
KELCORE_INI_TYPED(int, long, )
KELCORE_INI_TYPED(unsigned int, unsigned long, )
KELCORE_INI_TYPED(long, long, )
KELCORE_INI_TYPED(unsigned long, unsigned long, )
#undef KELCORE_INI_TYPED

void tINIFILE::Remove(char const *section, char const *key, char value) {
  Remove(section, key, Widen(value));
}
void tINIFILE::Remove(char const *section, char const *key, unsigned char value) {
  Remove(section, key, static_cast<unsigned long>(value));
}
void tINIFILE::Remove(char const *section, char const *key, int value) {
  Remove(section, key, static_cast<long>(value));
}
void tINIFILE::Remove(char const *section, char const *key, unsigned int value) {
  Remove(section, key, static_cast<unsigned long>(value));
}

// ------------------------------------------------------------- queries

void tINIFILE::Get(char const *section, char const *key, char *buf, unsigned int size,
                   char const *def) {
  if (!buf) return;
  tKEY *k = FindValueKey(section, key);
  char const *value = (k && k->value_ && *k->value_) ? k->value_ : (def ? def : "");
  size_t n = std::strlen(value);
  if (n > size) n = size;
  std::memcpy(buf, value, n);
  buf[n] = 0;
}

long tINIFILE::Get(char const *section, char const *key, long def) {
  tKEY *k = FindValueKey(section, key);
  return k ? ParseLong(k->value_) : def;
}

unsigned long tINIFILE::Get(char const *section, char const *key, unsigned long def) {
  tKEY *k = FindValueKey(section, key);
  return k ? ParseULong(k->value_) : def;
}

char tINIFILE::Get(char const *section, char const *key, char def) {
  return static_cast<char>(Get(section, key, Widen(def)));
}
unsigned char tINIFILE::Get(char const *section, char const *key, unsigned char def) {
  return static_cast<unsigned char>(Get(section, key, static_cast<unsigned long>(def)));
}
int tINIFILE::Get(char const *section, char const *key, int def) {
  return static_cast<int>(Get(section, key, static_cast<long>(def)));
}
unsigned int tINIFILE::Get(char const *section, char const *key, unsigned int def) {
  return static_cast<unsigned int>(Get(section, key, static_cast<unsigned long>(def)));
}
