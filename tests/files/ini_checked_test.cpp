// INI files: checked numeric reads, and queries on a missing file.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/files/ini_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/temp_dir.h"

namespace {

using kelcore_test::ReadWholeFile;
using kelcore_test::WriteWholeFile;

class IniChecked : public kelcore_test::TempDirTest {};

unsigned int LastNumber() {
  tCATMSG *msg = dynamic_cast<tCATMSG *>(tTHREAD::GetLastError());
  return msg != nullptr && msg->GetIdString() == keltxt::cID_STRING ? msg->GetMsgId() : 9999;
}
std::string LastParm(unsigned int index) {
  tMSG *msg = tTHREAD::GetLastError();
  if (msg == nullptr || index >= msg->NumParms()) return "<none>";
  char buf[1024];
  (*msg)[index].Format(buf, nullptr);
  return buf;
}

TEST_F(IniChecked, ReadsWholeNumbersOfTheTypesRangeAndReportsEverythingElse) {
  const std::string path = tmp.File("n.ini");
  const std::string lmin = std::to_string(LONG_MIN), lmax = std::to_string(LONG_MAX);
  const std::string umax = std::to_string(ULONG_MAX);
  const std::string huge = "99999999999999999999999";
  // Each value under each type: the number read, or "bad".
  const struct {
    std::string value;
    const char *as_long, *as_int, *as_ulong, *as_uint;
  } cases[] = {
      {"30", "30", "30", "30", "30"},
      {"+7", "7", "7", "7", "7"},
      {"-12", "-12", "-12", "bad", "bad"},
      {"-0", "0", "0", "bad", "bad"},
      {"007", "7", "7", "7", "7"},
      {"thirty", "bad", "bad", "bad", "bad"},
      {"12abc", "bad", "bad", "bad", "bad"},
      {"1 2", "bad", "bad", "bad", "bad"},
      {"0x10", "bad", "bad", "bad", "bad"},
      {"-", "bad", "bad", "bad", "bad"},
      {"1.5", "bad", "bad", "bad", "bad"},
      {"", "bad", "bad", "bad", "bad"},
      {"2147483647", "2147483647", "2147483647", "2147483647", "2147483647"},
      {"2147483648", LONG_MAX > 2147483647L ? "2147483648" : "bad", "bad", "2147483648",
       "2147483648"},
      {"-2147483648", "-2147483648", "-2147483648", "bad", "bad"},
      {"-2147483649", LONG_MAX > 2147483647L ? "-2147483649" : "bad", "bad", "bad", "bad"},
      {"4294967295", LONG_MAX > 2147483647L ? "4294967295" : "bad", "bad", "4294967295",
       "4294967295"},
      {"4294967296", LONG_MAX > 2147483647L ? "4294967296" : "bad", "bad",
       ULONG_MAX > 4294967295UL ? "4294967296" : "bad", "bad"},
      {lmin, lmin.c_str(), LONG_MIN < INT_MIN ? "bad" : lmin.c_str(), "bad", "bad"},
      {lmax, lmax.c_str(), LONG_MAX > INT_MAX ? "bad" : lmax.c_str(), lmax.c_str(),
       LONG_MAX > INT_MAX ? "bad" : lmax.c_str()},
      {umax, "bad", "bad", umax.c_str(), ULONG_MAX > UINT_MAX ? "bad" : umax.c_str()},
      {huge, "bad", "bad", "bad", "bad"},
  };
  std::string file = "[S]\n";
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    file += "k" + std::to_string(i) + "=" + cases[i].value + "\n";
  }
  ASSERT_TRUE(WriteWholeFile(path, file));
  tINIFILE ini;
  ini.SetName(path.c_str());
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const std::string key = "K" + std::to_string(i);  // names compare case aside
    SCOPED_TRACE("value \"" + cases[i].value + "\"");
    auto check = [&](auto value, const char *type, const char *want, const std::string &low,
                     const std::string &high) {
      SCOPED_TRACE(type);
      const unsigned int status = ini.GetChecked("S", key.c_str(), &value);
      if (std::string(want) != "bad") {
        EXPECT_EQ(0u, status);
        EXPECT_EQ(want, std::to_string(value));
        return;
      }
      EXPECT_EQ(0xFFFFFFFFu, status);
      EXPECT_EQ("55", std::to_string(value));
      EXPECT_EQ(4u, LastNumber());
      const std::string parms[] = {path, "S", key, cases[i].value, low, high};
      for (unsigned int j = 0; j < 6; ++j) EXPECT_EQ(parms[j], LastParm(j)) << j;
    };
    check(55L, "long", cases[i].as_long, lmin, lmax);
    check(55, "int", cases[i].as_int, std::to_string(INT_MIN), std::to_string(INT_MAX));
    check(55UL, "unsigned long", cases[i].as_ulong, "0", umax);
    check(55U, "unsigned int", cases[i].as_uint, "0", std::to_string(UINT_MAX));
  }
  // The unchecked Get reads what it can.
  EXPECT_EQ(0L, ini.Get("S", "k5", 55L));
  EXPECT_EQ(12L, ini.Get("S", "k6", 55L));

  // Missing section or key: 1, the default kept, TXT error 5.
  const struct {
    const char *section, *key;
  } missing[] = {{"S", "nokey"}, {"NoSection", "k0"}};
  for (const auto &m : missing) {
    long l = 55;
    EXPECT_EQ(1u, ini.GetChecked(m.section, m.key, &l)) << m.section << "." << m.key;
    EXPECT_EQ(55L, l);
    EXPECT_EQ(5u, LastNumber());
    EXPECT_EQ(m.section, LastParm(1));
    EXPECT_EQ(m.key, LastParm(2));
  }
  // A key given no value is no number; a null output pointer is allowed.
  ini.Add("S", "novalue", static_cast<const char *>(nullptr));
  long l = 55;
  EXPECT_EQ(0xFFFFFFFFu, ini.GetChecked("S", "novalue", &l));
  EXPECT_EQ("", LastParm(3));
  EXPECT_EQ(0u, ini.GetChecked("S", "k0", static_cast<long *>(nullptr)));
  ini.SetModified(0);
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

TEST_F(IniChecked, AQueryCreatesAMissingFileUnlessTheFileIsOpenedFirst) {
  const std::string path = tmp.File("missing.ini");
  std::string bytes;
  {
    tINIFILE ini;
    ini.SetName(path.c_str());
    EXPECT_EQ(7L, ini.Get("S", "k", 7L));
  }
  EXPECT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ("", bytes);
  ASSERT_EQ(0, std::remove(path.c_str()));
  {
    tINIFILE ini;
    ini.SetName(path.c_str());
    EXPECT_EQ(1u, ini.OpenExisting(tFILEDEFS::MODE_READWRITE, tFILEDEFS::SHARE_DENYNONE));
  }
  EXPECT_FALSE(ReadWholeFile(path, &bytes));
  ASSERT_TRUE(WriteWholeFile(path, "[S]\nk=3\n"));
  {
    tINIFILE ini;
    ini.SetName(path.c_str());
    ASSERT_EQ(0u, ini.OpenExisting(tFILEDEFS::MODE_READWRITE, tFILEDEFS::SHARE_DENYNONE));
    EXPECT_EQ(3L, ini.Get("S", "k", 7L));
    EXPECT_NE(0, ini.IsOpen());
    ini.Replace("S", "k", 4L);
    EXPECT_EQ(0u, ini.Close());  // saves through the open file
  }
  EXPECT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ("[S]\r\nk=4\r\n", bytes);
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

}  // namespace
