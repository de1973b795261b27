// The checked numeric reads of INI values (GetChecked): a mistyped value is
// reported instead of read as whatever its leading digits say.
#include <climits>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/files/ini_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"

namespace {

const unsigned int cNOT_FOUND = 1;
const unsigned int cFAILURE = 0xFFFFFFFFu;

// 1 and the magnitude and sign of `text` when it is an optional sign and
// one or more decimal digits, nothing else, and the magnitude is at most
// `limit`; else 0.
int ParseWhole(char const *text, unsigned long limit, unsigned long *magnitude, int *negative) {
  if (text == 0) return 0;
  *negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  if (*text == 0) return 0;
  unsigned long n = 0;
  for (; *text != 0; ++text) {
    if (*text < '0' || *text > '9') return 0;
    const unsigned long digit = static_cast<unsigned long>(*text - '0');
    if (n > (limit - digit) / 10) return 0;
    n = n * 10 + digit;
  }
  *magnitude = n;
  return 1;
}

// The checked reading for every type: the value must lie in [low, high]
// (low is 0 for the unsigned types, `signedType` 0); the sign and
// magnitude read.
unsigned int CheckedRead(tINIFILE &ini, tINIFILE::tKEY *key, char const *section,
                         char const *name, long low, int signedType, unsigned long high,
                         int *negative, unsigned long *magnitude) {
  if (key == 0) {
    tTHREAD::SetLastError(ini.AddErrorContext(keltxt::NewLibraryError(5))
                          << (section ? section : "") << (name ? name : ""));
    return cNOT_FOUND;
  }
  // The largest magnitude of a negative number is that of the type's
  // smallest value (one more than its largest, in two's complement).
  const unsigned long lowMagnitude = signedType ? static_cast<unsigned long>(-(low + 1)) + 1 : 0;
  char const *text = key->GetValue();
  int ok = ParseWhole(text, high > lowMagnitude ? high : lowMagnitude, magnitude, negative);
  if (ok && *negative && *magnitude != 0) ok = *magnitude <= lowMagnitude;
  if (ok && !*negative) ok = *magnitude <= high;
  if (ok && *negative && !signedType) ok = 0;
  if (ok) return 0;
  tMSG &msg = ini.AddErrorContext(keltxt::NewLibraryError(4))
              << (section ? section : "") << (name ? name : "") << (text ? text : "");
  if (signedType) {
    msg << low << static_cast<long>(high);
  } else {
    msg << 0UL << high;
  }
  tTHREAD::SetLastError(&msg);
  return cFAILURE;
}

}  // namespace

unsigned int tINIFILE::GetChecked(char const *section, char const *key, long *value) {
  int negative = 0;
  unsigned long magnitude = 0;
  const unsigned int status = CheckedRead(*this, FindValueKey(section, key), section, key,
                                          LONG_MIN, 1, LONG_MAX, &negative, &magnitude);
  if (status == 0 && value != 0) {
    // -(LONG_MIN) does not fit a long: negate one less, then step down.
    *value = negative && magnitude != 0 ? -static_cast<long>(magnitude - 1) - 1
                                        : static_cast<long>(magnitude);
  }
  return status;
}

unsigned int tINIFILE::GetChecked(char const *section, char const *key, int *value) {
  int negative = 0;
  unsigned long magnitude = 0;
  const unsigned int status = CheckedRead(*this, FindValueKey(section, key), section, key,
                                          INT_MIN, 1, INT_MAX, &negative, &magnitude);
  if (status == 0 && value != 0) {
    *value = negative && magnitude != 0 ? -static_cast<int>(magnitude - 1) - 1
                                        : static_cast<int>(magnitude);
  }
  return status;
}

unsigned int tINIFILE::GetChecked(char const *section, char const *key, unsigned long *value) {
  int negative = 0;
  unsigned long magnitude = 0;
  const unsigned int status = CheckedRead(*this, FindValueKey(section, key), section, key, 0, 0,
                                          ULONG_MAX, &negative, &magnitude);
  if (status == 0 && value != 0) *value = magnitude;
  return status;
}

unsigned int tINIFILE::GetChecked(char const *section, char const *key, unsigned int *value) {
  int negative = 0;
  unsigned long magnitude = 0;
  const unsigned int status = CheckedRead(*this, FindValueKey(section, key), section, key, 0, 0,
                                          UINT_MAX, &negative, &magnitude);
  if (status == 0 && value != 0) *value = static_cast<unsigned int>(magnitude);
  return status;
}

