// A small fake of the stream functions the connect code calls beyond the presentation
// double: the server's key material, liveness, the link kind and the machine address.
// One process-wide setting each; tests set them before a connect and reset them after.
#ifndef VQ_TESTS_UNIT_CMDSEQ_STRM_FAKE_H
#define VQ_TESTS_UNIT_CMDSEQ_STRM_FAKE_H

#include <string>

#include "pres_double.h"

struct StrmFake {
  Bytes random;               // what StrmGetEngineRandomData hands out (at most its size)
  int port_type = 2;          // StrmGetPortType
  std::string local_address;  // the address text of the machine-address record
  int address_type = 2;       // first byte of the machine-address record
  bool default_engine = true;
};

// The settings in force; reset() puts them back to the defaults.
StrmFake& strm_fake();
void strm_fake_reset();

#endif  // VQ_TESTS_UNIT_CMDSEQ_STRM_FAKE_H
