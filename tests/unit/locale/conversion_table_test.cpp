// Byte maps between single-byte sets from the build's generated table file: the
// registry's cache and the byte-map converter.
#include "utils/locale/conversion_table.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <typeinfo>

#include "converter_fixture.h"
#include "utils/locale/converters_internal.h"

namespace {
// ---- The generated table file --------------------------------------------------------------

class GeneratedTablesTest : public RegistryTest {};

TEST_F(GeneratedTablesTest, TablesComeFromTheFile) {
  const CharsetInfo* cp1252 = Charset("windows-1252");
  const CharsetInfo* latin1 = Charset("ISO-8859-1");
  unsigned char out[128];
  ASSERT_TRUE(locale()->read_cvf_conversion_table(out, latin1, cp1252));
  EXPECT_EQ(out[0xE9 - 0x80], 0xE9);
  EXPECT_EQ(out[0x80 - 0x80], 0x1A);  // the euro sign is not in ISO-8859-1
  ASSERT_TRUE(locale()->read_cvf_conversion_table(out, Charset("IBM437"), latin1));
  EXPECT_EQ(out[0xE9 - 0x80], 0x82);  // é
  EXPECT_EQ(out[0xC4 - 0x80], 0x8E);  // Ä
}

TEST_F(GeneratedTablesTest, LowerHalfPassesUnchangedThroughEveryTable) {
  std::vector<const CharsetInfo*> sets;
  for (const CharsetInfo& cs : UTLocale::_charset_info) {
    if (cs.unit_width == 1 && cs.max_bytes == 1) sets.push_back(&cs);
  }
  ASSERT_GT(sets.size(), 30u);
  int tables = 0;
  for (const CharsetInfo* from : sets) {
    for (const CharsetInfo* to : sets) {
      const ConversionTable* t = locale()->GetConversionTable(to, from, 1, 0);
      if (from == to) {
        EXPECT_EQ(t, nullptr);
        continue;
      }
      ASSERT_NE(t, nullptr) << to->default_label->label << " <- " << from->default_label->label;
      ++tables;
      for (int i = 0; i < 128; ++i) ASSERT_EQ(t->map[i], i);
    }
  }
  EXPECT_EQ(tables, static_cast<int>(sets.size() * (sets.size() - 1)));
}

TEST_F(GeneratedTablesTest, ByteMapConverterConvertsByTable) {
  CharsetConverter conv(locale(), Charset("ISO-8859-1"), Charset("windows-1252"));
  ASSERT_EQ(typeid(*conv.impl()), typeid(BytemapCharsetConverter));
  EXPECT_FALSE(conv.support_reporting());
  const Bytes in = Hex("63 61 66 E9 20 80");
  Outcome o = ConvertAll(conv, in);
  EXPECT_EQ(ToHex(o.out), "63 61 66 E9 20 1A");
  // A short destination takes what fits and says the rest remains.
  unsigned char out[3];
  unsigned int written = 0;
  EXPECT_EQ(conv.Convert(out, sizeof out, &written, in.data(), in.size()), kConvDestFull);
  EXPECT_EQ(written, 3u);
}

}  // namespace
