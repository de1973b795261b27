// DOS-style names on a case-sensitive file system; see name_resolver.h.
#include "kelcore/platform/posix/name_resolver.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__linux__)
#  include <sys/inotify.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "kelcore/platform/error.h"
#include "kelcore/platform/posix/native_name.h"

namespace kelsys {
namespace {

inline char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameFolded(const char *a, const char *b) {
  for (; *a != '\0' && Fold(*a) == Fold(*b); ++a, ++b) {
  }
  return Fold(*a) == Fold(*b);
}

std::uint32_t FoldedHash(const char *s) {
  std::uint32_t h = 2166136261u;
  for (; *s != '\0'; ++s) h = (h ^ static_cast<unsigned char>(Fold(*s))) * 16777619u;
  return h;
}

bool RefusedChar(char c) {
  switch (c) {
    case '*': case '?': case '|': case '<': case '>': case '"': return true;
    default: return static_cast<unsigned char>(c) < 0x20;
  }
}

bool AllDots(const char *s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (s[i] != '.') return false;
  }
  return true;
}

// What a directory lookup found.
enum Found { kNone, kExact, kOtherCase };

// Keeps the better of two case-insensitive matches: the first in byte
// order, so that the choice does not depend on the order of the directory.
void KeepBetter(const char *candidate, char *best, std::size_t size, bool *have) {
  if (*have && std::strcmp(candidate, best) >= 0) return;
  std::size_t n = std::strlen(candidate);
  if (n + 1 > size) return;
  std::memcpy(best, candidate, n + 1);
  *have = true;
}

// Reads the directory once: no cache, or none that could be made.
Found ScanDirectory(DIR *dir, const char *name, char *match, std::size_t size) {
  bool have = false;
  while (struct dirent *e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, name) == 0) return kExact;
    if (SameFolded(e->d_name, name)) KeepBetter(e->d_name, match, size, &have);
  }
  return have ? kOtherCase : kNone;
}

// --- the directory cache -------------------------------------------------------

#if defined(__linux__)

// The names of one directory, hashed by their folded form. Kept with
// malloc rather than the library's operator new: a cache that cannot grow
// is dropped and the directory read instead, so its allocations change no
// result and must not count as the library's own.
struct Entry {
  Entry *next;
  std::uint32_t hash;
  char name[1];
};

struct DirIndex {
  dev_t dev;
  ino_t ino;
  int wd;  // -1: slot unused
  unsigned long lastUse;
  Entry **buckets;
  std::size_t bucketCount;
  std::size_t count;
};

class DirCache {
 public:
  static DirCache &Get() {
    static DirCache cache;
    return cache;
  }

  // The lookup of `name` in the directory `dirPath` (device and inode as
  // given by stat); -1 when there is no cache for it.
  int Find(const char *dirPath, const struct stat &st, const char *name, char *match,
           std::size_t size) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (forked_) {
      // The instance is the parent's as well: each process reading the
      // other's events would leave both caches behind. Let go of it without
      // touching its watches, which the parent still uses.
      if (fd_ >= 0) ::close(fd_);
      for (DirIndex &d : slots_) {
        d.wd = d.wd >= 0 ? -2 : -1;  // no longer a watch of this process's
        Drop(&d, false);
      }
      fd_ = -2;
      forked_ = false;
    }
    if (fd_ == -2) fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return -1;
    Drain();
    DirIndex *d = Lookup(st.st_dev, st.st_ino);
    if (d == nullptr) d = Build(dirPath, st);
    if (d == nullptr) return -1;
    d->lastUse = ++clock_;
    bool have = false;
    std::uint32_t h = FoldedHash(name);
    for (Entry *e = d->buckets[h % d->bucketCount]; e != nullptr; e = e->next) {
      if (e->hash != h) continue;
      if (std::strcmp(e->name, name) == 0) return kExact;
      if (SameFolded(e->name, name)) KeepBetter(e->name, match, size, &have);
    }
    return have ? kOtherCase : kNone;
  }

 private:
  static const int kSlots = 16;
  static const uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_DELETE_SELF | IN_ONLYDIR;

  DirCache() : fd_(-2), forked_(false), clock_(0) {
    for (DirIndex &d : slots_) Clear(&d);
    // A child of fork gets the mutex as it was and a shared inotify
    // instance: hold the mutex across the fork, and start afresh in the child.
    ::pthread_atfork([] { Get().mutex_.lock(); }, [] { Get().mutex_.unlock(); },
                     [] {
                       Get().forked_ = true;
                       Get().mutex_.unlock();
                     });
  }

  static void Clear(DirIndex *d) {
    d->wd = -1;
    d->buckets = nullptr;
    d->bucketCount = 0;
    d->count = 0;
  }

  void Drop(DirIndex *d, bool removeWatch) {
    if (d->wd == -1) return;
    if (removeWatch) ::inotify_rm_watch(fd_, d->wd);
    for (std::size_t i = 0; i < d->bucketCount; ++i) {
      while (Entry *e = d->buckets[i]) {
        d->buckets[i] = e->next;
        std::free(e);
      }
    }
    std::free(d->buckets);
    Clear(d);
  }

  DirIndex *Lookup(dev_t dev, ino_t ino) {
    for (DirIndex &d : slots_) {
      if (d.wd >= 0 && d.dev == dev && d.ino == ino) return &d;
    }
    return nullptr;
  }

  DirIndex *ByWatch(int wd) {
    for (DirIndex &d : slots_) {
      if (d.wd == wd) return &d;
    }
    return nullptr;
  }

  static bool Grow(DirIndex *d) {
    std::size_t n = d->bucketCount == 0 ? 64 : d->bucketCount * 2;
    Entry **b = static_cast<Entry **>(std::calloc(n, sizeof(Entry *)));
    if (b == nullptr) return false;
    for (std::size_t i = 0; i < d->bucketCount; ++i) {
      while (Entry *e = d->buckets[i]) {
        d->buckets[i] = e->next;
        e->next = b[e->hash % n];
        b[e->hash % n] = e;
      }
    }
    std::free(d->buckets);
    d->buckets = b;
    d->bucketCount = n;
    return true;
  }

  static bool Insert(DirIndex *d, const char *name) {
    std::uint32_t h = FoldedHash(name);
    if (d->bucketCount != 0) {
      for (Entry *e = d->buckets[h % d->bucketCount]; e != nullptr; e = e->next) {
        if (e->hash == h && std::strcmp(e->name, name) == 0) return true;
      }
    }
    if (d->count >= d->bucketCount && !Grow(d)) return false;
    std::size_t n = std::strlen(name);
    Entry *e = static_cast<Entry *>(std::malloc(sizeof(Entry) + n));
    if (e == nullptr) return false;
    e->hash = h;
    std::memcpy(e->name, name, n + 1);
    e->next = d->buckets[h % d->bucketCount];
    d->buckets[h % d->bucketCount] = e;
    ++d->count;
    return true;
  }

  static void Remove(DirIndex *d, const char *name) {
    if (d->bucketCount == 0) return;
    std::uint32_t h = FoldedHash(name);
    for (Entry **link = &d->buckets[h % d->bucketCount]; *link != nullptr;
         link = &(*link)->next) {
      Entry *e = *link;
      if (e->hash == h && std::strcmp(e->name, name) == 0) {
        *link = e->next;
        std::free(e);
        --d->count;
        return;
      }
    }
  }

  // Applies what changed in the watched directories since the last look.
  void Drain() {
    alignas(struct inotify_event) char buf[8192];
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return;
      }
      // A read that left room for another event emptied the queue; what
      // comes later is seen at the next look, as if it came after it.
      const bool emptied = static_cast<std::size_t>(n) + sizeof(struct inotify_event) + NAME_MAX +
                               1 <= sizeof buf;
      for (ssize_t at = 0; at < n;) {
        const struct inotify_event *ev = reinterpret_cast<const struct inotify_event *>(buf + at);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
        if (ev->mask & IN_Q_OVERFLOW) {
          // Changes were lost: nothing cached can be trusted.
          for (DirIndex &d : slots_) Drop(&d, true);
          continue;
        }
        DirIndex *d = ByWatch(ev->wd);
        if (d == nullptr) continue;
        if (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) {
          Drop(d, (ev->mask & IN_IGNORED) == 0);
        } else if (ev->len != 0 && (ev->mask & (IN_CREATE | IN_MOVED_TO))) {
          if (!Insert(d, ev->name)) Drop(d, true);
        } else if (ev->len != 0 && (ev->mask & (IN_DELETE | IN_MOVED_FROM))) {
          Remove(d, ev->name);
        }
      }
      if (emptied) return;
    }
  }

  DirIndex *Build(const char *dirPath, const struct stat &st) {
    DirIndex *d = nullptr;
    for (DirIndex &s : slots_) {
      if (s.wd < 0) {
        d = &s;
        break;
      }
      if (d == nullptr || s.lastUse < d->lastUse) d = &s;
    }
    Drop(d, true);
    // The watch first, then the reading: whatever changes in between
    // arrives as an event and is applied to what was read.
    int wd = ::inotify_add_watch(fd_, dirPath, kEvents);
    if (wd < 0) return nullptr;
    if (ByWatch(wd) != nullptr) return nullptr;  // the same directory under another name
    d->wd = wd;
    d->dev = st.st_dev;
    d->ino = st.st_ino;
    DIR *dir = ::opendir(dirPath);
    struct stat now;
    bool ok = dir != nullptr && ::fstat(::dirfd(dir), &now) == 0 && now.st_dev == st.st_dev &&
              now.st_ino == st.st_ino && Grow(d);
    while (ok) {
      errno = 0;
      struct dirent *e = ::readdir(dir);
      if (e == nullptr) {
        ok = errno == 0;
        break;
      }
      ok = Insert(d, e->d_name);
    }
    if (dir != nullptr) ::closedir(dir);
    if (!ok) {
      Drop(d, true);
      return nullptr;
    }
    return d;
  }

  std::mutex mutex_;
  int fd_;  // the inotify instance; -2 before the first use, -1 if there is none
  bool forked_;
  unsigned long clock_;
  DirIndex slots_[kSlots];
};

#endif  // __linux__

// Looks `name` up in the directory `dirPath` (already known to exist).
Found FindEntry(const char *dirPath, const struct stat &st, const char *name, char *match,
                std::size_t size) {
#if defined(__linux__)
  int cached = DirCache::Get().Find(dirPath, st, name, match, size);
  if (cached >= 0) return static_cast<Found>(cached);
#else
  (void)st;
#endif
  DIR *dir = ::opendir(dirPath);
  if (dir == nullptr) return kNone;
  Found found = ScanDirectory(dir, name, match, size);
  ::closedir(dir);
  return found;
}

// A path being resolved, with room for what is appended to it.
class PathText {
 public:
  PathText(char *out, std::size_t size) : text_(out), size_(size), len_(0) { out[0] = '\0'; }
  bool Append(const char *s, std::size_t n) {
    if (len_ + n + 1 > size_) return false;
    std::memcpy(text_ + len_, s, n);
    len_ += n;
    text_[len_] = '\0';
    return true;
  }
  std::size_t Length() const { return len_; }
  void Cut(std::size_t n) {
    len_ = n;
    text_[n] = '\0';
  }
  const char *Text() const { return text_; }
  // The directory the path so far names, for a lookup in it.
  const char *DirText() const { return len_ == 0 ? "." : text_; }

 private:
  char *text_;
  std::size_t size_;
  std::size_t len_;
};

// Resolves the components of `path` from `from` up to (not including)
// `end` onto `out`, each an existing directory. ERROR_SUCCESS or
// ERROR_PATH_NOT_FOUND; `*dir` receives the last directory's status.
DWORD ResolveDirectories(const char *from, const char *end, PathText *out, struct stat *dir) {
  char match[NAME_MAX + 1];
  if (::stat(out->DirText(), dir) != 0) return ERROR_PATH_NOT_FOUND;
  const char *p = from;
  while (p < end) {
    if (*p == '/') {
      if (!out->Append(p, 1)) return ERROR_FILENAME_EXCED_RANGE;
      ++p;
      continue;
    }
    const char *start = p;
    while (p < end && *p != '/') ++p;
    std::size_t n = static_cast<std::size_t>(p - start);
    if (n > NAME_MAX) return ERROR_PATH_NOT_FOUND;
    std::size_t before = out->Length();
    if (!out->Append(start, n)) return ERROR_FILENAME_EXCED_RANGE;
    if (::stat(out->Text(), dir) == 0) {
      if (!S_ISDIR(dir->st_mode)) return ERROR_PATH_NOT_FOUND;
      continue;
    }
    if (errno != ENOENT) return errno == ENAMETOOLONG ? ERROR_FILENAME_EXCED_RANGE
                                                      : ERROR_PATH_NOT_FOUND;
    // Missing as spelled: the entry of the directory so far that matches.
    char name[NAME_MAX + 1];
    std::memcpy(name, start, n);
    name[n] = '\0';
    out->Cut(before);
    struct stat parent;
    if (::stat(out->DirText(), &parent) != 0) return ERROR_PATH_NOT_FOUND;
    if (FindEntry(out->DirText(), parent, name, match, sizeof match) != kOtherCase) {
      return ERROR_PATH_NOT_FOUND;
    }
    if (!out->Append(match, std::strlen(match))) return ERROR_FILENAME_EXCED_RANGE;
    if (::stat(out->Text(), dir) != 0 || !S_ISDIR(dir->st_mode)) return ERROR_PATH_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}

// Resolves `path` onto `out`: the directories, then the final component
// (`*found` tells how it was found).
DWORD Resolve(const char *path, char *out, std::size_t size, Found *found) {
  PathText text(out, size);
  *found = kNone;
  const std::size_t len = std::strlen(path);
  // The final component and what comes before it.
  const char *last = path + len;
  while (last > path && last[-1] != '/') --last;
  struct stat dir;
  // The directory part as spelled first: where it exists, only the final
  // component needs a lookup.
  if (!text.Append(path, static_cast<std::size_t>(last - path))) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  if (::stat(text.DirText(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
    text.Cut(0);
    DWORD err = ResolveDirectories(path, last, &text, &dir);
    if (err != ERROR_SUCCESS) return err;
  }
  if (*last == '\0') {
    *found = kExact;  // a name ending in a separator names the directory itself
    return ERROR_SUCCESS;
  }
  const std::size_t n = std::strlen(last);
  if (n > NAME_MAX) return ERROR_FILENAME_EXCED_RANGE;
  if (std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0) {
    *found = kExact;
  } else {
    char match[NAME_MAX + 1];
    *found = FindEntry(text.DirText(), dir, last, match, sizeof match);
    if (*found == kOtherCase) return text.Append(match, std::strlen(match))
                                         ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
  }
  return text.Append(last, n) ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

}  // namespace

DWORD PrepareDosName(LPCSTR name, char *out, std::size_t size) {
  DWORD err = ToNativeName(name, out, size);
  if (err != ERROR_SUCCESS) return err;
  for (const char *p = out; *p != '\0'; ++p) {
    if (RefusedChar(*p)) {
      out[0] = '\0';
      return ERROR_INVALID_NAME;
    }
  }
  // Trailing dots and blanks, component by component, in place.
  std::size_t r = 0, w = 0;
  const std::size_t len = std::strlen(out);
  while (r < len) {
    if (out[r] == '/') {
      out[w++] = out[r++];
      continue;
    }
    std::size_t start = r;
    while (r < len && out[r] != '/') ++r;
    std::size_t n = r - start;
    if (!AllDots(out + start, n)) {
      if (r == len) {
        while (n > 0 && (out[start + n - 1] == '.' || out[start + n - 1] == ' ')) --n;
      } else if (out[start + n - 1] == '.' && out[start + n - 2] != '.') {
        --n;  // n >= 2 here: a lone "." is all dots
      }
    }
    std::memmove(out + w, out + start, n);
    w += n;
  }
  out[w] = '\0';
  return ERROR_SUCCESS;
}

DWORD ResolveExistingName(const char *path, char *out, std::size_t size) {
  Found found;
  DWORD err = Resolve(path, out, size, &found);
  if (err == ERROR_SUCCESS && found == kNone) err = ERROR_FILE_NOT_FOUND;
  if (err != ERROR_SUCCESS) out[0] = '\0';
  return err;
}

DWORD ResolveNewName(const char *path, char *out, std::size_t size, int *exists) {
  Found found;
  DWORD err = Resolve(path, out, size, &found);
  if (exists != nullptr) *exists = found != kNone ? 1 : 0;
  if (err != ERROR_SUCCESS) out[0] = '\0';
  return err;
}

}  // namespace kelsys
