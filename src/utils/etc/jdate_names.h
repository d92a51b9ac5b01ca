// The date names of an environment: the user's language, loaded once from the message
// catalog, searched before the built-in English names, so that dates are written and
// read in both.
//
// JDate is created with the English names only (its own set is empty), gains the
// user's language at Init and drops the loaded names at Fini or destruction; the English
// set is constant data. Init and Fini run while no other thread uses the object.
#ifndef VQ_UTILS_ETC_JDATE_NAMES_H
#define VQ_UTILS_ETC_JDATE_NAMES_H

#include <cstdint>

#include "utils/etc/date_names.h"

class UTCollation;
class UTLangStringBase;

class JDateBase {
 public:
  // The collation is the one names are matched under; it must outlive the object.
  explicit JDateBase(UTCollation* collation);
  virtual ~JDateBase() = default;
  JDateBase(const JDateBase&) = delete;
  JDateBase& operator=(const JDateBase&) = delete;

  // The list becomes the first `count` sets (at most 3) in order; the sets must outlive
  // the object. Recomputes the longest name.
  void SetStrings(int count, const a_jdate_langstrings** sets);
  // The longest name in bytes over every set's month, day and indicator names (0 with
  // no sets); stored and returned.
  unsigned recompute_longest();

  UTCollation* collation() const { return collation_; }
  const a_jdate_name_sets* name_sets() const { return &sets_; }
  unsigned longest() const { return longest_; }

 protected:
  UTCollation* collation_;
  std::int32_t first_setting_ = 1;    // kept for the environment; no date operation reads it
  std::int32_t second_setting_ = 50;  // likewise
  unsigned longest_ = 0;              // bytes of the longest name
  a_jdate_name_sets sets_{};
};

class JDate : public JDateBase {
 public:
  // The sets are {own set (empty until Init), English}.
  explicit JDate(UTCollation* collation);
  ~JDate() override;

  // Loads the user's names from the catalog (dropping any loaded before).
  void Init(UTLangStringBase& strings);
  void Fini();

  const a_jdate_langstrings& own_names() const { return own_; }

  // Fills every name of `names` from the catalog; a missing message leaves it null.
  static void load_strings(a_jdate_langstrings& names, UTLangStringBase& strings);
  // The text of message `number` (at most 256 bytes) in memory from ut_malloc, or null
  // when the message is missing or memory runs out. The caller frees it with ut_free.
  static char* load_string(UTLangStringBase& strings, unsigned long number);
  // Frees every loaded name and clears the pointers.
  static void free_strings(a_jdate_langstrings& names);

 private:
  a_jdate_langstrings own_{};
};

#endif  // VQ_UTILS_ETC_JDATE_NAMES_H
