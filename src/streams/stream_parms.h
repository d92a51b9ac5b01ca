// The stream parameter block the host hands the communication environment
// (StrmSetParms), in a header of its own so that hosts need not see the session layer.
#ifndef VQ_STREAMS_STREAM_PARMS_H
#define VQ_STREAMS_STREAM_PARMS_H

#include <cstdint>

// The stream parameters the host sets (13 words on the wire of the host interface; the
// text of word 8 is a pointer here).
struct a_streams_parm_block {
  std::uint32_t CommBufferSize;  // word 0
  std::int32_t LivenessTimeout;  // word 1, seconds; -1 until set
  std::uint32_t IdleTimeout;     // word 2
  std::uint32_t words3_6[4];     // carried for the layers below
  std::uint32_t word7;           // 255 by default
  char* text;                    // word 8: copied when the block is set
  std::uint32_t words9_12[4];
};

#endif  // VQ_STREAMS_STREAM_PARMS_H
