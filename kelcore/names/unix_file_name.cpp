#include "kelcore/names/unix_file_name.h"

#include <cstring>

#include "kelcore/names/compat_name.h"
#include "kelcore/names/wildcard_match.h"

tUNIXFILENAME::tUNIXFILENAME() { name_[0] = '\0'; }

tUNIXFILENAME::tUNIXFILENAME(const char *name) : tUNIXFILENAME() { SetName(name); }

tUNIXFILENAME::tUNIXFILENAME(const tPHYFILENAMEOBJ &other) : tUNIXFILENAME() {
  SetName(other);
}

tUNIXFILENAME::tUNIXFILENAME(const char *envVar, const char *defaultName) : tUNIXFILENAME() {
  SetName(envVar, defaultName);
}

tUNIXFILENAME::tUNIXFILENAME(const tUNIXFILENAME &other) : tPHYFILENAMEOBJ(other) {
  std::memcpy(name_, other.name_, sizeof name_);
}

tUNIXFILENAME &tUNIXFILENAME::operator=(const tUNIXFILENAME &other) {
  if (this != &other) {
    // The text first: `other` may be our own location, which the base's
    // assignment deletes.
    std::memcpy(name_, other.name_, sizeof name_);
    tPHYFILENAMEOBJ::operator=(other);
  }
  return *this;
}

tUNIXFILENAME::~tUNIXFILENAME() {}

void tUNIXFILENAME::FullyQualify() {}

unsigned int tUNIXFILENAME::GetMaxLen() const { return cBUFFER_SIZE - 1; }

int tUNIXFILENAME::NameMatches(const char *pattern) const {
  return NameMatches(name_, pattern);
}

int tUNIXFILENAME::NameMatches(const char *name, const char *pattern) {
  return kelnames::MatchNameOrTail(name, pattern, 0);
}

int tUNIXFILENAME::PathChar(char c) const { return c == '/' ? 1 : 0; }

char tUNIXFILENAME::PathChar() const { return '/'; }

const char *tUNIXFILENAME::PathCharStr() const { return "/"; }

int tUNIXFILENAME::PathSep(char c) const { return c == '/' ? 1 : 0; }

int tUNIXFILENAME::IsRoot() const {
  return (name_[0] == '/' && std::strchr(name_ + 1, '/') == nullptr) ? 1 : 0;
}

unsigned int tUNIXFILENAME::AllocCompatNameObj(tPHYFILENAMEOBJ **out) const {
  return kelnames::AllocCompatName<tUNIXFILENAME>(out);
}

char *tUNIXFILENAME::_GetName() const { return name_; }

int tUNIXFILENAME::TestAbsolute() { return name_[0] == '/' ? 1 : 0; }
