// Internal to the library: the message box of windowed applications.
//
// On Windows ShowMessageBox is MessageBoxA owned by the active window
// (GetActiveWindow), and returns when the user closes the box. POSIX
// systems have no box the library could show without a toolkit: the
// caption and the text go to standard error as one line, "caption: text"
// (the text alone when the caption is empty).
#ifndef KELCORE_PLATFORM_MESSAGE_BOX_H
#define KELCORE_PLATFORM_MESSAGE_BOX_H

namespace kelsys {

// The MessageBoxA style bits of the icons the library uses.
const unsigned int kIconStop = 0x10;
const unsigned int kIconExclamation = 0x30;
const unsigned int kIconInformation = 0x40;

void ShowMessageBox(const char *caption, const char *text, unsigned int style);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_MESSAGE_BOX_H
