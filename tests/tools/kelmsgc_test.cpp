// The catalog compiler in process: what sources mean (sets, escapes,
// quotes, continuations, deletions, merging across sources, 16-bit texts),
// the exact bytes of a small message file, every kind of bad source with
// its line, the reader's refusals, and compile -> dump -> compile giving
// the same bytes. Compared with glibc's gencat and catgets on Linux.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kelcore/catalog/message_file_layout.h"
#include "tests/support/temp_dir.h"
#include "tools/kelmsgc/msgc.h"

#if defined(__GLIBC__)
#include <nl_types.h>
#endif

namespace {

using kelmsgc::tCATALOG;

// Compiles the sources in order; the message file's bytes, or the error.
bool Compile(const std::vector<std::string> &sources, std::string *out) {
  kelmsgc::tCOMPILER compiler;
  bool ok = true;
  for (std::size_t i = 0; ok && i < sources.size(); ++i)
    ok = compiler.AddSource("s" + std::to_string(i + 1) + ".msg", sources[i]);
  ok = ok && compiler.Write(out);
  if (!ok) *out = compiler.Error();
  return ok;
}

std::vector<tCATALOG> Read(const std::string &bytes) {
  std::vector<tCATALOG> cats;
  std::string error;
  EXPECT_TRUE(kelmsgc::ReadMessageFile(bytes, &cats, &error)) << error;
  return cats;
}

// compile -> read -> dump -> compile gives the same bytes.
void ExpectRoundTrip(const std::string &bytes) {
  std::string source, error, again;
  ASSERT_TRUE(kelmsgc::Dump(Read(bytes), &source, &error)) << error;
  ASSERT_TRUE(Compile({source}, &again)) << again << "\n" << source;
  EXPECT_EQ(bytes, again) << source;
}

std::string U16(const std::u16string &s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

TEST(Kelmsgc, SourcesMeanWhatGencatMakesOfThem) {
  typedef std::map<unsigned int, std::map<unsigned int, std::string>> tSETS;
  struct Case {
    std::vector<std::string> sources;
    tSETS sets;
  } cases[] = {
      {{"$catalog C\n$set 3\n1 one\n2  two \n"}, {{3, {{1, "one"}, {2, " two "}}}}},
      // Messages before any $set are in set 1; comments and blank lines.
      {{"$catalog C\n$ a comment\n$\n\n   \n7 seven\n"}, {{1, {{7, "seven"}}}}},
      {{"$catalog C\n$quote \"\n1 \"a \\\"q\\\" b\"  \n2 \"\"\n3 \n4 x\\\"\n"},
       {{1, {{1, "a \"q\" b"}, {2, ""}, {3, ""}, {4, "x\""}}}}},
      {{"$catalog C\n1 a\\nb\\t\\\\\\101\\7x\\0\\v\\b\\r\\f\n"},
       {{1, {{1, std::string("a\nb\t\\A\ax\0\v\b\r\f", 13)}}}}},
      // Continuations, also inside quotes; CRLF line ends; a number alone
      // deletes; $delset drops a set; $quote alone ends quoting.
      {{"$catalog C\r\n1 abc\\\r\ndef\r\n$quote '\n2 'x\\\ny'\n$quote\n3 'z'\n"},
       {{1, {{1, "abcdef"}, {2, "xy"}, {3, "'z'"}}}}},
      // Deletions apply to what earlier sources built, as gencat's apply
      // to an existing catalog.
      {{"$catalog C\n$set 1\n1 a\n2 b\n$set 2\n1 c\n$set 4\n", "$delset 2\n$set 1\n1\n9\n"},
       {{1, {{2, "b"}}}, {4, {}}}},
      // A later source reopens a set and replaces messages.
      {{"$catalog C\n$set 1\n1 a\n2 b\n", "$set 1\n2 B\n3 c\n"},
       {{1, {{1, "a"}, {2, "B"}, {3, "c"}}}}},
      // ... or goes on in the set and with the quote character the source
      // before ended with.
      {{"$catalog C\n$quote \"\n$set 4\n1 \"a\"\n", "2 \"b\"\n", "$quote\n3 \"c\"\n"},
       {{4, {{1, "a"}, {2, "b"}, {3, "\"c\""}}}}},
      {{"$catalog C\n$set 0\n0 zero\n4294967294 max\n$set 4294967294\n"},
       {{0, {{0, "zero"}, {4294967294u, "max"}}}, {4294967294u, {}}}},
      // UTF-8 stays UTF-8 in 8-bit catalogs.
      {{"$catalog C\n1 caf\xC3\xA9 \xF0\x9F\x98\x80\n"}, {{1, {{1, "caf\xC3\xA9 \xF0\x9F\x98\x80"}}}}},
      {{"$catalog C\n$width 2\n1 abc\n2 \xC3\xA9\\101\\351\n3 \xF0\x9F\x98\x80\n"},
       {{1,
         {{1, U16(u"abc")}, {2, U16(u"\u00E9A\u00E9")}, {3, U16(u"\U0001F600")}}}}},
  };
  for (const Case &c : cases) {
    std::string bytes;
    ASSERT_TRUE(Compile(c.sources, &bytes)) << bytes << "\n" << c.sources[0];
    std::vector<tCATALOG> cats = Read(bytes);
    ASSERT_EQ(1u, cats.size());
    EXPECT_EQ(c.sets, cats[0].sets) << c.sources[0];
    ExpectRoundTrip(bytes);
  }
}

TEST(Kelmsgc, WritesTheMessageFileLayout) {
  std::string bytes;
  ASSERT_TRUE(Compile({"$catalog C\n$version A.01.02\n$language de\n$set 2\n5 hi\n"
                       "$catalog Second\n"},
                      &bytes));
  const std::string id("C\r\n\x1A", 4);
  const std::string version = std::string("\xFF\0\0\0\x18\0\0\0", 8) +
                              std::string("A.01.00\0A.02.00\0A.01.02\0", 24);
  const std::string header = std::string("\0\0\0\0\x19\0\0\0", 8) + std::string(4, '\0') +
                             std::string("\x4F\0\0\0\x67\0\0\0\1\0\0\0", 12) +
                             std::string("de\0\0\0\0\0\0\0", 9);
  const std::string message = std::string("\1\0\0\0\2\0\0\0hi", 10);
  const std::string set = std::string("\2\0\0\0\x10\0\0\0\2\0\0\0\1\0\0\0\5\0\0\0\x45\0\0\0", 24);
  const std::string first = id + version + header + message + set;
  ASSERT_EQ(0x67u, first.size());
  EXPECT_EQ(first, bytes.substr(0, first.size()));
  // The second catalog starts right after the first; it has no sets, so its
  // set area is empty: first-set offset = length.
  const std::string second = bytes.substr(first.size());
  const unsigned char *h =
      reinterpret_cast<const unsigned char *>(second.data()) + 6 + 3 + 32 + 8;
  EXPECT_EQ(second.size(), kelmsgfmt::GetU32(h + kelmsgfmt::cHDR_LENGTH));
  EXPECT_EQ(second.size(), kelmsgfmt::GetU32(h + kelmsgfmt::cHDR_FIRST_SET));
  EXPECT_EQ("A.00.00", Read(bytes)[1].version);
  ExpectRoundTrip(bytes);
}

TEST(Kelmsgc, BadSourcesNameTheirLine) {
  const std::string too_long = "$catalog C\n1 " + std::string(kelmsgc::cMAX_TEXT + 1, 'x') + "\n";
  struct Case {
    std::vector<std::string> sources;
    const char *error;
  } cases[] = {
      {{"$catalog C\n$frob x\n"}, "s1.msg:2: unknown directive $frob"},
      {{"$catalog C\r\n$set 2\r\n$set 1\r\n"}, "s1.msg:3: set 1 after set 2: sets must ascend"},
      {{"$catalog C\n$set 2\n$set 2\n"}, "s1.msg:3: duplicate set 2"},
      {{"$catalog C\n$set 2\n1 a\n1\n"}, "s1.msg:4: message 1 of set 2 is defined in this source"},
      {{"$catalog C\n$set 2\n$delset 2\n"}, "s1.msg:3: set 2 is defined in this source"},
      {{"$catalog C\n$set 1\n2 a\n2 b\n"}, "s1.msg:4: duplicate message 2 in set 1"},
      {{"$catalog C\n$set 1\n3 a\n2 b\n"},
       "s1.msg:4: message 2 after message 3 in set 1: messages must ascend"},
      {{"$catalog C\n$quote \"\n1 \"abc\n"}, "s1.msg:3: unterminated quote"},
      {{"$catalog C\n$quote \"\n1 \"a\" b\n"}, "s1.msg:3: text after the closing quote"},
      {{"$catalog C\n$quote \"\n1 a\"b\n"}, "s1.msg:3: quote character inside an unquoted"},
      {{"$catalog C\n1 \xFF\n"}, "s1.msg:2: invalid UTF-8"},
      {{"$catalog C\n1 \xED\xA0\x80\n"}, "s1.msg:2: invalid UTF-8"},
      {{"$catalog C\n1 \xC0\xAF\n"}, "s1.msg:2: invalid UTF-8"},
      {{too_long}, "s1.msg:2: text of message 1 is 65536 bytes long; at most 65535 fit a record"},
      {{"$catalog C\n1 a\\\n"}, "s1.msg:2: continuation line at the end of the source"},
      {{"$catalog C\n1 a\\\nb\n2 \\q\n"}, "s1.msg:4: unknown escape \\q"},
      {{"$catalog C\n1 \\777\n"}, "s1.msg:2: octal escape above \\377"},
      {{"1 a\n"}, "s1.msg:1: message before any $catalog"},
      {{"$set 1\n"}, "s1.msg:1: $set before any $catalog"},
      {{"$catalog C\n", "$catalog C\n"}, "s2.msg:1: duplicate catalog \"C\" (first at s1.msg:1)"},
      {{"$catalog\n"}, "s1.msg:1: $catalog needs a name"},
      {{"$catalog " + std::string(128, 'n') + "\n"}, "s1.msg:1: catalog name longer than 127"},
      {{"$catalog a\x01\n"}, "s1.msg:1: control character in catalog name"},
      {{"$catalog a\\ \n"}, "s1.msg:1: catalog name ends in a backslash"},
      {{"$catalog C\n1 a\n$version A.01.00\n"},
       "s1.msg:3: $version after the catalog's first set or message"},
      {{"$catalog C\n$width 2\n$width 2\n"}, "s1.msg:3: duplicate $width"},
      {{"$catalog C\n$version A.01.00.0\n"}, "s1.msg:2: $version needs 1 to 7"},
      {{"$catalog C\n$language american9\n"}, "s1.msg:2: $language takes at most 8"},
      {{"$catalog C\n$width 3\n"}, "s1.msg:2: $width must be 1 or 2"},
      {{"$catalog C\n$set x\n"}, "s1.msg:2: $set needs a set number"},
      {{"$catalog C\n$set 4294967295\n"}, "s1.msg:2: $set needs a set number"},
      {{"$catalog C\n$quote ab\n"}, "s1.msg:2: $quote takes one ASCII character"},
      {{"$catalog C\nhello\n"}, "s1.msg:2: a line must start with a message number"},
      {{"$catalog C\n 1 a\n"}, "s1.msg:2: a line must start with a message number"},
      {{"$catalog C\n1x\n"}, "s1.msg:2: a blank must follow the message number"},
      {{"$catalog C\n4294967295 a\n"}, "s1.msg:2: message number above 4294967294"},
  };
  for (const Case &c : cases) {
    std::string error;
    EXPECT_FALSE(Compile(c.sources, &error)) << c.error;
    EXPECT_EQ(0u, error.find(c.error)) << error;
  }
}

TEST(Kelmsgc, ReaderRefusesDamagedFiles) {
  std::string good;
  ASSERT_TRUE(Compile({"$catalog C\n$set 1\n1 a\n2 bb\n$set 3\n1 c\n"}, &good));
  std::vector<tCATALOG> cats;
  std::string error;
  // Every cut is refused (with one catalog no cut falls between catalogs);
  // a flipped byte anywhere is read or refused, never a crash.
  for (std::size_t n = 1; n < good.size(); ++n) {
    EXPECT_FALSE(kelmsgc::ReadMessageFile(good.substr(0, n), &cats, &error)) << n;
  }
  EXPECT_TRUE(kelmsgc::ReadMessageFile(std::string(), &cats, &error));
  EXPECT_TRUE(cats.empty());
  for (std::size_t i = 0; i < good.size(); ++i) {
    std::string bad = good;
    bad[i] = static_cast<char>(bad[i] ^ 0x80);
    kelmsgc::ReadMessageFile(bad, &cats, &error);
  }
  // Catalog "C": version record at 4, header record at 36 (body at 44),
  // first message record at 69.
  const unsigned int first_set = kelmsgfmt::GetU32(
      reinterpret_cast<const unsigned char *>(good.data()) + 44 + kelmsgfmt::cHDR_FIRST_SET);
  struct Patch {
    std::size_t offset;
    unsigned int value;
    const char *error;
  } patches[] = {
      {4, 254, "offset 4: no version record"},
      {36, 1, "offset 36: no catalog header"},
      {56, 3, "offset 44: character width not 1 or 2"},
      {52, 0, "offset 44: catalog length beyond the end of the file"},
      {48, 10, "offset 44: first set outside the catalog"},
      {first_set, 1, "not a set record"},
      {first_set + 16, 0xFFFFFFFFu, "index entries out of order"},
      {first_set + 20, 4, "message record outside the message area"},
      {69, 2, "offset 69: not a message record"},
      {73, 1000, "message text cut short"},
  };
  for (const Patch &p : patches) {
    std::string bad = good;
    kelmsgfmt::PutU32(reinterpret_cast<unsigned char *>(&bad[p.offset]), p.value);
    EXPECT_FALSE(kelmsgc::ReadMessageFile(bad, &cats, &error)) << p.error;
    EXPECT_NE(std::string::npos, error.find(p.error)) << error;
  }
}

// A file holding one catalog twice (no compiler run makes one) reads, but
// has no source that compiles back: dump refuses it.
TEST(Kelmsgc, DumpRefusesACatalogNamedTwice) {
  std::string a, b;
  ASSERT_TRUE(Compile({"$catalog Same\n1 first\n"}, &a));
  ASSERT_TRUE(Compile({"$catalog Same\n1 second\n"}, &b));
  std::string source, error;
  EXPECT_FALSE(kelmsgc::Dump(Read(a + b), &source, &error));
  EXPECT_NE(std::string::npos, error.find("\"Same\" appears twice")) << error;
  ExpectRoundTrip(a);
}

TEST(Kelmsgc, ListShowsCatalogsSetsAndCounts) {
  std::string bytes;
  ASSERT_TRUE(Compile({"$catalog First one\n$version A.02.00\n$language en\n$set 1\n1 a\n"
                       "$set 5\n2 b\n9 c\n$catalog W\n$width 2\n"},
                      &bytes));
  EXPECT_EQ(
      "\"First one\" version A.02.00, language en, width 1: 2 sets, 3 messages\n"
      "  set 1: 1 message (1 to 1)\n"
      "  set 5: 2 messages (2 to 9)\n"
      "\"W\" version A.00.00, language (none), width 2: 0 sets, 0 messages\n",
      kelmsgc::List(Read(bytes)));
}

TEST(Kelmsgc, TheLibrarysEnglishTextsRoundTrip) {
  std::string source, bytes;
  ASSERT_TRUE(kelcore_test::ReadWholeFile(KELCORE_SOURCE_DIR "/kelcore/catalog/kelcore.msg",
                                          &source));
  ASSERT_TRUE(Compile({source}, &bytes)) << bytes;
  ExpectRoundTrip(bytes);
}

#if defined(__GLIBC__)
// Linux only: glibc's gencat and catgets are the peer. The same X/Open
// source gives the same text for every set and message id through both.
class KelmsgcGencat : public kelcore_test::TempDirTest {};

TEST_F(KelmsgcGencat, SameTextsAsCatgets) {
  const std::vector<std::string> cases[] = {
      {"$ escapes and continuations\n$set 1\n1 plain text\n2 tab\\there\\nnewline\n"
       "3 octal \\101\\102\\103 and backslash \\\\ end\n4 continued \\\nover two lines\n"
       "$set 7\n1 seven one\n5 seven five\n"},
      {"$quote \"\n$set 2\n1 \"  quoted with blanks  \"\n2 \"a \\\"quote\\\" inside\"\n"
       "3 unquoted \\\"half\n4 \"\"\n9 \"multi\\\nline quoted\"\n"},
      // The second source updates the first's catalog: deletes a message,
      // replaces another. (glibc's gencat keeps a set that $delset names,
      // which kelmsgc removes; so $delset names a set that is not there.)
      {"$set 1\n1 one\n2 two\n$set 3\n1 three\n3 gone\n",
       "$delset 2\n$set 1\n2 TWO\n$set 3\n3\n"},
      {"$quote '\n$set 4\n1 'single quotes'\n2 caf\xC3\xA9 \xE2\x82\xAC\n"},
  };
  if (std::system("gencat --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gencat";
  int index = 0;
  for (const std::vector<std::string> &sources : cases) {
    const std::string cat = tmp.File("c" + std::to_string(index) + ".cat");
    // gencat deletes only from the catalog that exists before it runs: one
    // run per source.
    for (const std::string &src : sources) {
      const std::string msg = tmp.File("s" + std::to_string(index++) + ".msg");
      ASSERT_TRUE(kelcore_test::WriteWholeFile(msg, src));
      ASSERT_EQ(0, std::system(("gencat " + cat + " " + msg).c_str()));
    }
    std::vector<std::string> ours_sources = {"$catalog Peer\n"};
    ours_sources.insert(ours_sources.end(), sources.begin(), sources.end());
    std::string bytes;
    ASSERT_TRUE(Compile(ours_sources, &bytes)) << bytes;
    const std::vector<tCATALOG> cats = Read(bytes);
    ASSERT_EQ(1u, cats.size());

    nl_catd catd = catopen(cat.c_str(), NL_CAT_LOCALE);
    ASSERT_NE(reinterpret_cast<nl_catd>(-1), catd);
    unsigned int compared = 0;
    for (int set = 1; set <= 10; ++set) {
      for (int id = 1; id <= 12; ++id) {
        // "(none)" stands for an id the catalog lacks; no source text is "(none)".
        const char *peer = catgets(catd, set, id, "(none)");
        auto s = cats[0].sets.find(static_cast<unsigned int>(set));
        const bool ours = s != cats[0].sets.end() && s->second.count(id) != 0;
        EXPECT_EQ(peer, ours ? s->second.at(id) : "(none)") << sources[0] << " " << set << ":" << id;
        compared += ours;
      }
    }
    catclose(catd);
    EXPECT_GT(compared, 1u);
  }
}

// Several sources in one gencat run: the current set and the quote
// character carry from one source to the next.
TEST_F(KelmsgcGencat, SeveralSourcesInOneRun) {
  if (std::system("gencat --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gencat";
  const std::vector<std::string> sources = {"$quote \"\n$set 4\n1 \"a\"\n", "2 \"b\"\n",
                                            "$set 5\n$quote '\n1 'c'\n", "2 'd'\n3 \"e\"\n"};
  const std::string cat = tmp.File("run.cat");
  std::string command = "gencat " + cat;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string msg = tmp.File("m" + std::to_string(i + 1) + ".msg");
    ASSERT_TRUE(kelcore_test::WriteWholeFile(msg, sources[i]));
    command += " " + msg;
  }
  ASSERT_EQ(0, std::system(command.c_str()));
  std::vector<std::string> ours_sources = {"$catalog Peer\n"};
  ours_sources.insert(ours_sources.end(), sources.begin(), sources.end());
  std::string bytes;
  ASSERT_TRUE(Compile(ours_sources, &bytes)) << bytes;
  const std::vector<tCATALOG> cats = Read(bytes);
  ASSERT_EQ(1u, cats.size());
  nl_catd catd = catopen(cat.c_str(), NL_CAT_LOCALE);
  ASSERT_NE(reinterpret_cast<nl_catd>(-1), catd);
  for (int set = 1; set <= 5; ++set) {
    for (int id = 1; id <= 3; ++id) {
      const char *peer = catgets(catd, set, id, "(none)");
      auto s = cats[0].sets.find(static_cast<unsigned int>(set));
      const bool ours = s != cats[0].sets.end() && s->second.count(id) != 0;
      EXPECT_EQ(peer, ours ? s->second.at(id) : "(none)") << set << ":" << id;
    }
  }
  catclose(catd);
}
#endif

}  // namespace
