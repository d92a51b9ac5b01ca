// Typed connection parameters: defaults, limits, byte units, setters, the yes-or-file
// slots, the encryption level and the rebuilt connection string.
#include "config/conn_parms.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "config/encrypt_level.h"
#include "scoped_environment.h"

namespace {

// VCCONNECT adds to every parsed string, so it starts unset in each test and gets its
// old value back afterwards.
class ConnParms : public ::testing::Test {
 protected:
  vq::testing::ScopedEnvironment env_{"VCCONNECT"};
};

TEST_F(ConnParms, DefaultsAfterConstruction) {
  c_conn_parms p;
  EXPECT_EQ(p.getInt(kSlotPrefetchRows), 10);
  EXPECT_EQ(p.getInt(kSlotPrefetchBuffer), 524288);
  EXPECT_EQ(p.getInt(kSlotCompressionThreshold), 120);
  EXPECT_EQ(p.getInt(kSlotLivenessTimeout), -1);
  EXPECT_EQ(p.getInt(kSlotIdleTimeout), -1);
  EXPECT_EQ(p.getInt(kSlotCommBufferSize), 0);
  EXPECT_EQ(p.getBool(kSlotAutoStop), 1u);
  EXPECT_EQ(p.getBool(kSlotAutoStart), 1u);
  EXPECT_EQ(p.getBool(kSlotElevate), 0u);
  EXPECT_EQ(p.getString(kSlotUserID), nullptr);
  EXPECT_STREQ(p.getString(kSlotUnconditional), "FALSE");
  EXPECT_STREQ(p.getString(kSlotAutoStop), "TRUE");
  EXPECT_STREQ(p.getString(kSlotLivenessTimeout), "-1");
  EXPECT_STREQ(p.getString(kSlotCommBufferSize), "0");
  EXPECT_FALSE(p.oldstyle());
  EXPECT_EQ(p.getString(46), nullptr);
  EXPECT_EQ(p.getString(-1), nullptr);
}

TEST_F(ConnParms, NumbersAreClampedAndRewritten) {
  struct Case {
    const char* text;
    int slot;
    std::int32_t number;
    const char* stored;
  };
  const Case cases[] = {
      {"LTO=0", kSlotLivenessTimeout, 0, "0"},
      {"LTO=5", kSlotLivenessTimeout, 30, "30"},
      {"LTO=99999", kSlotLivenessTimeout, 32767, "32767"},
      {"LTO=045", kSlotLivenessTimeout, 45, "45"},
      {"CBSIZE=1k", kSlotCommBufferSize, 1024, "1024"},
      {"CBSIZE=100", kSlotCommBufferSize, 500, "500"},
      {"CBSIZE=0", kSlotCommBufferSize, 500, "500"},
      {"PBUF=1M", kSlotPrefetchBuffer, 1048576, "1M"},
      {"PBUF=512K", kSlotPrefetchBuffer, 524288, "512K"},
      {"PBUF=16M", kSlotPrefetchBuffer, 8388608, "8388608"},
      {"COMPTH=1k", kSlotCompressionThreshold, 1024, "1024"},
      {"IDLE=0", kSlotIdleTimeout, 0, "0"},
      {"IDLE=40000", kSlotIdleTimeout, 32767, "32767"},
      {"PROWS=0x20", kSlotPrefetchRows, 32, "32"},
      {"RetryConnTO=3000000000", kSlotRetryConnectionTimeout, 2147483647, "2147483647"},
      // No maximum is given for AppConnTimeout: 32-bit numbers must not wrap negative.
      {"AppConnTimeout=4294967296", kSlotAppConnTimeout, 2147483647, "2147483647"},
      {"AppConnTimeout=99999999999999999999999", kSlotAppConnTimeout, 2147483647, "2147483647"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    c_conn_parms p;
    ASSERT_EQ(p.init(c.text, false), 0);
    EXPECT_EQ(p.getInt(c.slot), c.number);
    EXPECT_STREQ(p.getString(c.slot), c.stored);
  }
}

TEST_F(ConnParms, ByteUnitsOnlyWhereTheSlotTakesThem) {
  // The number check of the table accepts units; the slot's own reading refuses them.
  c_conn_parms p;
  EXPECT_EQ(p.init("LTO=1k", false), kParseBadValue);
  EXPECT_STREQ(p.getStringParms()->values[kClientSlots], "1k");
  EXPECT_EQ(p.getInt(kSlotLivenessTimeout), -1);  // left as it was
}

TEST_F(ConnParms, ParseErrorsAndLaterInitsKeepTypedValues) {
  c_conn_parms p;
  EXPECT_EQ(p.init("ASTOP=maybe", false), kParseBadValue);
  EXPECT_STREQ(p.getStringParms()->values[kClientSlots], "maybe");

  ASSERT_EQ(p.init("ASTOP=no;LTO=60", false), 0);
  EXPECT_EQ(p.getBool(kSlotAutoStop), 0u);
  EXPECT_EQ(p.getInt(kSlotLivenessTimeout), 60);
  ASSERT_EQ(p.init("UID=a", false), 0);
  // Slots not mentioned keep their typed values, while their texts are gone.
  EXPECT_EQ(p.getBool(kSlotAutoStop), 0u);
  EXPECT_EQ(p.getInt(kSlotLivenessTimeout), 60);
  EXPECT_EQ(p.getString(kSlotLivenessTimeout), nullptr);
  p.clear();
  EXPECT_EQ(p.getBool(kSlotAutoStop), 1u);
  EXPECT_EQ(p.getInt(kSlotLivenessTimeout), -1);
}

TEST_F(ConnParms, SettersRespectSlotKinds) {
  c_conn_parms p;
  p.setInt(kSlotUserID, 5);
  EXPECT_EQ(p.getString(kSlotUserID), nullptr);
  p.setString(kSlotAutoStop, "yes");
  EXPECT_EQ(p.getBool(kSlotAutoStop), 0u);
  EXPECT_STREQ(p.getString(kSlotAutoStop), "FALSE");
  p.setString(kSlotPrefetchRows, "77");
  EXPECT_EQ(p.getInt(kSlotPrefetchRows), 0);
  EXPECT_STREQ(p.getString(kSlotPrefetchRows), "0");
  p.setBool(kSlotCompress, true);
  EXPECT_EQ(p.getBool(kSlotCompress), 1u);
  EXPECT_STREQ(p.getString(kSlotCompress), "TRUE");
  p.setBool(kSlotUserID, true);
  EXPECT_EQ(p.getString(kSlotUserID), nullptr);
  p.setInt(kSlotIdleTimeout, -5);
  EXPECT_EQ(p.getInt(kSlotIdleTimeout), -5);
  EXPECT_STREQ(p.getString(kSlotIdleTimeout), "-5");
  p.setString(kSlotUserID, "u");
  EXPECT_TRUE(p.isSpecified(kSlotUserID));
  p.setString(kSlotUserID, "");
  EXPECT_FALSE(p.isSpecified(kSlotUserID));
  EXPECT_EQ(p.getInt(kSlotUserID), 0);
  EXPECT_EQ(p.getBool(kSlotUserID), 0u);
}

TEST_F(ConnParms, YesOrFileSlots) {
  struct Case {
    const char* text;
    int slot;
    const char* file;
    int yes_or_file;
  };
  const Case cases[] = {
      {"KRB=yes", kSlotKerberos, nullptr, 1}, {"KRB=libk.so", kSlotKerberos, "libk.so", 1},
      {"KRB=no", kSlotKerberos, nullptr, 0},  {"UID=a", kSlotKerberos, nullptr, 0},
      {"DBG=yes", kSlotDebug, nullptr, 1},    {"DBG=no", kSlotDebug, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    c_conn_parms p;
    ASSERT_EQ(p.init(c.text, false), 0);
    if (c.file == nullptr) {
      EXPECT_EQ(p.getFile(c.slot), nullptr);
    } else {
      EXPECT_STREQ(p.getFile(c.slot), c.file);
    }
    EXPECT_EQ(p.isYesOrFile(c.slot), c.yes_or_file);
  }
}

TEST_F(ConnParms, ConnectionStringIsCachedUntilAChange) {
  c_conn_parms p;
  ASSERT_EQ(p.init("UID=a;ASTOP=no", false), 0);
  EXPECT_STREQ(p.getConnectionString(), "UID=a;ASTOP=NO");
  p.setBool(kSlotCompress, true);
  EXPECT_STREQ(p.getConnectionString(), "UID=a;ASTOP=NO;COMP=TRUE");
  p.setString(kSlotPassword, "it's");
  EXPECT_STREQ(p.getConnectionString(), "UID=a;PWD='it''s';ASTOP=NO;COMP=TRUE");
}

TEST_F(ConnParms, OldStyleAndFullParse) {
  env_.Set("VCCONNECT", "CON=fromenv");
  c_conn_parms p;
  ASSERT_EQ(p.init("dba,sql", false), 0);
  EXPECT_TRUE(p.oldstyle());
  EXPECT_STREQ(p.getString(kSlotPassword), "sql");
  EXPECT_EQ(p.getString(kSlotConnectionName), nullptr);
  ASSERT_EQ(p.init("UID=dba;ENC=tls(fips=yes)", true), 0);
  EXPECT_FALSE(p.oldstyle());
  EXPECT_STREQ(p.getString(kSlotConnectionName), "fromenv");
  EXPECT_STREQ(p.getString(kSlotEncryption), "tls{fips=yes}");

  c_encrypt_level level(0u, nullptr);
  EXPECT_TRUE(p.initEncryptLevel(level));
  EXPECT_EQ(level.level, kEncryptRsaTlsFips);
  ASSERT_EQ(p.init("ENC=strong", true), 0);
  EXPECT_FALSE(p.initEncryptLevel(level));
  EXPECT_STREQ(level.error_text, "strong");
  ASSERT_EQ(p.init("UID=a", true), 0);
  c_encrypt_level none(3u, nullptr);
  EXPECT_TRUE(p.initEncryptLevel(none));  // no Encryption: no encryption, not an error
  EXPECT_EQ(none.level, kEncryptNone);
  EXPECT_EQ(none.is_set, 1u);
}

}  // namespace
