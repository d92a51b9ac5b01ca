// The typed view of the client's connection parameters: the 46 client slots held as
// texts, with booleans and numbers kept beside them already converted, defaulted and
// clamped to their limits. It can give back the connection string its slots describe.
#ifndef VQ_CONFIG_CONN_PARMS_H
#define VQ_CONFIG_CONN_PARMS_H

#include <cstdint>

#include "config/key_value_parser.h"
#include "config/option_tables.h"

class c_encrypt_level;

class c_conn_parms {
 public:
  // Every slot at its default.
  c_conn_parms();
  // Wipes every value and the cached connection string before freeing them.
  ~c_conn_parms();
  c_conn_parms(const c_conn_parms&) = delete;
  c_conn_parms& operator=(const c_conn_parms&) = delete;

  // Back to the constructed state: a fresh block with every slot at its default.
  void clear();
  // Parses a connection string into the object: with `full` the client's full parse
  // (VCCONNECT, data source, Encryption), else the string alone. Booleans and numbers of
  // the slots given are converted and clamped; the others keep their earlier values.
  // Returns a parse code; kParseBadValue with the text in the error buffer for a number
  // slot that does not read.
  [[nodiscard]] int init(const char* text, bool full);

  // Slot arguments are client slots 0 to 45; others read as not given.
  const char* getString(int slot) const;
  bool isSpecified(int slot) const;
  std::uint32_t getBool(int slot) const;      // 0 for non-boolean slots
  std::int32_t getInt(int slot) const;        // 0 for non-number slots
  void setBool(int slot, bool value);         // boolean slots only: "TRUE"/"FALSE"
  void setInt(int slot, std::int32_t value);  // number slots only: the decimal text
  // Any slot; a boolean slot then holds "FALSE" and 0, a number slot "0" and 0.
  void setString(int slot, const char* text);
  // The text, but null when not given or a whole yes/no word.
  const char* getFile(int slot) const;
  // 0 when not given or a boolean slot whose flag is false; the yes/no value of a whole
  // yes/no word; otherwise 1 (a file name).
  int isYesOrFile(int slot) const;
  // Sets `level` from the Encryption slot; without one, level none. False when the value
  // is not understood (the level's error text says which word).
  bool initEncryptLevel(c_encrypt_level& level) const;
  // The unmasked connection string of the slots, cached until the next change; owned by
  // the object. Null when it cannot be built.
  const char* getConnectionString();
  a_string_parms* getStringParms() { return &parms_; }
  bool oldstyle() const { return parsed_ != 0 && (parms_.flags & kStringParmsOldStyle) != 0; }

  static bool isBoolSlot(int slot);
  static bool isNumberSlot(int slot);

 private:
  void set_default(int slot);
  void replace_text(int slot, char* text);
  void drop_cache();
  int convert_numbers();

  a_string_parms parms_;                // 46 slots, owned while parsed_
  std::uint32_t flags_[kClientSlots];   // booleans, by slot
  std::int32_t numbers_[kClientSlots];  // numbers, by slot
  char* cached_;                        // connection string, or null
  std::uint32_t parsed_;                // the value block is allocated and owned
};

#endif  // VQ_CONFIG_CONN_PARMS_H
