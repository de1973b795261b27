// FormatMessageA for the POSIX layer: the standard English Windows texts of
// the Win32 codes that this layer produces, so that a system-error
// parameter reads the same on Linux as on Windows.
#include "kelcore/platform/message_text.h"

#include <cstdlib>
#include <cstring>

#include "kelcore/platform/error.h"

namespace kelsys {

namespace {

struct SystemText {
  DWORD code;
  const char *text;
};

// Sorted by code for the binary search below. Texts as Windows words them,
// each ending with a period and "\r\n".
const SystemText kTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation.\r\n"},
    {ERROR_INVALID_DRIVE, "The system cannot find the drive specified.\r\n"},
    {ERROR_CURRENT_DIRECTORY, "The directory cannot be removed.\r\n"},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive.\r\n"},
    {ERROR_NO_MORE_FILES, "There are no more files.\r\n"},
    {ERROR_WRITE_PROTECT, "The media is write protected.\r\n"},
    {ERROR_NOT_READY, "The device is not ready.\r\n"},
    {ERROR_SEEK, "The drive cannot locate a specific area or track on the disk.\r\n"},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device.\r\n"},
    {ERROR_READ_FAULT, "The system cannot read from the specified device.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the "
     "file.\r\n"},
    {ERROR_HANDLE_EOF, "Reached the end of the file.\r\n"},
    {ERROR_HANDLE_DISK_FULL, "The disk is full.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_BROKEN_PIPE, "The pipe has been ended.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_NEGATIVE_SEEK,
     "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty.\r\n"},
    {ERROR_NOT_LOCKED, "The segment is already unlocked.\r\n"},
    {ERROR_LOCK_FAILED, "Unable to lock a region of a file.\r\n"},
    {ERROR_BUSY, "The requested resource is in use.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
    {ERROR_DIRECTORY, "The directory name is invalid.\r\n"},
    {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller.\r\n"},
    {ERROR_TOO_MANY_POSTS, "Too many posts were made to a semaphore.\r\n"},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for "
     "%2.\r\n"},
    {ERROR_POSSIBLE_DEADLOCK, "A potential deadlock condition has been detected.\r\n"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
    {ERROR_CANT_ACCESS_FILE, "The file cannot be accessed by the system.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     "The specified resource language ID cannot be found in the image file.\r\n"},
};

const char *FindText(DWORD code) {
  std::size_t lo = 0;
  std::size_t hi = sizeof(kTexts) / sizeof(kTexts[0]);
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (kTexts[mid].code == code) return kTexts[mid].text;
    if (kTexts[mid].code < code) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return nullptr;
}

bool LanguageServed(DWORD language_id) {
  const DWORD primary = language_id & 0x3FF;
  return primary == 0x00 /* neutral, user or system default */ || primary == 0x09 /* English */;
}

}  // namespace

DWORD FormatMessageA(DWORD flags, const void *source, DWORD message_id, DWORD language_id,
                     LPSTR buffer, DWORD size, va_list *arguments) {
  (void)source;
  (void)arguments;
  // Only the system table is emulated, without line-width reflowing.
  const DWORD unsupported = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE |
                            FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & unsupported) || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!LanguageServed(language_id)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const char *text = FindText(message_id);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // Inserts are never expanded here; a text that has some needs the flag
  // that says so, as Windows requires arguments for them otherwise.
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && std::strchr(text, '%') != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t length = std::strlen(text);
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    std::size_t bytes = length + 1 > size ? length + 1 : size;
    // malloc pairs with LocalFree's free: the buffer crosses to code that
    // knows only the Win32 contract.
    char *out = static_cast<char *>(std::malloc(bytes));
    if (out == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(out, text, length + 1);
    *reinterpret_cast<char **>(buffer) = out;
  } else {
    if (size < length + 1) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(buffer, text, length + 1);
  }
  return static_cast<DWORD>(length);
}

HLOCAL LocalFree(HLOCAL mem) {
  std::free(mem);
  return nullptr;
}

}  // namespace kelsys
