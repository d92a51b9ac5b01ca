// The 1,828-byte custom-collation record: its byte layout, the file and definition
// forms, and collation records and collations built from it.
#include "utils/locale/custom_collation_record.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utils/base/memory.h"
#include "utils/locale/collation.h"
#include "utils/locale/collation_info.h"
#include "utils/locale/utlocale.h"

namespace {

using Record = std::vector<std::uint8_t>;

Record Bytes(const a_custom_collation_info& info) {
  std::uint8_t out[kCustomCollationRecordBytes];
  info.to_bytes(out);
  return Record(out, out + sizeof out);
}

std::string Field(const Record& r, std::size_t offset, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(r.data() + offset),
                     strnlen(reinterpret_cast<const char*>(r.data() + offset), size));
}

std::uint32_t Le32(const Record& r, std::size_t offset) {
  return r[offset] | (r[offset + 1] << 8) | (r[offset + 2] << 16) |
         (static_cast<std::uint32_t>(r[offset + 3]) << 24);
}

// A record with every field set and a recognisable order.
a_custom_collation_info Sample() {
  a_custom_collation_info info;
  a_packed_collation_order order = _packed_collation_46;
  order.classes[255] = 0xA5;
  info.set("MYCOLL", "My own collation", &order, "cp1252");
  std::strcpy(info.case_sensitive_order, "dict_mine");
  std::strcpy(info.case_insensitive_order, "nocase_mine");
  std::strcpy(info.icu_locale, "de@collation=phonebook");
  info.case_sensitivity = 'A';
  info.accent_sensitivity = 'f';
  info.punctuation_sensitivity = 'q';
  return info;
}

TEST(CustomCollationRecord, LayoutFieldByField) {
  const Record fresh = Bytes(a_custom_collation_info());
  ASSERT_EQ(fresh.size(), 1828u);
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    const std::uint8_t expected = i == 528 ? 'n' : i == 532 ? 'n' : i == 536 ? 'p' : 0;
    ASSERT_EQ(fresh[i], expected) << "byte " << i;
  }

  const Record r = Bytes(Sample());
  EXPECT_EQ(Field(r, 0, 51), "MYCOLL");
  EXPECT_EQ(Field(r, 51, 51), "cp1252");
  EXPECT_EQ(Field(r, 102, 51), "dict_mine");
  EXPECT_EQ(Field(r, 153, 51), "nocase_mine");
  EXPECT_EQ(Field(r, 204, 129), "My own collation");
  EXPECT_EQ(Field(r, 333, 193), "de@collation=phonebook");
  EXPECT_EQ(r[526], 0);
  EXPECT_EQ(r[527], 0);
  EXPECT_EQ(Le32(r, 528), static_cast<std::uint32_t>('A'));
  EXPECT_EQ(Le32(r, 532), static_cast<std::uint32_t>('f'));
  EXPECT_EQ(Le32(r, 536), static_cast<std::uint32_t>('q'));
  EXPECT_EQ(r[540], 'L');
  EXPECT_EQ(r[541] | r[542] | r[543], 0);
  EXPECT_EQ(Le32(r, 544), 0u);
  EXPECT_EQ(std::memcmp(r.data() + 548, &_packed_collation_46, 1279), 0);
  EXPECT_EQ(r[1827], 0xA5);

  // Texts are cut to their fields with a terminator, and every byte reads back.
  a_custom_collation_info longer;
  const std::string sixty(60, 'x');
  longer.set(sixty.c_str(), std::string(200, 'd').c_str(), nullptr, sixty.c_str());
  const Record l = Bytes(longer);
  EXPECT_EQ(Field(l, 0, 51), std::string(50, 'x'));
  EXPECT_EQ(l[50], 0);
  EXPECT_EQ(Field(l, 204, 129), std::string(128, 'd'));
  a_custom_collation_info back;
  std::uint8_t raw[kCustomCollationRecordBytes];
  std::memcpy(raw, r.data(), sizeof raw);
  back.from_bytes(raw);
  EXPECT_EQ(Bytes(back), r);
}

TEST(CustomCollationRecord, SetFromCollationRecord) {
  const CollationInfo* info = UTLocale::GetCollationInfoFromLabel("1251CYR");
  UTCollationTailoring tailoring("Locale=ru;Case=LowerFirst;Accent=Respect");
  a_custom_collation_info rec;
  rec.set(info, info->charset, info->charset->packed_order, tailoring);
  const Record r = Bytes(rec);
  EXPECT_EQ(Field(r, 0, 51), "1251CYR");
  EXPECT_EQ(Field(r, 51, 51), "windows-1251");
  EXPECT_EQ(Field(r, 102, 51), "cyrdict_cp1251");
  EXPECT_EQ(Field(r, 153, 51), "cyrnocs_cp1251");
  EXPECT_EQ(Field(r, 204, 129), "");
  EXPECT_EQ(Field(r, 333, 193), "ru");
  EXPECT_EQ(Le32(r, 528), static_cast<std::uint32_t>('a'));
  EXPECT_EQ(Le32(r, 532), static_cast<std::uint32_t>('y'));
  EXPECT_EQ(r[540], 'L');
  EXPECT_EQ(std::memcmp(r.data() + 548, &_packed_collation_45, 1280), 0);
}

TEST(CustomCollationRecord, DefinitionText) {
  const a_custom_collation_info info = Sample();
  char* text = write_custom_collation_defn(info);
  ASSERT_NE(text, nullptr);
  ASSERT_EQ(std::strlen(text), 3662u);
  EXPECT_EQ(std::string(text, 6), "0x0200");
  EXPECT_EQ(std::string(text + 6, 12), "4d59434f4c4c");  // "MYCOLL", lower-case hex
  std::vector<std::uint8_t> binary;
  for (const char* p = text + 2; *p != '\0'; p += 2) {
    binary.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
  }
  ut_free(text);
  ASSERT_EQ(binary.size(), 1830u);
  a_custom_collation_info back;
  ASSERT_EQ(read_custom_collation_defn(binary.data(), binary.size(), back), 1u);
  EXPECT_EQ(Bytes(back), Bytes(info));

  struct Bad {
    const char* why;
    std::size_t length;
    int patch_offset;
    std::uint8_t patch;
  };
  const Bad bad[] = {
      {"one byte long", 1831, -1, 0},
      {"one byte short", 1829, -1, 0},
      {"second byte not 0", 1830, 1, 1},
      {"header length 3", 1830, 0, 3},
  };
  for (const Bad& b : bad) {
    std::vector<std::uint8_t> data = binary;
    data.resize(b.length, 0);
    if (b.patch_offset >= 0) data[b.patch_offset] = b.patch;
    a_custom_collation_info untouched;
    EXPECT_EQ(read_custom_collation_defn(data.data(), data.size(), untouched), 0u) << b.why;
    EXPECT_EQ(Bytes(untouched), Bytes(a_custom_collation_info())) << b.why;
  }
  // A longer header is skipped.
  std::vector<std::uint8_t> longer = {4, 0, 9, 9};
  longer.insert(longer.end(), binary.begin() + 2, binary.end());
  a_custom_collation_info again;
  ASSERT_EQ(read_custom_collation_defn(longer.data(), longer.size(), again), 1u);
  EXPECT_EQ(Bytes(again), Bytes(info));
}

TEST(CustomCollationRecord, Files) {
  char path[] = "/tmp/vq_custom_collation_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const a_custom_collation_info info = Sample();
  ASSERT_EQ(UTCollation::write_custom_collation(path, info), 1u);
  std::FILE* f = std::fopen(path, "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 0, SEEK_END);
  EXPECT_EQ(std::ftell(f), 1828);
  std::fclose(f);
  a_custom_collation_info back;
  ASSERT_EQ(UTCollation::read_custom_collation(path, back), 1u);
  EXPECT_EQ(Bytes(back), Bytes(info));

  // A short file fills what it holds and leaves the rest of the record as it was.
  f = std::fopen(path, "wb");
  std::fwrite("SHORT", 1, 6, f);
  std::fclose(f);
  a_custom_collation_info partial = Sample();
  ASSERT_EQ(UTCollation::read_custom_collation(path, partial), 1u);
  Record expected = Bytes(Sample());
  std::memcpy(expected.data(), "SHORT", 6);
  EXPECT_EQ(Bytes(partial), expected);
  std::remove(path);

  EXPECT_EQ(UTCollation::read_custom_collation("/nonexistent/dir/x.col", back), 0u);
  EXPECT_EQ(UTCollation::write_custom_collation("/nonexistent/dir/x.col", info), 0u);
  EXPECT_EQ(UTCollation::read_custom_collation(nullptr, back), 0u);
}

TEST(CustomCollationRecord, CollationRecordFromDefinition) {
  // A label the table knows: names, masks, description id and flag from the table.
  a_custom_collation_info known;
  known.set("850LATIN1", "ignored", &_packed_collation_2, "IBM850");
  CollationInfo k(&known);
  ASSERT_TRUE(k.valid());
  EXPECT_EQ(k.custom, 1);
  EXPECT_STREQ(k.label, "850LATIN1");
  EXPECT_EQ(k.charset, &UTLocale::_charset_info[2]);
  EXPECT_STREQ(k.case_sensitive_order, "dictionary_cp850");
  EXPECT_STREQ(k.case_insensitive_order, "nocase_cp850");
  EXPECT_EQ(k.supported_languages, 0x800FCFu);
  EXPECT_EQ(k.default_languages, 0x800FCFu);
  EXPECT_EQ(k.description_id, 13711);
  EXPECT_EQ(k.flag, 1);
  EXPECT_EQ(k.get_custom_description(), nullptr);
  ASSERT_NE(k.get_packed_collation_for_custom_collation(), nullptr);
  EXPECT_EQ(
      std::memcmp(k.get_packed_collation_for_custom_collation(), &_packed_collation_2, 1280),
      0);

  // A new label: names and description from the definition, no languages; the
  // character set by any scheme's label.
  a_custom_collation_info fresh = Sample();
  CollationInfo n(&fresh);
  ASSERT_TRUE(n.valid());
  EXPECT_STREQ(n.label, "MYCOLL");
  EXPECT_EQ(n.charset, &UTLocale::_charset_info[46]);
  EXPECT_STREQ(n.case_sensitive_order, "dict_mine");
  EXPECT_STREQ(n.get_custom_description(), "My own collation");
  EXPECT_EQ(n.supported_languages, 0u);
  EXPECT_EQ(n.description_id, 0);
  EXPECT_EQ(n.flag, 0);

  // Built-in records have no order of their own.
  EXPECT_EQ(UTLocale::GetCollationInfoFromLabel("1252LATIN1")
                ->get_packed_collation_for_custom_collation(),
            nullptr);
}

TEST(CustomCollationRecord, CollationSortsByTheRecordsOwnOrder) {
  // An order of windows-1252 in which 'z' sorts first.
  a_packed_collation_order order = _packed_collation_46;
  order.case_insensitive[static_cast<unsigned char>('z')] = 1;
  order.case_insensitive[static_cast<unsigned char>('Z')] = 1;
  a_custom_collation_info def;
  def.set("ZFIRST", "z before everything", &order, "windows-1252");
  CollationInfo info(&def);
  UTCollation coll(nullptr);
  ASSERT_EQ(coll.do_set_collation(true, nullptr, &info, info.charset, nullptr,
                                  UTCollationTailoring('n'), 0),
            1u);
  EXPECT_LT(coll->trancmp("z", "a"), 0);
  EXPECT_LT(coll->trancmp("Zebra", "apple"), 0);
}

}  // namespace
