// Message files and catalog lookup, on files compiled by the catalog
// compiler.
#include <gtest/gtest.h>

#include <atomic>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/files/plain_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/log_capture.h"
#include "tests/support/message_file.h"
#include "tests/support/temp_dir.h"

namespace {

using kelcore_test::CompileCatalogs;
using kelcore_test::RegisteredMessageFile;

void ClearLastError() { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

// "set:number" of the thread's last error when it is a MSGFILE message,
// else "other" or "none".
std::string LastErrorNumber() {
  tMSG *msg = tTHREAD::GetLastError();
  if (msg == nullptr) return "none";
  const tCATMSG *cat = dynamic_cast<const tCATMSG *>(msg);
  if (cat == nullptr || cat->GetCatalog() != &kelmsgfile::Catalog()) return "other";
  return std::to_string(cat->GetSetId()) + ":" + std::to_string(cat->GetMsgId());
}

// One GetMsg: its status, and the text or "(null)" when none came back.
unsigned int Get(tMSGCAT &cat, unsigned int set, unsigned int msg, std::string *text) {
  char *t = nullptr;
  const unsigned int result = cat.GetMsg(set, msg, &t);
  *text = t != nullptr ? t : "(null)";
  delete[] t;
  return result;
}

// One GetMsg checked: its status, its text (nullptr: none) and the last error.
void ExpectRead(tMSGCAT &cat, unsigned int set, unsigned int msg, unsigned int result,
                const char *text, const char *error) {
  SCOPED_TRACE(std::to_string(set) + ":" + std::to_string(msg));
  ClearLastError();
  std::string got;
  EXPECT_EQ(result, Get(cat, set, msg, &got));
  EXPECT_EQ(text ? text : "(null)", got);
  EXPECT_EQ(error, LastErrorNumber());
}

class MessageFileTest : public kelcore_test::TempDirTest {
 protected:
  void SetUp() override { ClearLastError(); }
  void TearDown() override { ClearLastError(); }
  std::string Write(const std::string &name, const std::string &bytes) {
    EXPECT_TRUE(kelcore_test::WriteWholeFile(tmp.File(name), bytes));
    return tmp.File(name);
  }
};

TEST_F(MessageFileTest, FindCatalogByNameOffsetAndLanguage) {
  const std::string a = CompileCatalogs({"$catalog A\n$language american\n$set 1\n1 a\n"});
  // Two catalogs named B: the search stops at the first.
  const std::string b1 = CompileCatalogs({"$catalog B\n$language German\n"});
  const std::string b2 = CompileCatalogs({"$catalog B\n$language english\n"});
  tMSGFILE file;
  file.SetFile(Write("f.cat", a + b1 + b2).c_str(), nullptr, nullptr, nullptr);
  const unsigned long b1_at = a.size(), b2_at = a.size() + b1.size();
  const struct {
    const char *name;
    unsigned long start;
    const char *language;
    unsigned int result;
    unsigned long position;  // after success
    const char *error;
  } cases[] = {
      {"B", 0, nullptr, 0, b1_at, "none"},
      {"B", 0, "", 0, b1_at, "none"},
      {"B", 0, "GERMAN", 0, b1_at, "none"},
      {"A", 0, "American", 0, 0, "none"},
      {nullptr, b2_at, nullptr, 0, b2_at, "none"},
      {nullptr, b1_at, "english", 0xFFFFFFFFu, 0, "1:1"},
      {"B", 0, "english", 0xFFFFFFFFu, 0, "1:1"},
      {"B", b2_at, "english", 0, b2_at, "none"},
      {"b", 0, nullptr, 10, 0, "1:0"},
      {"A", 1, nullptr, 10, 0, "1:0"},  // inside A: an empty name, then B, B
      {"A", b1_at, nullptr, 10, 0, "1:0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " from " + std::to_string(c.start));
    ClearLastError();
    EXPECT_EQ(c.result, file.FindCatalog(c.name, c.start, c.language));
    EXPECT_EQ(c.error, LastErrorNumber());
    unsigned long pos = 0;
    if (c.result == 0) {
      EXPECT_EQ(0u, file.GetPos(&pos));
      EXPECT_EQ(c.position, pos);
    }
  }
  const unsigned long end = static_cast<unsigned long>(b2_at + b2.size());
  const unsigned long next[][3] = {{b1_at, 0, b2_at}, {b2_at, 0, end}, {end, 4, 0}};
  for (const auto &n : next) {
    unsigned long pos = 0;
    EXPECT_EQ(n[1], file.FindNextCatalog(n[0])) << n[0];
    if (n[1] == 0) { EXPECT_EQ(0u, file.GetPos(&pos)); }
    EXPECT_EQ(n[2], pos);
  }
  // A header record of another type, or a catalog length of 0: corrupt.
  for (unsigned int field : {0u, 8u + 8u}) {
    std::string bad = a;
    bad[1 + 3 + 32 + field] = field == 0 ? 7 : 0;  // the header record at 36
    tMSGFILE damaged;
    damaged.SetFile(Write("bad.cat", bad).c_str(), nullptr, nullptr, nullptr);
    ClearLastError();
    EXPECT_EQ(0xFFFFFFFFu, damaged.FindCatalog("X", 0, nullptr));
    EXPECT_EQ("0:0", LastErrorNumber());
  }
}

TEST_F(MessageFileTest, InitializeChecksTheFirstCatalog) {
  const std::string path =
      Write("app.cat", CompileCatalogs({"$catalog Demo message catalog\n$version A.01.03\n"}));
  const struct {
    const char *file, *catalog, *version;
    unsigned int result;
  } cases[] = {
      {path.c_str(), "Demo message catalog", "A.01.00", 0},
      {path.c_str(), "demo message catalog", "A.01.00", 7},
      {path.c_str(), "Demo message catalog", "A.02.00", 7},
      {"missing.cat", "Demo message catalog", "A.01.00", 1},
  };
  for (const auto &c : cases) {
    tSTDMSGFILE file;
    EXPECT_EQ(c.result, file.Initialize(c.file, c.catalog, c.version, "american"));
    EXPECT_EQ(c.result == 0, file.IsOpen() != 0);
  }
}

TEST_F(MessageFileTest, TheRegistrySearchesFilesInOrderAndForgetsDestroyedOnes) {
  auto first = std::make_unique<RegisteredMessageFile>(
      tmp.File("1.cat"), std::vector<std::string>{"$catalog X\n1 first\n"});
  auto second = std::make_unique<RegisteredMessageFile>(
      tmp.File("2.cat"), std::vector<std::string>{"$catalog X\n1 second\n$catalog Y\n1 y\n"});
  auto third = std::make_unique<RegisteredMessageFile>(
      tmp.File("3.cat"), std::vector<std::string>{"$catalog Z\n1 z\n"});
  // "status text" of message 1:1, "" when the status is 0.
  auto text = [](tMSGCAT &cat) {
    std::string t;
    const unsigned int result = Get(cat, 1, 1, &t);
    return result == 0 ? t : std::to_string(result) + " " + t;
  };
  tMSGCAT x("X", "A.00.00", nullptr), y("Y", "A.00.00", nullptr), z("Z", nullptr, nullptr),
      w("W", nullptr, nullptr);
  EXPECT_EQ("first", text(x));
  EXPECT_EQ("y", text(y));
  EXPECT_EQ("z", text(z));
  EXPECT_EQ("10 (null)", text(w));
  EXPECT_EQ("1:0", LastErrorNumber());
  // A bound catalog whose file is destroyed finds its catalog again
  // elsewhere, and never reads the destroyed file.
  second.reset();
  EXPECT_EQ("10 (null)", text(y));
  first.reset();
  tMSGCAT fresh_z("Z", nullptr, nullptr);
  EXPECT_EQ("z", text(fresh_z));
  EXPECT_EQ("10 (null)", text(x));
  auto again = std::make_unique<RegisteredMessageFile>(
      tmp.File("4.cat"), std::vector<std::string>{"$catalog Y\n1 new y\n"});
  EXPECT_EQ("new y", text(y));
  third.reset();
  again.reset();
  EXPECT_EQ("4294967295 (null)", text(y));  // no message file at all
  EXPECT_EQ("0:3", LastErrorNumber());
}

TEST_F(MessageFileTest, CatalogReads) {
  std::string src = "$catalog C\n$version A.02.07\n$set 1\n";
  for (int i = 1; i <= 25; ++i) src += std::to_string(i) + " text " + std::to_string(i) + "\n";
  src += "$set 2\n1 one\n3 three\n5 five\n$set 7\n";
  RegisteredMessageFile file(tmp.File("c.cat"), {src, "$catalog W\n$width 2\n$set 0\n0 abc\n",
                                                 "$catalog V\n$version A.03.00\n"});
  tMSGCAT cat("C", "A.02.00", nullptr);
  // First from the view made at binding; then, the file closed and opened
  // again (which drops the view), from the file: the same answers.
  for (int pass = 0; pass < 2; ++pass) {
  SCOPED_TRACE(pass == 0 ? "view" : "file");
  if (pass == 1) {
    EXPECT_EQ(0u, file.file().Close());
    EXPECT_EQ(0u, file.file().Open());
  }
  const struct {
    unsigned int set, msg, result;
    const char *text, *error;
  } reads[] = {
      {1, 23, 0, "text 23", "none"},  {1, 1, 0, "text 1", "none"},
      {1, 25, 0, "text 25", "none"},  {2, 2, 0xFFFFFFFFu, nullptr, "0:2"},
      {2, 5, 0, "five", "none"},      {2, 6, 1, nullptr, "0:2"},
      {3, 1, 1, nullptr, "0:1"},      {1, 24, 0, "text 24", "none"},  // after reading every set
      {7, 0, 1, nullptr, "0:2"},      {8, 0, 1, nullptr, "0:1"},
  };
  for (const auto &r : reads) ExpectRead(cat, r.set, r.msg, r.result, r.text, r.error);
  unsigned int id = 0;
  const struct {
    unsigned int set, msg, result, id;
  } next_msgs[] = {{2, 2, 0, 3}, {2, 0, 0, 1}, {2, 6, 1, 0}, {1, 11, 0, 11}, {9, 0, 1, 0}};
  for (const auto &n : next_msgs) {
    id = 0;
    EXPECT_EQ(n.result, cat.GetNextMsgId(n.set, n.msg, &id)) << n.set << ":" << n.msg;
    EXPECT_EQ(n.id, id);
  }
  const unsigned int next_sets[][3] = {{0, 0, 1}, {2, 0, 2}, {3, 0, 7}, {8, 1, 0}};
  for (const auto &n : next_sets) {
    id = 0;
    ClearLastError();
    EXPECT_EQ(n[1], cat.GetNextSetId(n[0], &id)) << n[0];
    EXPECT_EQ(n[2], id);
    EXPECT_EQ(n[1] == 0 ? "none" : "0:1", LastErrorNumber());
  }
  }
  // A 16-bit catalog, a too-new version, a language no catalog has.
  tMSGCAT wide("W", nullptr, nullptr), newer("V", "A.02.00", nullptr),
      other_language("C", "A.02.00", "german");
  ExpectRead(wide, 0, 0, 0, "abc", "none");
  ExpectRead(newer, 0, 0, 0xFFFFFFFFu, nullptr, "0:5");
  ExpectRead(other_language, 1, 1, 0xFFFFFFFFu, nullptr, "1:1");
}

// Once bound, a catalog is read from memory: no seek. Closed, the file
// gives no texts; opened again, it is read from the file, where the third
// index window holds 23 and 24, so 24 after 23 seeks for the text only.
TEST_F(MessageFileTest, TheWindowServesTheNextRead) {
  std::string src = "$catalog C\n$set 1\n";
  for (int i = 1; i <= 25; ++i) src += std::to_string(i) + " t" + std::to_string(i) + "\n";
  RegisteredMessageFile file(tmp.File("w.cat"), {src});
  tMSGCAT cat("C", nullptr, nullptr);
  auto seeks = [&](unsigned int msg) {
    kelcore_test::LogCapture log(0xC0, "os");
    std::string text;
    EXPECT_EQ(0u, Get(cat, 1, msg, &text));
    EXPECT_EQ("t" + std::to_string(msg), text);
    int n = 0;
    for (const std::string &line : log.Lines()) n += line.find("Seek(") != std::string::npos;
    return n;
  };
  EXPECT_GE(seeks(1), 1);  // binding reads the catalog
  EXPECT_EQ(0, seeks(23));
  EXPECT_EQ(0, seeks(5));
  EXPECT_EQ(0u, file.file().Close());
  std::string text;
  EXPECT_NE(0u, Get(cat, 1, 5, &text));
  EXPECT_EQ("(null)", text);
  EXPECT_EQ(0u, file.file().Open());
  EXPECT_GE(seeks(23), 3);  // set header, index windows, text
  EXPECT_EQ(1, seeks(24));  // the text only
  EXPECT_EQ(1, seeks(21));
  EXPECT_GE(seeks(5), 2);
}

TEST_F(MessageFileTest, DamagedFilesGiveAStatusAndAMessage) {
  const std::string good =
      CompileCatalogs({"$catalog A\n$set 1\n1 one\n", "$catalog B\n$width 2\n$set 2\n1 x\n2 yy\n"});
  // Cut at every length: each read either gives the right text or fails
  // with a message, never a crash or a wrong text.
  for (std::size_t n = 0; n <= good.size(); ++n) {
    SCOPED_TRACE(n);
    RegisteredMessageFile file(Write("t" + std::to_string(n) + ".cat", good.substr(0, n)));
    tMSGCAT a("A", nullptr, nullptr), b("B", nullptr, nullptr);
    const struct {
      tMSGCAT *cat;
      unsigned int set, msg;
      const char *text;
    } reads[] = {{&a, 1, 1, "one"}, {&b, 2, 1, "x"}, {&b, 2, 2, "yy"}};
    for (const auto &r : reads) {
      ClearLastError();
      std::string text;
      const unsigned int result = Get(*r.cat, r.set, r.msg, &text);
      EXPECT_EQ(result == 0 ? r.text : "(null)", text);
      if (result != 0) { EXPECT_NE(nullptr, tTHREAD::GetLastError()); }
      if (n == good.size()) { EXPECT_EQ(0u, result); }  // the whole file reads every text
    }
  }
}

// What a program sees with the library's English texts registered: an
// English sentence naming the file and the system's reason.
TEST_F(MessageFileTest, TheLibrarysEnglishTexts) {
  std::string source;
  ASSERT_TRUE(kelcore_test::ReadWholeFile(KELCORE_SOURCE_DIR "/kelcore/catalog/kelcore.msg",
                                          &source));
  RegisteredMessageFile texts(tmp.File("kelcore.cat"), {source});
  tBINFILE missing;
  missing.SetName(tmp.File("missing.dat").c_str());
  ASSERT_EQ(1u, missing.OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYNONE));
  const std::string text = tTHREAD::GetLastError()->Format();
  EXPECT_EQ(0u, text.find("Cannot open ")) << text;
  EXPECT_NE(std::string::npos, text.find("missing.dat: ")) << text;
  EXPECT_GT(text.size(), text.find("missing.dat: ") + 14) << text;  // the reason follows
  tMSG *rec = kelrec::NewLibraryError(9);
  *rec << "f.rec" << "ID" << "A.01.00" << "" << "" << 3u;
  EXPECT_STREQ("No record of type 3 follows the current position in f.rec", rec->Format());
  tMSG::Dispose(rec);
}

// Several threads format messages of catalogs that share one message file
// (run under ThreadSanitizer too).
TEST_F(MessageFileTest, ThreadsShareOneFile) {
  std::string src;
  for (const char *name : {"T1", "T2", "T3"}) {
    src += std::string("$catalog ") + name + "\n$set 1\n";
    for (int i = 0; i < 40; ++i) src += std::to_string(i) + " " + name + " %0 " + std::to_string(i) + "\n";
  }
  RegisteredMessageFile file(tmp.File("threads.cat"), {src});
  tMSGCAT cats[] = {tMSGCAT("T1", nullptr, nullptr), tMSGCAT("T2", nullptr, nullptr),
                    tMSGCAT("T3", nullptr, nullptr)};
  std::vector<std::thread> threads;
  std::vector<int> wrong(6, 0);
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        const unsigned int c = static_cast<unsigned int>(round + t) % 3;
        const unsigned int id = static_cast<unsigned int>(round * 7 + t) % 40;
        tCATMSG msg(&cats[c], 1, id, kelos::cID_STRING, tMSG::eERROR);
        msg << t;
        const std::string expected = "T" + std::to_string(c + 1) + " " + std::to_string(t) +
                                     " " + std::to_string(id);
        if (expected != msg.Format()) ++wrong[static_cast<std::size_t>(t)];
      }
    });
  }
  for (std::thread &t : threads) t.join();
  for (int w : wrong) EXPECT_EQ(0, w);
}

// Closing and opening the file drops the handles' views while other
// threads read through them: every read gives the text or (file closed)
// fails with a message, never a stale or wrong text.
TEST_F(MessageFileTest, ClosingWhileThreadsRead) {
  std::string src = "$catalog V\n$set 1\n";
  for (int i = 1; i <= 30; ++i) src += std::to_string(i) + " v" + std::to_string(i) + "\n";
  RegisteredMessageFile file(tmp.File("close.cat"), {src});
  tMSGCAT shared("V", nullptr, nullptr);
  std::string text;
  ASSERT_EQ(0u, Get(shared, 1, 1, &text));
  std::atomic<bool> stop(false);
  std::vector<std::thread> readers;
  std::vector<int> wrong(3, 0);
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&, t] {
      for (unsigned int i = 0; !stop.load(); ++i) {
        const unsigned int id = 1 + (i * 7 + static_cast<unsigned int>(t)) % 30;
        std::string got;
        const unsigned int result = Get(shared, 1, id, &got);
        if (result == 0 ? got != "v" + std::to_string(id)
                        : got != "(null)" || tTHREAD::GetLastError() == nullptr) {
          ++wrong[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  for (int round = 0; round < 200; ++round) {
    file.file().Close();
    file.file().Open();
  }
  stop = true;
  for (std::thread &r : readers) r.join();
  for (int w : wrong) EXPECT_EQ(0, w);
  EXPECT_EQ(0u, Get(shared, 1, 30, &text));
  EXPECT_EQ("v30", text);
}

// Binding a handle while another thread moves the same file's position
// (here by finding other catalogs in it) binds it to the catalog it was
// searched for, never to the one the other thread left the file at.
TEST_F(MessageFileTest, BindingWhileAnotherThreadReadsTheFile) {
  std::string src;
  for (const char *name : {"Alpha", "Beta", "Third"}) {
    src += std::string("$catalog ") + name + "\n$set 2\n7 " + name + " 2.7\n";
  }
  RegisteredMessageFile file(tmp.File("bind.cat"), {src});
  std::atomic<bool> stop(false);
  std::thread mover([&] {
    tMSGCAT alpha("Alpha", nullptr, nullptr);
    for (unsigned int i = 0; !stop.load(); ++i) {
      file.file().FindCatalog(i % 2 ? "Beta" : "Alpha", 0, nullptr);
      char *t = nullptr;
      alpha.GetMsg(29, 60, &t);
      delete[] t;
    }
  });
  int wrong = 0;
  for (int i = 0; i < 5000; ++i) {
    tMSGCAT third("Third", nullptr, nullptr);
    std::string text;
    const unsigned int result = Get(third, 2, 7, &text);
    if (result != 0 || text != "Third 2.7") ++wrong;
  }
  stop = true;
  mover.join();
  EXPECT_EQ(0, wrong);
}

}  // namespace
