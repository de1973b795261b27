// Internal to the library: the C runtime's descriptor-level file calls
// (io.h, fcntl.h, sys/stat.h, sys/utime.h) that the C-stream back end is
// written against.
//
// On Windows these are the C runtime's own functions. The POSIX layer
// (platform/posix/crt_io.cpp) gives them their Windows meaning:
//   _open      flags O_RDONLY, O_WRONLY, O_RDWR, O_CREAT, O_TRUNC, O_EXCL
//              and cO_BINARY; the permission word takes cS_IREAD and
//              cS_IWRITE only: with cS_IWRITE the file is created
//              writable for all (0666 less the umask), without it
//              read-only (0444 less the umask). "\" is read as "/".
//   _fdopen    as Windows, a write-only descriptor also takes "r+" (the
//              stream then only writes); "b" changes nothing.
//   _setmode   text and binary mode are the same on POSIX: nothing
//              changes and the previous mode is always cO_BINARY.
//   _chsize    ftruncate; the size is a long (64 bits on 64-bit POSIX).
//   _access    access() with mode 0 (exists), 2 (write), 4 (read), 6.
//   _stat      stat() filling st_size.
//   _utime     utime() with access and modification time in seconds.
// Every call sets errno on failure as its Windows twin does.
#ifndef KELCORE_PLATFORM_CRT_IO_H
#define KELCORE_PLATFORM_CRT_IO_H

#include <cstdio>
#include <ctime>

#include <fcntl.h>

#if defined(_WIN32)
#  include <io.h>
#  include <sys/stat.h>
#  include <sys/types.h>
#  include <sys/utime.h>
#endif

namespace kelsys {

#if defined(_WIN32)
using ::_access;
using ::_chsize;
using ::_close;
using ::_fdopen;
using ::_fileno;
using ::_open;
using ::_setmode;
using ::_stat;
using ::_utimbuf;
using ::_utime;
using ::remove;
using ::rename;
const int cO_BINARY = _O_BINARY;
const int cO_TEXT = _O_TEXT;
const int cS_IREAD = _S_IREAD;
const int cS_IWRITE = _S_IWRITE;
#else
// The Windows values, so that a word built on one system reads the same
// on the other.
const int cO_BINARY = 0x8000;
const int cO_TEXT = 0x4000;
const int cS_IREAD = 0x0100;
const int cS_IWRITE = 0x0080;

// Only the size: the C library makes st_mtime a macro, and nothing here
// needs the time.
struct _stat {
  long st_size;
};
struct _utimbuf {
  std::time_t actime;
  std::time_t modtime;
};

int _open(const char *name, int flags, int pmode = 0);
std::FILE *_fdopen(int fd, const char *mode);
int _close(int fd);
int _fileno(std::FILE *stream);
int _setmode(int fd, int mode);
int _chsize(int fd, long size);
int _access(const char *name, int mode);
int _stat(const char *name, struct _stat *out);
int _utime(const char *name, struct _utimbuf *times);
// The C library's remove and rename on the names the library is given, as
// Windows' C runtime takes them (either separator, the C: drive).
int remove(const char *name);
int rename(const char *from, const char *to);
#endif

// 1 when the descriptor's file has positions (a disk file), 0 for a pipe,
// a terminal, a socket or a character device that cannot seek.
int IsSeekableDescriptor(int fd);

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_CRT_IO_H
