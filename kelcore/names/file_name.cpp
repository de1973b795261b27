#include "kelcore/names/file_name.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"

namespace {

// Composed names (SetLocation, SetFileName, SetExtension) are built here
// before SetName takes them. Room for the longest name of either convention
// plus the trailing separator that SetName may drop; a convention with
// longer names has its composed names refused beyond this size.
const unsigned int kWorkSize = 2048;

// How much of a refused text its message shows; together with the "..."
// it stays within a parameter's 1023 characters.
const unsigned int kShownRefused = 255;
// The system's code for an over-long name (ERROR_FILENAME_EXCED_RANGE), as
// Windows reports it for a path beyond its limit.
const unsigned int kNameTooLong = 206;
// The longest file-name part SetFileName takes.
const std::size_t kMaxFileNamePart = 261;
// A refused text's length when the text itself says where it ends.
const unsigned int kLongText = 0xFFFFFFFFu;

// A bounded text: appends stop at `limit` characters and remember that
// something did not fit, which makes the whole result over-long.
class tNAMEBUILDER {
 public:
  explicit tNAMEBUILDER(unsigned int max_len) : length_(0), over_(0) {
    // max_len + 1: a trailing separator beyond the maximum is still
    // accepted, because SetName removes it.
    limit_ = max_len < kWorkSize - 2 ? max_len + 1 : kWorkSize - 1;
    text_[0] = '\0';
  }

  void Append(const char *s) {
    if (s == nullptr) return;
    for (; *s != '\0'; ++s) {
      if (length_ >= limit_) {
        over_ = 1;
        return;
      }
      text_[length_++] = *s;
    }
    text_[length_] = '\0';
  }
  void Append(const char *s, unsigned int count) {
    for (unsigned int i = 0; i < count && s[i] != '\0'; ++i) {
      if (length_ >= limit_) {
        over_ = 1;
        return;
      }
      text_[length_++] = s[i];
    }
    text_[length_] = '\0';
  }
  // The convention's separator, unless the text is empty or already ends
  // a location prefix.
  void AppendSeparatorIfNeeded(const tPHYFILENAMEOBJ &name) {
    if (length_ > 0 && !name.PathSep(text_[length_ - 1])) {
      Append(name.PathCharStr());
    }
  }

  const char *Text() const { return text_; }
  unsigned int Length() const { return length_; }
  int Over() const { return over_; }

 private:
  char text_[kWorkSize];
  unsigned int length_;
  unsigned int limit_;
  int over_;
};

// Copies `s` (null: empty) into `out` (kWorkSize bytes); 0 if it does not
// fit below `limit` characters.
int CopyBounded(char *out, const char *s, unsigned int limit) {
  out[0] = '\0';
  if (s == nullptr) return 1;
  std::size_t len = std::strlen(s);
  if (len > limit || len >= kWorkSize) return 0;
  std::memcpy(out, s, len + 1);
  return 1;
}

}  // namespace

// --- tPHYFILENAMEOBJ ---------------------------------------------------------

tPHYFILENAMEOBJ::tPHYFILENAMEOBJ() : absolute_(0), location_(nullptr) {}

tPHYFILENAMEOBJ::tPHYFILENAMEOBJ(const tPHYFILENAMEOBJ &other)
    : absolute_(other.absolute_), location_(nullptr) {}

tPHYFILENAMEOBJ &tPHYFILENAMEOBJ::operator=(const tPHYFILENAMEOBJ &other) {
  if (this != &other) {
    // Read before dropping: `other` may be our own location object.
    absolute_ = other.absolute_;
    DropLocation();
  }
  return *this;
}

tPHYFILENAMEOBJ::~tPHYFILENAMEOBJ() { DropLocation(); }

void tPHYFILENAMEOBJ::DropLocation() {
  delete location_;
  location_ = nullptr;
}

int tPHYFILENAMEOBJ::InLocationChain(const tPHYFILENAMEOBJ *obj) const {
  for (const tPHYFILENAMEOBJ *p = location_; p != nullptr; p = p->location_) {
    if (p == obj) return 1;
  }
  return 0;
}

void tPHYFILENAMEOBJ::SetName(const char *name) {
  char *buf = _GetName();
  if (name == nullptr || name[0] == '\0') {
    buf[0] = '\0';
  } else {
    const unsigned int max = GetMaxLen();
    std::size_t len = std::strlen(name);
    int dropped_separator = 0;
    if (len > max) {
      // One more character is fine when it is the trailing separator that
      // step 2 removes anyway; at that length the name cannot be a bare
      // root ("\", "C:\", "/"), which keeps its separator.
      if (len == static_cast<std::size_t>(max) + 1 && max >= 3 &&
          PathChar(name[len - 1])) {
        len = max;
        dropped_separator = 1;
      } else {
        _RefuseName(name, kLongText, kNameTooLong);
        return;
      }
    }
    // memmove: callers may pass a text inside this very buffer, such as
    // SetName(GetFileName()).
    std::memmove(buf, name, len);
    buf[len] = '\0';
    if (!dropped_separator && PathChar(buf[len - 1]) && !IsRoot()) {
      buf[len - 1] = '\0';
    }
  }
  absolute_ = TestAbsolute() ? 1 : 0;
  // Last, because `name` may have pointed into the location object.
  DropLocation();
}

void tPHYFILENAMEOBJ::_RefuseName(const char *text, unsigned int length,
                                  unsigned int osError) {
  // Copied first: `text` may be this very name.
  char shown[kShownRefused + 4];
  unsigned int count = 0;
  if (text != nullptr) {
    while (count < length && count < kShownRefused && text[count] != '\0') ++count;
    std::memcpy(shown, text, count);
  }
  if (text != nullptr && count < length && text[count] != '\0') {
    std::memcpy(shown + count, "...", 4);
  } else {
    shown[count] = '\0';
  }

  _GetName()[0] = '\0';
  absolute_ = TestAbsolute() ? 1 : 0;
  DropLocation();

  tMSG *msg = tOSERR::Make(0, static_cast<int>(osError));
  tPARAMETER *parm = new (std::nothrow) tPARM_FILENAME(shown);
  if (parm != nullptr) *msg << parm;
  tTHREAD::SetLastError(*msg);
}

void tPHYFILENAMEOBJ::ConvertPathChars(const tPHYFILENAMEOBJ &other) {
  const char mine = PathChar();
  if (mine == other.PathChar()) return;
  char *buf = _GetName();
  int changed = 0;
  for (char *p = buf; *p != '\0'; ++p) {
    if (*p != mine && other.PathChar(*p)) {
      *p = mine;
      changed = 1;
    }
  }
  if (changed) {
    // "\x" taken into a UNIX name was relative as a text and is absolute
    // once it reads "/x": the cached flag follows the text.
    absolute_ = TestAbsolute() ? 1 : 0;
    DropLocation();
  }
}

void tPHYFILENAMEOBJ::SetName(const tPHYFILENAMEOBJ &other) {
  // Our own location (or its location) dies in SetName; it is of this
  // convention anyway, so there is nothing to convert.
  const int same = (&other == this) || InLocationChain(&other);
  SetName(other.GetName());
  if (!same) ConvertPathChars(other);
}

void tPHYFILENAMEOBJ::SetName(const char *envVar, const char *defaultName) {
  const char *value = envVar != nullptr ? std::getenv(envVar) : nullptr;
  SetName(value != nullptr ? value : defaultName);
}

void tPHYFILENAMEOBJ::SetLocation(const char *dir, int merge) {
  const unsigned int max = GetMaxLen();
  // Private copies: `dir` may point into this name or into the location
  // object, both of which change below.
  char dir_copy[kWorkSize];
  if (!CopyBounded(dir_copy, dir, max < kWorkSize - 2 ? max + 1 : kWorkSize - 1)) {
    // Every result contains `dir` whole.
    _RefuseName(dir, kLongText, kNameTooLong);
    return;
  }
  char old_location[kWorkSize];
  old_location[0] = '\0';
  int old_relative = 1;
  tPHYFILENAMEOBJ *loc = GetLocation();
  if (loc != nullptr) {
    old_relative = loc->IsRelative();
    CopyBounded(old_location, loc->GetName(), kWorkSize - 1);
  }

  tNAMEBUILDER first(max);
  first.Append(dir_copy);
  first.AppendSeparatorIfNeeded(*this);
  first.Append(GetFileName());
  if (first.Over()) {
    _RefuseName(first.Text(), kLongText, kNameTooLong);
    return;
  }
  SetName(first.Text());
  if (!merge) return;

  tNAMEBUILDER merged(max);
  if (old_relative) {
    merged.Append(dir_copy);
    merged.AppendSeparatorIfNeeded(*this);
    merged.Append(old_location);
  } else if (IsRelative()) {
    merged.Append(old_location);
    merged.AppendSeparatorIfNeeded(*this);
    merged.Append(dir_copy);
  } else {
    return;
  }
  merged.AppendSeparatorIfNeeded(*this);
  merged.Append(GetFileName());
  if (merged.Over()) {
    _RefuseName(merged.Text(), kLongText, kNameTooLong);
    return;
  }
  SetName(merged.Text());
}

void tPHYFILENAMEOBJ::SetLocation(const tPHYFILENAMEOBJ &dir, int merge) {
  const int same = (&dir == this) || InLocationChain(&dir);
  SetLocation(dir.GetName(), merge);
  if (!same) ConvertPathChars(dir);
}

void tPHYFILENAMEOBJ::SetFileName(const char *fileName) {
  tNAMEBUILDER built(GetMaxLen());
  tPHYFILENAMEOBJ *loc = GetLocation();
  if (loc != nullptr) built.Append(loc->GetName());
  if (fileName != nullptr && fileName[0] != '\0') {
    built.AppendSeparatorIfNeeded(*this);
    built.Append(fileName);
  }
  // The file-name part is capped whatever the convention, so that a UNIX
  // name, with room for a long path, takes no longer a file name than a
  // DOS name would; beyond the cap it is refused, as over-long names are.
  if (built.Over() || (fileName != nullptr && std::strlen(fileName) > kMaxFileNamePart)) {
    _RefuseName(built.Text(), kLongText, kNameTooLong);
    return;
  }
  SetName(built.Text());
}

void tPHYFILENAMEOBJ::SetExtension(const char *ext) {
  tNAMEBUILDER built(GetMaxLen());
  const char *name = GetName();
  built.Append(name, static_cast<unsigned int>(GetExtension() - name));
  if (ext != nullptr && ext[0] != '\0') built.Append(ext);
  if (built.Over()) {
    _RefuseName(built.Text(), kLongText, kNameTooLong);
    return;
  }
  SetName(built.Text());
}

tPHYFILENAMEOBJ *tPHYFILENAMEOBJ::GetLocation() {
  if (location_ != nullptr) return location_;
  tPHYFILENAMEOBJ *loc = nullptr;
  if (AllocCompatNameObj(&loc) != 0 || loc == nullptr) return nullptr;
  location_ = loc;

  const char *name = GetName();
  char *out = loc->_GetName();
  std::size_t len = std::strlen(name);
  const unsigned int room = loc->GetMaxLen();
  if (len > room) len = room;  // only a foreign convention could be shorter
  while (len > 0 && !PathSep(name[len - 1])) --len;
  std::memcpy(out, name, len);
  out[len] = '\0';
  // The separator before the file name goes, unless it is the root's own
  // ("C:\f" -> "C:\"); a drive colon always stays ("C:f" -> "C:").
  if (len > 0 && PathChar(out[len - 1]) && !IsRoot()) out[len - 1] = '\0';
  loc->absolute_ = loc->TestAbsolute() ? 1 : 0;
  return loc;
}

const char *tPHYFILENAMEOBJ::GetFileName() const {
  const char *name = GetName();
  const char *after = name;
  for (const char *p = name; *p != '\0'; ++p) {
    if (PathSep(*p)) after = p + 1;
  }
  return after;
}

const char *tPHYFILENAMEOBJ::GetExtension() const {
  const char *file = GetFileName();
  const char *dot = nullptr;
  const char *p = file;
  for (; *p != '\0'; ++p) {
    if (*p == '.') dot = p;
  }
  return dot != nullptr ? dot : p;
}

int tPHYFILENAMEOBJ::HasExtension() const { return GetExtension()[0] != '\0' ? 1 : 0; }

int tPHYFILENAMEOBJ::HasDir() const {
  for (const char *p = GetName(); *p != '\0'; ++p) {
    if (PathSep(*p)) return 1;
  }
  return 0;
}

tPHYFILENAMEOBJ::operator tPARAMETER *() const {
  const char *name = GetName();
  tPARM_FILENAME *parm = new (std::nothrow) tPARM_FILENAME(name);
  if (parm != nullptr && parm->Value() == nullptr) {
    // The parameter exists but could not copy the text.
    delete parm;
    parm = nullptr;
  }
  return parm;
}

tMSG &tPHYFILENAMEOBJ::AddErrorContext(tMSG *msg) const {
  // No message to add to: hand back the static message, which ignores
  // parameters, rather than a reference to nothing.
  if (msg == nullptr) return tERRMSG::OutOfMemory;
  tPARAMETER *parm = *this;
  if (parm != nullptr) *msg << parm;
  return *msg;
}

// --- tPARM_FILENAME ------------------------------------------------------------

tPARM_FILENAME::tPARM_FILENAME(const char *name) : tPARM_STRING(name) {}

tPARM_FILENAME::~tPARM_FILENAME() {}
