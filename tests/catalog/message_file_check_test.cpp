// tMSGFILE::Check on real files, and tMSGFILE::DescribeFailure, which names
// the file and the reason even when the texts are in the file that failed.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/sync/thread.h"
#include "tests/support/message_file.h"
#include "tests/support/temp_dir.h"

namespace {

using kelcore_test::CompileCatalogs;

void ClearLastError() { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

std::string EnglishCatalogBytes() {
  std::string source;
  EXPECT_TRUE(kelcore_test::ReadWholeFile(KELCORE_SOURCE_DIR "/kelcore/catalog/kelcore.msg",
                                          &source));
  return CompileCatalogs({source});
}

std::string Describe(tMSG *msg) {
  char *text = tMSGFILE::DescribeFailure(msg);
  std::string s = text != nullptr ? text : "(null)";
  delete[] text;
  return s;
}

class MessageFileCheck : public kelcore_test::TempDirTest {
 protected:
  void SetUp() override { ClearLastError(); }
  void TearDown() override { ClearLastError(); }
};

// Every built-in text is the English catalog's, parameters and all: with
// the library's texts registered, a message formats as it describes; with
// a registered file that cannot be opened, it formats as the failed lookup
// and still describes the same.
TEST_F(MessageFileCheck, TheBuiltInWordsAreTheEnglishCatalogs) {
  // kind: 'o' OS, 'c' C stream, 'f' FILESYS, 'r' REC, 'p' a plain message
  // with the OS id string.
  auto make = [](char kind, unsigned int n) -> tMSG * {
    switch (kind) {
      case 'o': return &(*tOSERR::Make(n, 2) << "data/x.cat");
      case 'c': return &(*kelcstream::NewLibraryError(n, EACCES) << "data/x.cat");
      case 'f': return &(*kelfilesys::NewLibraryError(n) << "data/x.cat");
      case 'r':
        return &(*kelrec::NewLibraryError(n) << "h.rec" << "HISTORY" << "A.01.00" << "A.02.00"
                                             << "A.01.00" << "JOURNAL");
      default: return new tMSGSTR("plain %0", kelos::cID_STRING, tMSG::eERROR);
    }
  };
  const struct {
    const char *what;
    char kind;
    unsigned int n;
    bool builtin;  // false: described as it formats
  } cases[] = {
      {"OS open", 'o', 0, true},         {"OS read", 'o', 2, true},
      {"OS size", 'o', 10, true},        {"OS seek", 'o', 17, true},
      {"OS position", 'o', 18, true},    {"C stream open", 'c', 0, true},
      {"C stream seek", 'c', 8, true},   {"C stream position", 'c', 9, true},
      {"C stream size", 'c', 11, true},  {"FILESYS access", 'f', 2, true},
      {"FILESYS end", 'f', 3, true},     {"REC 1", 'r', 1, true},
      {"REC 2", 'r', 2, true},           {"REC 3", 'r', 3, true},
      {"REC 4", 'r', 4, true},           {"REC 5", 'r', 5, true},
      {"REC 6", 'r', 6, true},           {"REC 7", 'r', 7, true},
      {"OS write, not a message file's", 'o', 3, false},
      {"REC 9, not a message file's", 'r', 9, false},
      {"a plain message", 'p', 0, false},
  };
  const std::string good = tmp.File("kelcore.cat");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(good, EnglishCatalogBytes()));
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::string english;
    {
      kelcore_test::RegisteredMessageFile texts(good);
      std::unique_ptr<tMSG> msg(make(c.kind, c.n));
      english = msg->Format();
      EXPECT_EQ(english, Describe(msg.get()));
    }
    kelcore_test::RegisteredMessageFile wrong(tmp.File("nowhere/kelcore.cat"));
    std::unique_ptr<tMSG> msg(make(c.kind, c.n));
    if (c.builtin) {
      EXPECT_EQ(0u, std::string(msg->Format()).find("Message catalog error (")) << msg->Format();
      EXPECT_EQ(english, Describe(msg.get()));
    } else {
      EXPECT_EQ(msg->Format(), Describe(msg.get()));
    }
  }
  EXPECT_EQ("(null)", Describe(nullptr));
  // Describing leaves the last error alone.
  tMSG *pending = new tMSGSTR("pending", "test", tMSG::eERROR);
  tTHREAD::SetLastError(pending);
  std::unique_ptr<tMSG> msg(tOSERR::Make(0, 3));
  Describe(msg.get());
  EXPECT_EQ(pending, tTHREAD::GetLastError());
}

// Check on real files: what it returns, what the failure describes as, and
// that it leaves the file as it found it.
TEST_F(MessageFileCheck, ChecksTheFileAsALookupWouldFindIt) {
  const std::string english = EnglishCatalogBytes();
  const std::string two = CompileCatalogs(
      {"$catalog tool message catalog\n$version A.01.00\n$set 1\n1 hi\n", "$catalog other\n"});
  const struct {
    const char *what;
    const char *name;
    std::string bytes;  // written unless the name is "-"
    const char *id;     // what SetFile expects
    unsigned int status;
    const char *said;   // the description starts so (after the path for "<path>")
  } cases[] = {
      {"the library's texts", "kelcore.cat", english, nullptr, 0, ""},
      {"two catalogs, the first expected", "tool.cat", two, "tool message catalog", 0, ""},
      {"a missing file", "missing.cat", "-", nullptr, 1,
       "Cannot open <path>: <2>"},
      {"a missing folder", "nowhere/kelcore.cat", "-", nullptr, 1,
       "Cannot open <path>: <3>"},
      {"another first catalog", "tool2.cat", two, "viewer message catalog", 7,
       "<path> is not a \"viewer message catalog\" file: its identification is \"tool message "
       "catalog\""},
      {"an empty file", "empty.cat", "", nullptr, 4, "Unexpected end of file in <path>"},
      {"a text file", "notes.cat", "just some notes\nand more\n", nullptr, 0xFFFFFFFF,
       "<path> is damaged"},
      {"cut inside the second catalog", "cut2.cat", two.substr(0, two.size() - 3), nullptr,
       0xFFFFFFFF, ""},
      {"cut inside the first catalog's header", "cut1.cat", english.substr(0, 60), nullptr,
       0xFFFFFFFF, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = tmp.File(c.name);
    if (std::string(c.bytes) != "-") {
      ASSERT_TRUE(kelcore_test::WriteWholeFile(path, c.bytes));
    }
    tMSGFILE file;
    file.SetFile(path.c_str(), c.id, nullptr, nullptr);
    tMSG *pending = new tMSGSTR("pending", "test", tMSG::eERROR);
    tTHREAD::SetLastError(pending);
    EXPECT_EQ(c.status, file.Check());
    EXPECT_EQ(0, file.IsOpen());
    if (c.status == 0) {
      EXPECT_EQ(pending, tTHREAD::GetLastError());
      // An open file stays open.
      ASSERT_EQ(0u, file.Open());
      EXPECT_EQ(0u, file.Check());
      EXPECT_NE(0, file.IsOpen());
      continue;
    }
    ASSERT_NE(pending, tTHREAD::GetLastError());
    std::string said = c.said, described = Describe(tTHREAD::GetLastError());
    // The system's words for codes 2 and 3 (its own text on Windows).
    for (int code = 2; code <= 3; ++code) {
      const std::string mark = "<" + std::to_string(code) + ">";
      char reason[1024];
      tPARM_SYSERR(code).Format(reason, nullptr);
      const std::size_t at = said.find(mark);
      if (at != std::string::npos) said.replace(at, mark.size(), reason);
    }
    const std::size_t at = said.find("<path>");
    if (at != std::string::npos) said.replace(at, 6, path);
    EXPECT_EQ(0u, described.find(said)) << described;
  }
}

#if !defined(_WIN32)
// Linux: a file the program may not read (skipped for root, who may).
TEST_F(MessageFileCheck, AnUnreadableFileIsStatus3) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string path = tmp.File("locked.cat");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(path, EnglishCatalogBytes()));
  ASSERT_EQ(0, chmod(path.c_str(), 0));
  tMSGFILE file;
  file.SetFile(path.c_str(), nullptr, nullptr, nullptr);
  EXPECT_EQ(3u, file.Check());
  char reason[1024];
  tPARM_SYSERR(5).Format(reason, nullptr);
  EXPECT_EQ("Cannot open " + path + ": " + reason, Describe(tTHREAD::GetLastError()));
}
#endif

}  // namespace
