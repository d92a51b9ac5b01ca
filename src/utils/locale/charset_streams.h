// Conversion streams: byte streams that convert between two character sets on the way
// through, so that text of any length can be converted in pieces of any size.
//
// CSConvOStream converts what is written to it and writes the result to a target
// stream; CSConvIStream reads from a source stream and hands out converted bytes. Both
// drive the CharsetConverter given to them with flush 0 while text flows and keep a
// pivot buffer for their lifetime, so a multibyte character cut between two pieces is
// completed by the next piece. The converter and the other stream must outlive the
// conversion stream, and nothing else may use the converter meanwhile.
//
// A converter result other than kConvDone and kConvDestFull (a failure the option bits
// asked to report) is kept as the stream's status and ends the stream (eof).
#ifndef VQ_UTILS_LOCALE_CHARSET_STREAMS_H
#define VQ_UTILS_LOCALE_CHARSET_STREAMS_H

#include "utils/base/byte_stream.h"
#include "utils/locale/charset_converter.h"

class CSConvOStream : public UTOStream {
 public:
  CSConvOStream(CharsetConverter& converter, UTOStream& target);

  // Converts up to n bytes into the target; returns the source bytes consumed (an
  // incomplete trailing character counts: the converter holds it). Fewer than n when
  // the target stops taking bytes or the conversion fails.
  unsigned do_put(const unsigned char* src, unsigned n) override;
  // Ends the input: converts what the converter still holds (an incomplete trailing
  // character becomes a substitute, or the kConvIncomplete status under that option)
  // until nothing more comes out. With final the stream is set to eof.
  void flush(bool final);

  int status() const { return status_; }                     // worst result, kConv*
  unsigned long long consumed() const { return consumed_; }  // source bytes
  unsigned long long produced() const { return produced_; }  // target bytes

 private:
  // One ContinueConvert into the target; the converter's result. *wrote is set to
  // whether any byte reached the target.
  int ConvertInto(const unsigned char** src, const unsigned char* src_end, unsigned flush,
                  bool* wrote);
  void Fail(int result);

  int status_ = kConvDone;
  unsigned long long consumed_ = 0;
  unsigned long long produced_ = 0;
  CharsetConverter& converter_;
  UTOStream& target_;
  PivotBuffer pivot_;
};

class CSConvIStream : public UTIStream {
 public:
  CSConvIStream(CharsetConverter& converter, UTIStream& source);

  // Delivers up to n converted bytes; fewer only at the end of the converted text (the
  // source has ended and the converter is drained) or after a failure.
  unsigned do_get(unsigned char* dst, unsigned n) override;

  int status() const { return status_; }                     // worst result, kConv*
  unsigned long long consumed() const { return consumed_; }  // source bytes
  unsigned long long produced() const { return produced_; }  // converted bytes

 private:
  static constexpr unsigned kStagingBytes = 512;

  // The source's next unconverted bytes in [*begin, *end); false at its end.
  bool SourceBytes(const unsigned char** begin, const unsigned char** end);
  // Marks n of the bytes of SourceBytes as consumed.
  void Consume(unsigned n);
  void Fail(int result);

  int status_ = kConvDone;
  unsigned long long consumed_ = 0;
  unsigned long long produced_ = 0;
  CharsetConverter& converter_;
  UTIStream& source_;
  PivotBuffer pivot_;
  unsigned char staging_[kStagingBytes];  // source bytes of an unbuffered source
  unsigned staged_ = 0;                   // bytes in staging_, from its start
};

#endif  // VQ_UTILS_LOCALE_CHARSET_STREAMS_H
