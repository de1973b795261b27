// Linux only: where the POSIX layer under directories differs from Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#if defined(__linux__)
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/dirs/drive.h"
#include "kelcore/dirs/os_dir.h"
#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
const unsigned int WHOLE = tDIRDEFS::DELETE_SUBDIRS | tDIRDEFS::DELETE_DIR;

template <class T> struct Named : T {
  explicit Named(const std::string &name) { this->SetName(name.c_str()); }
};

void Touch(const std::string &path) {
  fs::create_directories(fs::path(path).parent_path());
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ::close(fd);
}

// `body` in a forked child under a time limit: its exit code, 128 + the
// signal that ended it (SIGALRM: it hung), or -1.
template <class Body> int InChild(Body body, unsigned int seconds = 20) {
  pid_t pid = fork();
  if (pid == 0) {
    alarm(seconds);
    _exit(body());
  }
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Through the directory cache when `name` is spelled in another case.
unsigned int LookUp(const std::string &name) {
  Named<tOSFILE> f(name);
  unsigned int status = f.OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYNONE);
  if (status == 0) status = f.Close();
  return status;
}

int InotifyDescriptor() {
  int found = -1;
  DIR *fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  while (struct dirent *e = ::readdir(fds)) {
    char link[64] = {};
    std::string path = std::string("/proc/self/fd/") + e->d_name;
    if (::readlink(path.c_str(), link, sizeof link - 1) > 0 &&
        std::strcmp(link, "anon_inode:inotify") == 0) {
      found = std::atoi(e->d_name);
    }
  }
  ::closedir(fds);
  return found;
}

int SystemCode() {
  const tCATMSG *cat = dynamic_cast<const tCATMSG *>(tTHREAD::GetLastError());
  for (unsigned int i = 0; cat != nullptr && i < cat->NumParms(); ++i) {
    if (auto *s = dynamic_cast<const tPARM_SYSERR *>(&(*cat)[i])) return s->Value();
  }
  return 0;
}

class PosixDirTest : public kelcore_test::TempDirTest {
 protected:
  std::string P(const std::string &rel) const { return tmp.File(rel); }
};

// Neither a tmpfs nor a bind mount inside a tree is entered by deletion.
TEST_F(PosixDirTest, TreeDeletionNeverEntersAMountPoint) {
  for (const char *file : {"outside/precious.dat", "outside/deep/more.dat", "t/f"}) {
    Touch(P(file));
  }
  for (const char *dir : {"t/m", "t/tm"}) fs::create_directories(P(dir));
  const std::string t = P("t"), m = P("t/m"), tm = P("t/tm"), outside = P("outside");
  int code = InChild([&] {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(outside.c_str(), m.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount("none", tm.c_str(), "tmpfs", 0, nullptr) != 0) {
      return 77;
    }
    int fd = ::open((tm + "/kept.dat").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return 78;
    ::close(fd);
    int bad = Named<tOSDIR>(t).DeleteFiles(tDIRDEFS::DELETE_SUBDIRS) != 0;
    bad |= (Named<tOSDIR>(t).DeleteFiles(WHOLE) != 3) << 1;
    bad |= (fs::exists(t + "/f")) << 2;
    bad |= (!fs::exists(m + "/precious.dat") || !fs::exists(m + "/deep/more.dat")) << 3;
    bad |= (!fs::exists(tm + "/kept.dat")) << 4;
    ::umount(m.c_str());
    ::umount(tm.c_str());
    return bad;
  });
  if (code == 77) GTEST_SKIP() << "no private mount namespace here (needs CAP_SYS_ADMIN)";
  EXPECT_EQ(0, code) << "failed checks, one bit each";
  EXPECT_TRUE(fs::exists(P("outside/precious.dat")) && fs::exists(P("outside/deep/more.dat")) &&
              fs::exists(P("outside/deep")));
}

// The name cache's descriptor is close-on-exec and non-blocking, and once
// the program closed and reused its number, a lookup leaves that alone.
TEST_F(PosixDirTest, TheNameCacheLeavesTheProgramsDescriptorsAlone) {
  Touch(P("Probe.dat"));
  const std::string other = P("PROBE.DAT");
  ASSERT_EQ(0u, LookUp(other));
  const int fd = InotifyDescriptor();
  if (fd < 0) GTEST_SKIP() << "no inotify instance (out of instances, or no /proc)";
  EXPECT_EQ(FD_CLOEXEC, ::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_EQ(O_NONBLOCK, ::fcntl(fd, F_GETFL) & O_NONBLOCK);
  const struct { const char *what; int bytes; bool forked; } cases[] = {
      {"a pipe holding 22 bytes", 22, false},
      {"an empty blocking pipe", 0, false},
      {"a log opened by a child of fork", -1, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    int code = InChild(
        [&] {
          if (c.forked) {
            ::close(fd);
            int log = ::open(P("child.log").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (log != fd) return 70;
            int bad = LookUp(other) != 0;
            bad |= (::fcntl(fd, F_GETFD) < 0 || ::write(fd, "x", 1) != 1) << 1;
            return bad;
          }
          int p[2];
          if (::pipe(p) != 0 || ::dup2(p[0], fd) != fd) return 70;
          if (c.bytes > 0 && ::write(p[1], "0123456789012345678901", 22) != 22) return 71;
          int bad = LookUp(other) != 0;
          int pending = -1;
          bad |= (::ioctl(fd, FIONREAD, &pending) != 0 || pending != c.bytes) << 1;
          bad |= (::fcntl(fd, F_GETFD) < 0) << 2;
          bad |= (LookUp(P("probe.dat")) != 0) << 3;  // a second time, on a new instance
          return bad;
        },
        10);
    EXPECT_EQ(0, code) << "failed checks, one bit each; 142: it hung";
  }
  EXPECT_EQ(0u, LookUp(other)) << "the parent's cache still works";
}

// With the current directory removed, C: is still current and mapped.
TEST_F(PosixDirTest, DrivesStayRightAfterTheCurrentDirectoryIsRemoved) {
  fs::create_directories(P("gone"));
  const std::string gone = P("gone");
  int code = InChild([&] {
    if (::chdir(gone.c_str()) != 0 || ::rmdir(gone.c_str()) != 0) return 70;
    int bad = tPHYDRIVE::GetMap() != 4ul;
    bad |= (tPHYDRIVE::GetCurrent() != 3u) << 1;
    bad |= (static_cast<char>(tDRIVE()) != 'C') << 2;
    tDRIVE next(3u);
    bad |= (next.SelectNextAvailable() != 0 || static_cast<char>(next) != 'D') << 3;
    bad |= (tDRIVE(3u).SetCurrent() != 0) << 4;
    return bad;
  });
  EXPECT_EQ(0, code) << "failed checks, one bit each";
}

// A dangling link exists, cannot be opened (status 3, system code 1920),
// and is deleted itself.
TEST_F(PosixDirTest, ALinkThatLeadsNowhereExistsAndCannotBeOpened) {
  ASSERT_EQ(0, ::symlink(P("missing").c_str(), P("dangling").c_str()));
  Named<tOSFILE> f(P("dangling"));
  int exists = 7;
  EXPECT_EQ(0u, f.Exists(&exists));
  EXPECT_EQ(1, exists);
  const unsigned int perm = 0666, share = tFILEDEFS::SHARE_DENYNONE, rw = tFILEDEFS::MODE_READWRITE;
  const unsigned int statuses[] = {f.OpenExisting(rw, share), f.OpenAlways(rw, share, perm),
                                   f.Create(rw, share, perm)};
  for (unsigned int status : statuses) {
    EXPECT_EQ(3u, status);
    EXPECT_EQ(1920, SystemCode());
  }
  EXPECT_FALSE(fs::exists(P("missing"))) << "nothing made behind the link";
  EXPECT_EQ(0u, f.Delete());
  EXPECT_FALSE(fs::is_symlink(P("dangling")));
}

}  // namespace
#endif  // __linux__
