// StrError for Windows: the C runtime keeps strerror's buffer per thread.
#include "kelcore/platform/message_text.h"

#include <cstring>

namespace kelsys {

char *StrError(int err, char *buf, std::size_t size) {
  if (buf == nullptr || size == 0) return buf;
  const char *text = std::strerror(err);
  buf[0] = '\0';
  if (text != nullptr) {
    std::size_t n = 0;
    while (n < size - 1 && text[n] != '\0') ++n;
    std::memmove(buf, text, n);
    buf[n] = '\0';
  }
  return buf;
}

}  // namespace kelsys
