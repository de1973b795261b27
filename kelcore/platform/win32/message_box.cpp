#include "kelcore/platform/message_box.h"

#include <windows.h>

namespace kelsys {

void ShowMessageBox(const char *caption, const char *text, unsigned int style) {
  ::MessageBoxA(::GetActiveWindow(), text, caption, style);
}

}  // namespace kelsys
