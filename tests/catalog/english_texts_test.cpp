// The library's English texts (kelcore/catalog/kelcore.msg): every message
// number that a module raises has a text, in the module's own catalog under
// its name and a matching version. The list of raised numbers below is
// checked against the library's sources, so that a new raise without a
// text fails here.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kelcore/catalog/module_catalogs.h"
#include "tests/support/temp_dir.h"
#include "tools/kelmsgc/msgc.h"

namespace {

struct Raised {
  const char *catalog;
  const char *version;
  unsigned int set;
  std::vector<unsigned int> numbers;
};

// What each module raises or reads, by set.
const std::vector<Raised> &RaisedMessages() {
  static const std::vector<Raised> raised = {
      {kelapp::cCATALOG_NAME, kelapp::cCATALOG_VERSION, 0, {0, 1, 2, 3, 4, 5}},
      {kelapp::cCATALOG_NAME, kelapp::cCATALOG_VERSION, 1, {0, 1, 2, 3, 4}},
      {kelcstream::cCATALOG_NAME, kelcstream::cCATALOG_VERSION, 0,
       {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {kelfilesys::cCATALOG_NAME, kelfilesys::cCATALOG_VERSION, 0, {1, 2, 3, 4}},
      {kellog::cCATALOG_NAME, kellog::cCATALOG_VERSION, 0, {0, 1, 2, 3, 4}},
      {kelmsgfile::cCATALOG_NAME, kelmsgfile::cCATALOG_VERSION, 0, {0, 1, 2, 3, 4, 5}},
      {kelmsgfile::cCATALOG_NAME, kelmsgfile::cCATALOG_VERSION, 1, {0, 1}},
      {kelos::cCATALOG_NAME, kelos::cCATALOG_VERSION, 0,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 18, 19}},
      // The library's own error codes, by errno value and by system code.
      {kelos::cCATALOG_NAME, kelos::cCATALOG_VERSION, 1,
       {0xF000, 0xF001, 0xF002, 0xF004, 0xF005, 0xF009}},
      {kelos::cCATALOG_NAME, kelos::cCATALOG_VERSION, 2,
       {0xF000, 0xF001, 0xF002, 0xF004, 0xF005, 0xF009}},
      {kelrec::cCATALOG_NAME, kelrec::cCATALOG_VERSION, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {keltxt::cCATALOG_NAME, keltxt::cCATALOG_VERSION, 0, {1, 2, 3, 4, 5}},
  };
  return raised;
}

bool IsRaised(const std::string &catalog, unsigned int set, unsigned int number) {
  for (const Raised &r : RaisedMessages()) {
    if (catalog == r.catalog && r.set == set) {
      for (unsigned int n : r.numbers) {
        if (n == number) return true;
      }
    }
  }
  return false;
}

std::vector<kelmsgc::tCATALOG> EnglishCatalogs() {
  std::string source, bytes, error;
  EXPECT_TRUE(kelcore_test::ReadWholeFile(KELCORE_SOURCE_DIR "/kelcore/catalog/kelcore.msg",
                                          &source));
  kelmsgc::tCOMPILER compiler;
  EXPECT_TRUE(compiler.AddSource("kelcore.msg", source)) << compiler.Error();
  return compiler.Catalogs();
}

TEST(EnglishTexts, EveryRaisedMessageHasAText) {
  const std::vector<kelmsgc::tCATALOG> catalogs = EnglishCatalogs();
  for (const Raised &r : RaisedMessages()) {
    const kelmsgc::tCATALOG *cat = nullptr;
    for (const kelmsgc::tCATALOG &c : catalogs) {
      if (c.name == r.catalog) cat = &c;
    }
    ASSERT_NE(nullptr, cat) << r.catalog;
    EXPECT_EQ(std::string(r.version, 5), cat->version.substr(0, 5)) << r.catalog;
    EXPECT_EQ(1u, cat->width);
    for (unsigned int n : r.numbers) {
      auto set = cat->sets.find(r.set);
      ASSERT_NE(cat->sets.end(), set) << r.catalog << " set " << r.set;
      EXPECT_NE(set->second.end(), set->second.find(n))
          << r.catalog << " set " << r.set << " has no text for " << n;
    }
  }
  // And nothing beyond: a text for a number nobody raises is a stale one.
  for (const kelmsgc::tCATALOG &c : catalogs) {
    for (const auto &set : c.sets) {
      for (const auto &msg : set.second) {
        EXPECT_TRUE(IsRaised(c.name, set.first, msg.first))
            << c.name << " set " << set.first << " message " << msg.first << " is never raised";
      }
    }
  }
}

// The numbers the library's sources pass to module factories as literals
// or as named message numbers are all in the list above.
TEST(EnglishTexts, TheListCoversTheSources) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(KELCORE_SOURCE_DIR) / "kelcore";
  std::error_code ec;
  if (!fs::is_directory(root, ec)) GTEST_SKIP() << "sources not reachable from here";
  const std::map<std::string, const char *> modules = {
      {"kelapp", kelapp::cCATALOG_NAME},       {"kelcstream", kelcstream::cCATALOG_NAME},
      {"kelfilesys", kelfilesys::cCATALOG_NAME}, {"kellog", kellog::cCATALOG_NAME},
      {"kelmsgfile", kelmsgfile::cCATALOG_NAME}, {"kelos", kelos::cCATALOG_NAME},
      {"kelrec", kelrec::cCATALOG_NAME},       {"keltxt", keltxt::cCATALOG_NAME}};
  // Each use of `token` followed by a decimal number: the number, and the
  // identifier just before the token ("kelos" in "kelos::NewLibraryError(").
  struct tHIT {
    std::string before;
    unsigned long number;
  };
  auto find = [](const std::string &s, const std::string &token) {
    std::vector<tHIT> hits;
    for (std::size_t at = s.find(token); at != std::string::npos; at = s.find(token, at + 1)) {
      std::size_t p = at + token.size(), q = p;
      while (q < s.size() && std::isdigit(static_cast<unsigned char>(s[q]))) ++q;
      if (q == p) continue;
      std::size_t b = at;
      while (b > 0 && (std::isalnum(static_cast<unsigned char>(s[b - 1])) || s[b - 1] == '_')) --b;
      hits.push_back({s.substr(b, at - b), std::stoul(s.substr(p, q - p))});
    }
    return hits;
  };
  unsigned int found = 0;
  for (const fs::directory_entry &e : fs::recursive_directory_iterator(root, ec)) {
    if (e.path().extension() != ".cpp" || e.path().filename() == "module_catalogs.cpp") continue;
    std::ifstream in(e.path());
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    const std::string where = e.path().filename().string();
    for (int set = 0; set < 2; ++set) {
      for (const tHIT &h : find(s, set == 0 ? "::NewLibraryError(" : "::NewLibraryError1(")) {
        auto module = modules.find(h.before);
        if (module == modules.end()) continue;
        EXPECT_TRUE(IsRaised(module->second, static_cast<unsigned int>(set), h.number))
            << where << ": " << h.before << " " << h.number;
        ++found;
      }
    }
    for (const tHIT &h : find(s, "tOSERR::Make(")) {
      EXPECT_TRUE(IsRaised(kelos::cCATALOG_NAME, 0, h.number)) << where << ": " << h.number;
      ++found;
    }
    // Named numbers of the OS back ends: "cMSG_OPEN = 0,".
    if (s.find("tOSERR::Make") != std::string::npos ||
        s.find("kelos::NewLibraryError") != std::string::npos) {
      for (const tHIT &h : find(s, " = ")) {
        if (h.before.compare(0, 5, "cMSG_") != 0) continue;
        EXPECT_TRUE(IsRaised(kelos::cCATALOG_NAME, 0, h.number)) << where << ": " << h.before;
        ++found;
      }
    }
  }
  EXPECT_GT(found, 10u);
}

}  // namespace
