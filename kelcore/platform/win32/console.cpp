#include "kelcore/platform/console.h"

namespace kelsys {

bool WriteConsoleText(HANDLE out, const char *text, DWORD length) {
  if (length == 0) return true;
  DWORD done = 0;
  if (WriteConsoleA(out, text, length, &done, nullptr) && done == length) return true;
  // Not a console (redirected), or the console took part of the text: the
  // rest goes through the file interface, which takes any handle.
  while (done < length) {
    DWORD n = 0;
    if (!WriteFile(out, text + done, length - done, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

}  // namespace kelsys
