// Record configuration files: the bytes on disk, reading, adding and
// deleting entries, and threads sharing one file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/files/config_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "tests/support/temp_dir.h"

namespace {

const unsigned int kFail = 0xFFFFFFFFu;

std::string Hex(const std::string &bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// The last error is REC library message `number`.
void ExpectRecError(unsigned int number) {
  const tCATMSG *cat = dynamic_cast<const tCATMSG *>(tTHREAD::GetLastError());
  ASSERT_TRUE(cat && cat->GetCatalog() == &kelrec::Catalog());
  EXPECT_EQ(number, cat->GetMsgId());
}

class ConfigFileTest : public kelcore_test::TempDirTest {
 protected:
  std::string path() { return tmp.File("c.cfg"); }
  std::string Bytes() {
    std::string b;
    kelcore_test::ReadWholeFile(path(), &b);
    return b;
  }
};

TEST_F(ConfigFileTest, BytesOnDisk) {
  tCFGFILE cfg;
  ASSERT_EQ(0u, cfg.SetFile(path().c_str(), nullptr, nullptr, nullptr));
  ASSERT_EQ(0u, cfg.Create(3, 1, 0666));
  const unsigned char raw[] = {1, 2, 0, 0xFF};
  struct {
    const char *what;
    unsigned int status;
    std::string hex;  // the bytes the step appends
  } steps[] = {
      {"string", cfg.AddRec(7, "abc"), "07 00 00 00 04 00 00 00 61 62 63 00"},
      {"empty string", cfg.AddRec(5, ""), "05 00 00 00 01 00 00 00 00"},
      {"raw bytes", cfg.AddRec(0x01020304u, raw, 4), "04 03 02 01 04 00 00 00 01 02 00 FF"},
      {"no bytes", cfg.AddRec(9, raw, 0), "09 00 00 00 00 00 00 00"},
      {"type 255 is refused", cfg.AddRec(255, "x"), ""},
  };
  ExpectRecError(8);
  std::string all;
  for (auto &s : steps) {
    SCOPED_TRACE(s.what);
    EXPECT_EQ(s.hex.empty() ? kFail : 0u, s.status);
    if (!all.empty() && !s.hex.empty()) all += ' ';
    all += s.hex;
  }
  // Deleting marks the type in place and leaves length and body alone.
  ASSERT_EQ(0u, cfg.Seek(0, nullptr));
  ASSERT_EQ(0u, cfg.DeleteRec(5));
  unsigned long pos = 99;
  cfg.GetPos(&pos);
  EXPECT_EQ(12u, pos) << "at the deleted entry's header";
  ASSERT_EQ(0u, cfg.Close());
  all.replace(36, 2, "FF");
  EXPECT_EQ(all, Hex(Bytes()));
}

TEST_F(ConfigFileTest, GetAddDelete) {
  tCFGFILE cfg;
  ASSERT_EQ(0u, cfg.SetFile(path().c_str(), "CFG", "B.01.00", cCFG_VERSION));
  ASSERT_EQ(0u, cfg.Create(3, 1, 0666));
  ASSERT_EQ(0u, cfg.AddRec(7, "abc"));
  ASSERT_EQ(0u, cfg.AddRec(3, "old"));
  ASSERT_EQ(0u, cfg.AddRec(3, "new"));
  ASSERT_EQ(0u, cfg.AddRec(7, "second"));
  ASSERT_EQ(0u, cfg.Close());
  ASSERT_EQ(0u, cfg.OpenExisting(3, 1));
  unsigned long first = 0;
  ASSERT_EQ(0u, cfg.GetPos(&first));
  EXPECT_EQ(38u, first) << "after identification and version record";

  char buf[10];
  unsigned int len = 0;
  struct {
    unsigned int type, size;
    bool as_string;
    unsigned int status, length;
    std::string got;
  } reads[] = {
      {7, 10, true, 0, 4, std::string("abc\0", 4)},
      {7, 2, true, 8, 4, "ab"},
      {7, 4, false, 0, 4, std::string("abc\0", 4)},
      {7, 10, false, 9, 4, std::string("abc\0", 4)},
      {3, 10, true, 0, 4, std::string("old\0", 4)},
      {42, 10, true, 1, 0, ""},
  };
  for (auto &r : reads) {
    SCOPED_TRACE(std::to_string(r.type) + "/" + std::to_string(r.size));
    ASSERT_EQ(0u, cfg.Seek(static_cast<long>(first), nullptr));
    std::memset(buf, 'z', sizeof buf);
    len = 0;
    unsigned int status = r.as_string ? cfg.GetRec(r.type, buf, r.size)
                                      : cfg.GetRec(r.type, static_cast<void *>(buf), r.size, &len);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.got, std::string(buf, r.got.size()));
    if (r.got.size() < sizeof buf) {
      EXPECT_EQ('z', buf[r.got.size()]) << "nothing written beyond";
    }
    if (!r.as_string) {
      EXPECT_EQ(r.length, len);
    }
  }
  ExpectRecError(9);

  // Updating: delete, then add. The search then finds the next live entry.
  ASSERT_EQ(0u, cfg.Seek(static_cast<long>(first), nullptr));
  ASSERT_EQ(0u, cfg.DeleteRec(3));
  ASSERT_EQ(0u, cfg.AddRec(3, "newest"));
  ASSERT_EQ(0u, cfg.Seek(static_cast<long>(first), nullptr));
  ASSERT_EQ(0u, cfg.GetRec(3, buf, sizeof buf));
  EXPECT_STREQ("new", buf);
  ASSERT_EQ(0u, cfg.Seek(static_cast<long>(first), nullptr));
  ASSERT_EQ(0u, cfg.DeleteRec(7));
  ASSERT_EQ(0u, cfg.DeleteRec(7));
  EXPECT_EQ(1u, cfg.DeleteRec(7));
  ASSERT_EQ(0u, cfg.Seek(static_cast<long>(first), nullptr));
  EXPECT_EQ(1u, cfg.GetRec(7, buf, sizeof buf));
  unsigned long size = 0;
  cfg.GetSize(&size);
  ASSERT_EQ(0u, cfg.Close());
  EXPECT_EQ(size, Bytes().size()) << "deleting never shrinks the file";
}

// An operating-system file whose lock is real, for threads sharing it.
class LockedOsFile : public tINTRA_PROCESS_LOCK,
                     public tPHYSICAL_FILE,
                     public tOSFILEIO,
                     public tPCFILENAME,
                     public tOSFILESYS {
 public:
  unsigned int AllocCompatFileObj(tPHYSICAL_FILE **out) const override {
    *out = new tOSFILE;
    return 0;
  }
  unsigned int AllocCompatDirObj(tPHYSICAL_DIR **out) const override {
    return tOSFILE().AllocCompatDirObj(out);
  }
};

// Two threads work on one configuration file. Each appends entries of its
// own type (each AddRec is one step, so none lands on another), then
// updates one entry of its own type many times, holding the file's lock
// around the search, delete and add as the file's own operations do.
TEST_F(ConfigFileTest, TwoThreadsUpdatingOneFile) {
  LockedOsFile *phys = new LockedOsFile;
  tCFGFILE cfg(*phys, 1);
  ASSERT_EQ(0u, cfg.SetFile(path().c_str(), nullptr, nullptr, nullptr));
  ASSERT_EQ(0u, cfg.Create(3, 1, 0666));
  const int kAdds = 300, kUpdates = 200;
  auto work = [&](unsigned int type) {
    for (int i = 0; i < kAdds; ++i) {
      std::string value = std::to_string(type) + ":" + std::to_string(i);
      if (cfg.AddRec(type, value.c_str()) != 0) return;
    }
    cfg.AddRec(type + 1, "0");
    for (int i = 1; i <= kUpdates; ++i) {
      tOBJECT_LOCK hold(cfg);
      if (cfg.Seek(0, nullptr) != 0 || cfg.DeleteRec(type + 1) != 0) return;
      if (cfg.AddRec(type + 1, std::to_string(i).c_str()) != 0) return;
    }
  };
  std::thread a(work, 10), b(work, 20);
  a.join();
  b.join();

  // Every record is whole; each thread's entries are in its own order; one
  // live entry per updated type, holding the last value.
  ASSERT_EQ(0u, cfg.Seek(0, nullptr));
  int next[2] = {0, 0}, live[2] = {0, 0}, deleted = 0;
  char buf[32];
  unsigned int type = 0, len = 0, status;
  while ((status = cfg.ReadRec(buf, sizeof buf, &type, &len)) == 9) {
    if (type == 255) {
      ++deleted;
    } else if (type == 10 || type == 20) {
      int t = type == 20;
      EXPECT_EQ(std::to_string(type) + ":" + std::to_string(next[t]++), buf);
    } else {
      ASSERT_TRUE(type == 11 || type == 21) << type;
      ++live[type == 21];
      EXPECT_STREQ(std::to_string(kUpdates).c_str(), buf);
    }
  }
  EXPECT_EQ(kFail, status) << "the end of the file where a header would begin";
  EXPECT_EQ(kAdds, next[0]);
  EXPECT_EQ(kAdds, next[1]);
  EXPECT_EQ(1, live[0]);
  EXPECT_EQ(1, live[1]);
  EXPECT_EQ(2 * kUpdates, deleted);
}

}  // namespace
