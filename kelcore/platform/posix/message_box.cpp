#include "kelcore/platform/message_box.h"

#include <cstdio>

namespace kelsys {

void ShowMessageBox(const char *caption, const char *text, unsigned int) {
  // One call, so that the line is not split by other threads' output.
  if (caption != nullptr && caption[0] != '\0') {
    std::fprintf(stderr, "%s: %s\n", caption, text);
  } else {
    std::fprintf(stderr, "%s\n", text);
  }
  std::fflush(stderr);
}

}  // namespace kelsys
