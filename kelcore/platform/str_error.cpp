// StrError on every system; only where the text comes from differs.
#include "kelcore/platform/message_text.h"

#include <cstring>

namespace kelsys {

namespace {

#if defined(_WIN32)
// The C runtime keeps strerror's buffer per thread.
const char *ErrorText(int err, char *, std::size_t) { return std::strerror(err); }
#else
// strerror_r comes in two shapes: the XSI one returns a status and fills the
// buffer, the GNU one returns the text (which may not be in the buffer).
[[maybe_unused]] inline const char *StrErrorResult(int status, const char *buf) {
  return status == 0 ? buf : nullptr;
}
[[maybe_unused]] inline const char *StrErrorResult(const char *text, const char *) { return text; }

const char *ErrorText(int err, char *buf, std::size_t size) {
  return StrErrorResult(strerror_r(err, buf, size), buf);
}
#endif

}  // namespace

char *StrError(int err, char *buf, std::size_t size) {
  if (buf == nullptr || size == 0) return buf;
  buf[0] = '\0';
  const char *text = ErrorText(err, buf, size);
  if (text != nullptr && text != buf) {
    std::size_t n = 0;
    while (n < size - 1 && text[n] != '\0') ++n;
    std::memmove(buf, text, n);
    buf[n] = '\0';
  }
  return buf;
}

}  // namespace kelsys
