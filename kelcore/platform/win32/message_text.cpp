// StrError for Windows: the C runtime keeps strerror's buffer per thread.
#include "kelcore/platform/message_text.h"

#include <cstring>

namespace kelsys {

char *StrError(int err, char *buf, std::size_t size) {
  if (buf == nullptr || size == 0) return buf;
  const char *text = std::strerror(err);
  buf[0] = '\0';
  if (text != nullptr) {
    std::strncpy(buf, text, size - 1);
    buf[size - 1] = '\0';
  }
  return buf;
}

}  // namespace kelsys
