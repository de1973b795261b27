// The module catalogs: names, versions, id strings, severities, sets, and
// factories that never return null.
#include <gtest/gtest.h>

#include <string>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"

namespace {

struct ModuleCase {
  const char *module;
  tMSGCAT &(*catalog)();
  const char *name;
  const char *version;
  const char *id_string;  // the exported object
  const char *id_text;    // what it must read
  tMSG *(*factory)(unsigned int);
  tMSG::eSEVERITY severity;
};

tMSG *MsgfileSet1(unsigned int msgId) { return kelmsgfile::NewLibraryError1(msgId); }
tMSG *LogDefault(unsigned int msgId) { return kellog::NewLibraryError(msgId); }
tMSG *LogOwnText(unsigned int msgId) { return kellog::NewLibraryError(msgId, "text"); }
tMSG *CStreamErrno(unsigned int msgId) { return kelcstream::NewLibraryError(msgId, 2); }
tMSG *Nls(unsigned int msgId) { return kelnls::NewLibraryError(msgId, 0, "text"); }
tMSG *OsMake(unsigned int msgId) { return tOSERR::Make(msgId, 2); }

const ModuleCase kModules[] = {
    {"APP", kelapp::Catalog, "APP library message catalog", "A.01.00", kelapp::cID_STRING,
     "APP library error", kelapp::NewLibraryError, tMSG::eERROR},
    {"CStream", kelcstream::Catalog, "CStream library message catalog", "A.00.00",
     kelcstream::cID_STRING, "CStream library error", kelcstream::NewLibraryError, tMSG::eERROR},
    {"CStream errno", kelcstream::Catalog, "CStream library message catalog", "A.00.00",
     kelcstream::cID_STRING, "CStream library error", CStreamErrno, tMSG::eERROR},
    {"FILESYS", kelfilesys::Catalog, "FILESYS library message catalog", "A.02.00",
     kelfilesys::cID_STRING, "FILESYS library error", kelfilesys::NewLibraryError, tMSG::eERROR},
    {"LOG", kellog::Catalog, "LOG library message catalog", "A.02.00", kellog::cID_STRING,
     "LOG library messages", LogDefault, tMSG::eINFORMATION},
    {"LOG text", kellog::Catalog, "LOG library message catalog", "A.02.00", kellog::cID_STRING,
     "LOG library messages", LogOwnText, tMSG::eINFORMATION},
    {"MSGFILE 0", kelmsgfile::Catalog, "MSGFILE library message catalog", "A.01.00",
     kelmsgfile::cMSGCAT_ID_STRING, "MSGCAT library error", kelmsgfile::NewLibraryError,
     tMSG::eERROR},
    {"MSGFILE 1", kelmsgfile::Catalog, "MSGFILE library message catalog", "A.01.00",
     kelmsgfile::cMSGFILE_ID_STRING, "MSGFILE library error", MsgfileSet1, tMSG::eERROR},
    {"OS", kelos::Catalog, "OS library message catalog", "A.02.00", kelos::cID_STRING,
     "OS library error", kelos::NewLibraryError, tMSG::eERROR},
    {"OS Make", kelos::Catalog, "OS library message catalog", "A.02.00", kelos::cID_STRING,
     "OS library error", OsMake, tMSG::eERROR},
    {"REC", kelrec::Catalog, "REC library message catalog", "A.00.00", kelrec::cID_STRING,
     "REC library error", kelrec::NewLibraryError, tMSG::eERROR},
    {"TXT", keltxt::Catalog, "TXT library message catalog", "A.00.00", keltxt::cID_STRING,
     "TXT library error", keltxt::NewLibraryError, tMSG::eERROR},
    {"NLS", kelnls::Catalog, "NLS message catalog", "A.00.00", kelnls::cID_STRING,
     "NLS message", Nls, tMSG::eERROR},
};

TEST(ModuleCatalogTest, CatalogsCarryTheirNamesAndVersions) {
  for (const ModuleCase &c : kModules) {
    SCOPED_TRACE(c.module);
    tMSGCAT &cat = c.catalog();
    EXPECT_STREQ(c.name, cat.GetId());
    EXPECT_STREQ(c.version, cat.GetVersion());
    EXPECT_STREQ("", cat.GetLanguage());
    // One object per module, for the process's life.
    EXPECT_EQ(&cat, &c.catalog());
  }
}

TEST(ModuleCatalogTest, FactoriesBuildMessagesOfTheirModule) {
  for (const ModuleCase &c : kModules) {
    SCOPED_TRACE(c.module);
    tMSG *msg = c.factory(11);
    ASSERT_NE(&tERRMSG::OutOfMemory, msg);
    EXPECT_EQ(c.id_string, msg->GetIdString());
    EXPECT_STREQ(c.id_text, msg->GetIdString());
    EXPECT_EQ(c.severity, msg->GetSeverity());
    tCATMSG *cat_msg = dynamic_cast<tCATMSG *>(msg);
    ASSERT_NE(nullptr, cat_msg);
    EXPECT_EQ(&c.catalog(), cat_msg->GetCatalog());
    EXPECT_EQ(11u, cat_msg->GetMsgId());
    tMSG::Dispose(msg);
  }
}

TEST(ModuleCatalogTest, FactoriesReturnTheOutOfMemoryMessageWithoutMemory) {
  for (const ModuleCase &c : kModules) {
    SCOPED_TRACE(c.module);
    kelcore_test::ScopedAllocFailure fail(1);
    tMSG *msg = c.factory(11);
    EXPECT_TRUE(fail.Triggered());
    EXPECT_EQ(&tERRMSG::OutOfMemory, msg);
    EXPECT_EQ(0u, msg->NumParms());
    EXPECT_STREQ("Out of memory", msg->Format());
    tMSG::Dispose(msg);
  }
}

TEST(ModuleCatalogTest, FactoriesNeverReturnNullWhateverAllocationFails) {
  for (const ModuleCase &c : kModules) {
    SCOPED_TRACE(c.module);
    kelcore_test::SweepAllocFailures([&c] {
      tMSG *msg = c.factory(3);
      ASSERT_NE(nullptr, msg);
      msg->Format();
      tMSG::Dispose(msg);
    });
  }
}

TEST(ModuleCatalogTest, PerSetClassesFixTheirSet) {
  kelos::tLIBMSG0 set0(4);
  kelos::tLIBMSG1 set1(2);
  kelos::tLIBMSG2 set2(5);
  EXPECT_EQ(0u, set0.GetSetId());
  EXPECT_EQ(1u, set1.GetSetId());
  EXPECT_EQ(2u, set2.GetSetId());
  EXPECT_EQ(2u, set1.GetMsgId());
  EXPECT_EQ(5u, set2.GetMsgId());
  kelmsgfile::tLIBMSG1 msgfile1(0);
  EXPECT_EQ(1u, msgfile1.GetSetId());
  kelnls::tTEXTMSG nls(8, 6, nullptr);
  EXPECT_EQ(6u, nls.GetSetId());
  EXPECT_EQ(8u, nls.GetMsgId());
  // A message class built directly keeps the id string it is given.
  static const char kId[] = "custom id";
  kelrec::tLIBMSG custom(1, 9, kId);
  EXPECT_EQ(static_cast<const char *>(kId), custom.GetIdString());
  EXPECT_EQ(9u, custom.GetSetId());
  EXPECT_EQ(&kelrec::Catalog(), custom.GetCatalog());
}

TEST(ModuleCatalogTest, CStreamVariantAppendsTheErrnoValue) {
  tMSG *msg = kelcstream::NewLibraryError(6, 13);
  ASSERT_EQ(1u, msg->NumParms());
  EXPECT_TRUE((*msg)[0] == tPARM_ERRNO(13));
  tMSG::Dispose(msg);

  // Without memory for the parameter a null one keeps its place.
  tMSG *partial;
  {
    kelcore_test::ScopedAllocFailure fail(2);
    partial = kelcstream::NewLibraryError(6, 13);
  }
  ASSERT_NE(&tERRMSG::OutOfMemory, partial);
  EXPECT_EQ(1u, partial->NumParms());
  tMSG::Dispose(partial);
}

}  // namespace
