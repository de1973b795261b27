// DOS-style names on a case-sensitive file system; see name_resolver.h.
#include "kelcore/platform/posix/name_resolver.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__linux__)
#  include <sys/inotify.h>
#  include <sys/ioctl.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "kelcore/platform/error.h"
#include "kelcore/platform/posix/native_name.h"
#include "kelcore/platform/thread_exit.h"

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
  int nextByInode;  // chains of the two indexes below; -1 ends one
  int nextByWatch;
};

// The cached directories, as many as are in use up to kMaxSlots and
// kMaxEntries names in all; past that the directory used least recently
// makes room. Every name is applied from inotify events, so a create in a
// cached directory costs no reading, however many directories are in use.
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
      // other's events would leave both caches behind. Forget it without
      // closing it or touching its watches: the parent still uses them, and
      // the number may already be another descriptor of this process's.
      Forget();
      forked_ = false;
    }
    if (fd_ >= 0 && !StillOurs()) Forget();
    if (fd_ == -2) Open();
    if (fd_ < 0) return -1;
    Drain();
    if (fd_ < 0) return -1;
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
  static const int kMaxSlots = 4096;
  static const std::size_t kMaxEntries = 4000000;
  static const uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_DELETE_SELF | IN_ONLYDIR;

  DirCache()
      : fd_(-2), fdDev_(0), fdIno_(0), forked_(false), clock_(0), slots_(nullptr),
        slotCount_(0), used_(0), byInode_(nullptr), byWatch_(nullptr), indexSize_(0),
        entries_(0) {
    // A child of fork gets the mutex as it was and a shared inotify
    // instance: hold the mutex across the fork, and start afresh in the child.
    HoldAcrossFork(
        kForkDirCache, [] { Get().mutex_.lock(); }, [] { Get().mutex_.unlock(); },
        [] {
          Get().forked_ = true;
          Get().mutex_.unlock();
        });
  }

  // A descriptor of our own: close-on-exec, so that no program started
  // from here inherits it, and non-blocking, so that no read can wait.
  void Open() {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0) {
      fdDev_ = st.st_dev;
      fdIno_ = st.st_ino;
    } else if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  // Whether the descriptor is still the instance opened here: a program
  // may close descriptors it did not open and get the number back for
  // anything else. The same device and inode as at the opening (shared by
  // the kernel's anonymous files, but by no pipe, file or socket), and a
  // queue to ask about (which event counters and the like have not).
  bool StillOurs() {
    struct stat st;
    int pending = 0;
    return ::fstat(fd_, &st) == 0 && st.st_dev == fdDev_ && st.st_ino == fdIno_ &&
           ::ioctl(fd_, FIONREAD, &pending) == 0;
  }

  // Lets go of the instance without closing it or removing its watches.
  void Forget() {
    for (int i = 0; i < used_; ++i) FreeNames(&slots_[i]);
    for (std::size_t b = 0; b < indexSize_; ++b) byInode_[b] = byWatch_[b] = -1;
    fd_ = -2;
  }

  void FreeNames(DirIndex *d) {
    for (std::size_t i = 0; i < d->bucketCount; ++i) {
      while (Entry *e = d->buckets[i]) {
        d->buckets[i] = e->next;
        std::free(e);
      }
    }
    std::free(d->buckets);
    entries_ -= d->count;
    Clear(d);
  }

  static void Clear(DirIndex *d) {
    d->wd = -1;
    d->buckets = nullptr;
    d->bucketCount = 0;
    d->count = 0;
  }

  std::size_t InodeBucket(dev_t dev, ino_t ino) const {
    std::uint64_t h = (static_cast<std::uint64_t>(ino) ^ (static_cast<std::uint64_t>(dev) << 32)) *
                      0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(h >> 32) & (indexSize_ - 1);
  }
  std::size_t WatchBucket(int wd) const {
    return (static_cast<std::uint32_t>(wd) * 2654435761u) & (indexSize_ - 1);
  }

  static void Unlink(int *heads, std::size_t bucket, int slot, DirIndex *slots,
                     int DirIndex::*next) {
    for (int *link = &heads[bucket]; *link != -1; link = &(slots[*link].*next)) {
      if (*link == slot) {
        *link = slots[slot].*next;
        return;
      }
    }
  }

  void Link(int slot) {
    DirIndex &d = slots_[slot];
    std::size_t b = InodeBucket(d.dev, d.ino);
    d.nextByInode = byInode_[b];
    byInode_[b] = slot;
    b = WatchBucket(d.wd);
    d.nextByWatch = byWatch_[b];
    byWatch_[b] = slot;
  }

  void Drop(DirIndex *d, bool removeWatch) {
    if (d->wd < 0) return;
    int slot = static_cast<int>(d - slots_);
    Unlink(byInode_, InodeBucket(d->dev, d->ino), slot, slots_, &DirIndex::nextByInode);
    Unlink(byWatch_, WatchBucket(d->wd), slot, slots_, &DirIndex::nextByWatch);
    if (removeWatch) ::inotify_rm_watch(fd_, d->wd);
    FreeNames(d);
  }

  DirIndex *Lookup(dev_t dev, ino_t ino) {
    if (indexSize_ == 0) return nullptr;
    for (int i = byInode_[InodeBucket(dev, ino)]; i != -1; i = slots_[i].nextByInode) {
      DirIndex &d = slots_[i];
      if (d.wd >= 0 && d.dev == dev && d.ino == ino) return &d;
    }
    return nullptr;
  }

  DirIndex *ByWatch(int wd) {
    if (indexSize_ == 0) return nullptr;
    for (int i = byWatch_[WatchBucket(wd)]; i != -1; i = slots_[i].nextByWatch) {
      if (slots_[i].wd == wd) return &slots_[i];
    }
    return nullptr;
  }

  // Room for one more directory: twice the slots and the indexes, rebuilt.
  bool GrowSlots() {
    int count = slotCount_ == 0 ? 16 : slotCount_ * 2;
    if (count > kMaxSlots) return false;
    std::size_t index = static_cast<std::size_t>(count) * 2;
    DirIndex *slots = static_cast<DirIndex *>(std::realloc(slots_, sizeof(DirIndex) * count));
    if (slots == nullptr) return false;
    slots_ = slots;
    int *byInode = static_cast<int *>(std::malloc(sizeof(int) * index));
    int *byWatch = static_cast<int *>(std::malloc(sizeof(int) * index));
    if (byInode == nullptr || byWatch == nullptr) {
      std::free(byInode);
      std::free(byWatch);
      return false;
    }
    std::free(byInode_);
    std::free(byWatch_);
    byInode_ = byInode;
    byWatch_ = byWatch;
    indexSize_ = index;
    for (std::size_t b = 0; b < index; ++b) byInode_[b] = byWatch_[b] = -1;
    for (int i = slotCount_; i < count; ++i) Clear(&slots_[i]);
    slotCount_ = count;
    for (int i = 0; i < used_; ++i) {
      if (slots_[i].wd >= 0) Link(i);
    }
    return true;
  }

  // A free slot, or the one used least recently, emptied.
  DirIndex *FreeSlot() {
    DirIndex *d = nullptr;
    for (int i = 0; i < used_; ++i) {
      DirIndex &s = slots_[i];
      if (s.wd < 0) return &s;
      if (d == nullptr || s.lastUse < d->lastUse) d = &s;
    }
    if (used_ < slotCount_ || GrowSlots()) return &slots_[used_++];
    if (d != nullptr) Drop(d, true);
    return d;
  }

  // Makes room for names beyond the budget by dropping the directories
  // used least recently, `keep` apart.
  void Trim(DirIndex *keep) {
    while (entries_ > kMaxEntries) {
      DirIndex *d = nullptr;
      for (int i = 0; i < used_; ++i) {
        DirIndex &s = slots_[i];
        if (s.wd >= 0 && &s != keep && (d == nullptr || s.lastUse < d->lastUse)) d = &s;
      }
      if (d == nullptr) return;
      Drop(d, true);
    }
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

  bool Insert(DirIndex *d, const char *name) {
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
    ++entries_;
    return true;
  }

  void Remove(DirIndex *d, const char *name) {
    if (d->bucketCount == 0) return;
    std::uint32_t h = FoldedHash(name);
    for (Entry **link = &d->buckets[h % d->bucketCount]; *link != nullptr;
         link = &(*link)->next) {
      Entry *e = *link;
      if (e->hash == h && std::strcmp(e->name, name) == 0) {
        *link = e->next;
        std::free(e);
        --d->count;
        --entries_;
        return;
      }
    }
  }

  // Applies what changed in the watched directories since the last look.
  void Drain() {
    alignas(struct inotify_event) char buf[8192];
    for (;;) {
      int pending = 0;
      if (::ioctl(fd_, FIONREAD, &pending) != 0) {
        Forget();  // no queue to read: not ours after all
        return;
      }
      if (pending <= 0) return;
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return;
      }
      for (ssize_t at = 0; at < n;) {
        const struct inotify_event *ev = reinterpret_cast<const struct inotify_event *>(buf + at);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
        if (ev->mask & IN_Q_OVERFLOW) {
          // Changes were lost: nothing cached can be trusted.
          for (int i = 0; i < used_; ++i) Drop(&slots_[i], true);
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
      // What arrives after this read is seen at the next look, as if it
      // came after it: one more round at most when the buffer was full.
      if (static_cast<std::size_t>(n) + sizeof(struct inotify_event) + NAME_MAX + 1 <=
          sizeof buf) {
        return;
      }
    }
  }

  DirIndex *Build(const char *dirPath, const struct stat &st) {
    DirIndex *d = FreeSlot();
    if (d == nullptr) return nullptr;
    // The watch first, then the reading: whatever changes in between
    // arrives as an event and is applied to what was read.
    int wd = ::inotify_add_watch(fd_, dirPath, kEvents);
    if (wd < 0 && errno == ENOSPC) {
      // Out of watches: give back the one used least recently.
      DirIndex *old = nullptr;
      for (int i = 0; i < used_; ++i) {
        DirIndex &s = slots_[i];
        if (s.wd >= 0 && (old == nullptr || s.lastUse < old->lastUse)) old = &s;
      }
      if (old != nullptr) {
        Drop(old, true);
        wd = ::inotify_add_watch(fd_, dirPath, kEvents);
      }
    }
    if (wd < 0) return nullptr;
    if (ByWatch(wd) != nullptr) return nullptr;  // the same directory under another name
    d->wd = wd;
    d->dev = st.st_dev;
    d->ino = st.st_ino;
    Link(static_cast<int>(d - slots_));
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
    Trim(d);
    return d;
  }

  std::mutex mutex_;
  int fd_;  // the inotify instance; -2 before the first use, -1 if there is none
  dev_t fdDev_;  // its device and inode, as fstat gave them at the opening
  ino_t fdIno_;
  bool forked_;
  unsigned long clock_;
  DirIndex *slots_;  // slotCount_ of them, the first used_ ever taken
  int slotCount_;
  int used_;
  int *byInode_;  // indexSize_ chains of slots, by device and inode
  int *byWatch_;  // and by watch
  std::size_t indexSize_;
  std::size_t entries_;  // names held in all
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

// Resolves "." and ".." components in the text, in place, as Windows does
// before it looks at the file system: "a/../b" is "b" whether or not "a"
// exists. A ".." at the root stays there; leading ".." of a relative name
// stay; a name that resolves to nothing is "." (with its final separator,
// if it had one).
void ResolveDots(char *path) {
  const std::size_t len = std::strlen(path);
  std::size_t lead = 0;
  while (lead < len && path[lead] == '/') ++lead;
  std::size_t w = lead;  // written so far; components separated by one '/'
  std::size_t keep = lead;  // where the part that ".." may not take back ends
  bool changed = false;
  std::size_t r = lead;
  while (r < len) {
    std::size_t start = r;
    while (r < len && path[r] != '/') ++r;
    std::size_t n = r - start;
    while (r < len && path[r] == '/') ++r;
    if (n == 1 && path[start] == '.') {
      changed = true;
      continue;
    }
    if (n == 2 && path[start] == '.' && path[start + 1] == '.') {
      if (w > keep) {
        // Back to the separator before the last component.
        std::size_t back = w - 1;
        while (back > keep && path[back - 1] != '/') --back;
        w = back;
        changed = true;
        continue;
      }
      if (lead != 0) {  // above the root: the root
        changed = true;
        continue;
      }
    }
    std::memmove(path + w, path + start, n);
    w += n;
    if (n == 2 && path[w - 1] == '.' && path[w - 2] == '.') keep = w + 1;  // a leading ".."
    if (r < len || path[len - 1] == '/') path[w++] = '/';
  }
  if (!changed) return;
  if (w == 0) path[w++] = '.';
  path[w] = '\0';
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
  ResolveDots(out);
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
