#include "kelcore/names/pc_file_name.h"

#include <cerrno>
#include <cstring>

#include "kelcore/msg/message.h"
#include "kelcore/names/compat_name.h"
#include "kelcore/names/wildcard_match.h"
#include "kelcore/platform/crt.h"
#include "kelcore/platform/error.h"
#include "kelcore/sync/thread.h"

tPCFILENAME::tPCFILENAME() { name_[0] = '\0'; }

tPCFILENAME::tPCFILENAME(const char *name) : tPCFILENAME() { SetName(name); }

tPCFILENAME::tPCFILENAME(const tPHYFILENAMEOBJ &other) : tPCFILENAME() { SetName(other); }

tPCFILENAME::tPCFILENAME(const char *envVar, const char *defaultName) : tPCFILENAME() {
  SetName(envVar, defaultName);
}

tPCFILENAME::tPCFILENAME(const tPCFILENAME &other) : tPHYFILENAMEOBJ(other) {
  std::memcpy(name_, other.name_, sizeof name_);
}

tPCFILENAME &tPCFILENAME::operator=(const tPCFILENAME &other) {
  if (this != &other) {
    // The text first: `other` may be our own location, which the base's
    // assignment deletes.
    std::memcpy(name_, other.name_, sizeof name_);
    tPHYFILENAMEOBJ::operator=(other);
  }
  return *this;
}

tPCFILENAME::~tPCFILENAME() {}

void tPCFILENAME::FullyQualify() {
  char full[cBUFFER_SIZE];
  errno = 0;
  if (kelsys::_fullpath(full, name_, sizeof full) != nullptr) {
    SetName(full);
    return;
  }
  const int err = errno;
  if (err == ENOMEM) {
    SetName(static_cast<const char *>(nullptr));
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return;
  }
  // The system's reason in Win32 terms: too long, or a drive or directory
  // that is not there.
  unsigned int code;
  if (err == ERANGE || err == 0) {
    // Some runtimes (Wine's among them) report a full path too long for the
    // buffer without setting errno; nothing else fails silently.
    code = 206;  // ERROR_FILENAME_EXCED_RANGE
  } else if (err == ENOENT) {
    code = 3;  // ERROR_PATH_NOT_FOUND
  } else {
    code = kelsys::ErrnoToWin32(err);
  }
  _RefuseName(name_, cBUFFER_SIZE, code);
}

unsigned int tPCFILENAME::GetMaxLen() const { return cBUFFER_SIZE - 1; }

int tPCFILENAME::NameMatches(const char *pattern) const {
  return NameMatches(name_, pattern);
}

int tPCFILENAME::NameMatches(const char *name, const char *pattern) {
  return kelnames::MatchNameOrTail(name, pattern, 1);
}

int tPCFILENAME::PathChar(char c) const { return (c == '\\' || c == '/') ? 1 : 0; }

char tPCFILENAME::PathChar() const { return '\\'; }

const char *tPCFILENAME::PathCharStr() const { return "\\"; }

int tPCFILENAME::PathSep(char c) const {
  return (c == '\\' || c == '/' || c == ':') ? 1 : 0;
}

int tPCFILENAME::IsRoot() const {
  const std::size_t len = std::strlen(name_);
  std::size_t p = 0;
  if (len >= 1 && PathChar(name_[0])) p = 1;
  if (len >= 3 && name_[1] == ':' && PathChar(name_[2])) p += 3;
  if (p == 0) return 0;
  // "\:\" moves p past the end; nothing is left to look at then.
  for (std::size_t i = p; i < len; ++i) {
    if (PathChar(name_[i])) return 0;
  }
  return 1;
}

unsigned int tPCFILENAME::AllocCompatNameObj(tPHYFILENAMEOBJ **out) const {
  return kelnames::AllocCompatName<tPCFILENAME>(out);
}

char *tPCFILENAME::_GetName() const { return name_; }

int tPCFILENAME::TestAbsolute() {
  if (PathChar(name_[0])) return 1;
  return (name_[0] != '\0' && name_[1] == ':' && PathChar(name_[2])) ? 1 : 0;
}
