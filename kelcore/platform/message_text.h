// The system's text for a Win32 error code: FormatMessageA and LocalFree.
//
// On Windows these are the system's own functions. The POSIX layer
// (platform/posix/message_text.cpp) serves the standard English texts that
// Windows gives for the Win32 codes the POSIX layer itself produces (the
// codes listed in types.h, plus ERROR_MR_MID_NOT_FOUND), word for word and,
// as on Windows, ending with a period and "\r\n", so that a message reads
// alike on both systems. Only what the library asks for is emulated:
// FORMAT_MESSAGE_FROM_SYSTEM, with or without FORMAT_MESSAGE_ALLOCATE_BUFFER,
// and FORMAT_MESSAGE_IGNORE_INSERTS (the served texts hold no inserts to
// expand, so it changes nothing). An unknown code gives no text: the result
// is 0 and the last error ERROR_MR_MID_NOT_FOUND, as on Windows. A buffer
// allocated by FormatMessageA is released with LocalFree.
//
// StrError gives the C library's text for an errno value without the
// shared buffer of strerror where the system has a reentrant form.
//
// Languages: the neutral language, the user's and the system's default
// (0x400, 0x800) and English variants are served; any other language fails
// with ERROR_RESOURCE_LANG_NOT_FOUND.
#ifndef KELCORE_PLATFORM_MESSAGE_TEXT_H
#define KELCORE_PLATFORM_MESSAGE_TEXT_H

#include <cstdarg>
#include <cstddef>

#include "kelcore/platform/types.h"

namespace kelsys {

#if defined(_WIN32)
using ::FormatMessageA;
using ::HLOCAL;
using ::LocalFree;
#else
typedef void *HLOCAL;

const DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
const DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
const DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
const DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
const DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
const DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
const DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

const DWORD ERROR_MR_MID_NOT_FOUND = 317;
const DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// With FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really a char** that
// receives a buffer of at least `size` bytes, to be freed with LocalFree;
// otherwise it is the caller's buffer of `size` bytes. The result is the
// number of characters stored without the NUL, or 0 with the last error set.
DWORD FormatMessageA(DWORD flags, const void *source, DWORD message_id, DWORD language_id,
                     LPSTR buffer, DWORD size, va_list *arguments);
// Frees a buffer from FormatMessageA; returns null (success).
HLOCAL LocalFree(HLOCAL mem);
#endif

// Copies the C library's text for `err` into `buf` (NUL-terminated, cut to
// `size` - 1 characters) and returns `buf`; an empty text when the library
// has none.
char *StrError(int err, char *buf, std::size_t size);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_MESSAGE_TEXT_H
