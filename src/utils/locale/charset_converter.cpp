// The converter front object, the choice of implementation, the identity and pivot
// converters and the drivers of the aligned to/from-UTF-16 workers.
#include "utils/locale/charset_converter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "utils/locale/converters_internal.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr std::uint8_t kUtf16LEId = 55;

bool is_utf16le(const CharsetInfo* cs) { return cs != nullptr && cs->charset_id == kUtf16LEId; }
bool is_single_byte(const CharsetInfo* cs) {
  return cs != nullptr && cs->unit_width == 1 && cs->max_bytes <= 1;
}

// U+FFFD in UTF-16LE.
constexpr unsigned char kReplacementLE[2] = {0xFD, 0xFF};

// Every implementation fits the storage reserved for it.
template <typename T>
constexpr bool fits_stage() {
  return sizeof(T) <= CharsetConverter::kStageStorage &&
         alignof(T) <= CharsetConverter::kImplAlign;
}
static_assert(fits_stage<UTF8ToUTF16CharsetConverter>(), "stage storage");
static_assert(fits_stage<UTF16ToUTF8CharsetConverter>(), "stage storage");
static_assert(fits_stage<UTF16SwapEndianCharsetConverter>(), "stage storage");
static_assert(fits_stage<SBCSToUTF16MapCharsetConverter>(), "stage storage");
static_assert(fits_stage<UTF16ToSBCSMapCharsetConverter>(), "stage storage");
static_assert(fits_stage<ToUTF16LastResortCharsetConverter>(), "stage storage");
static_assert(fits_stage<FromUTF16LastResortCharsetConverter>(), "stage storage");
static_assert(fits_stage<ToUTF16ICUCharsetConverter>(), "stage storage");
static_assert(fits_stage<FromUTF16ICUCharsetConverter>(), "stage storage");
static_assert(sizeof(PivotCharsetConverter) <= CharsetConverter::kImplStorage, "storage");
static_assert(sizeof(IdentityCharsetConverter) <= CharsetConverter::kImplStorage, "storage");
static_assert(sizeof(BytemapCharsetConverter) <= CharsetConverter::kImplStorage, "storage");
static_assert(CharsetConverter::kStageStorage <= CharsetConverter::kImplStorage, "storage");

// Constructs T at place; keeps it when valid (or when `keep_invalid`), else destroys it.
template <typename T>
bool try_place(void* place, UTLocale* locale, const CharsetInfo* to, const CharsetInfo* from,
               bool keep_invalid = false) {
  T* impl = new (place) T(locale, to, from);
  if (impl->valid() || keep_invalid) return true;
  impl->~T();
  return false;
}

}  // namespace

// ---- Identity --------------------------------------------------------------------------

IdentityCharsetConverter::IdentityCharsetConverter(UTLocale* locale, const CharsetInfo* to,
                                                   const CharsetInfo* from)
    : CharsetConverterBase(locale, to, from) {
  valid_ = (to != nullptr && to == from) ? 1 : 0;
}

int IdentityCharsetConverter::ContinueConvert(PivotBuffer&, void** dst, const void* dst_end,
                                              const void** src, const void* src_end,
                                              unsigned int) {
  auto* d = static_cast<unsigned char*>(*dst);
  auto* s = static_cast<const unsigned char*>(*src);
  const std::size_t room = static_cast<const unsigned char*>(dst_end) - d;
  const std::size_t left = static_cast<const unsigned char*>(src_end) - s;
  const std::size_t n = std::min(room, left);
  if (n != 0) std::memmove(d, s, n);
  *dst = d + n;
  *src = s + n;
  return left > n ? kConvDestFull : kConvDone;
}

// ---- Aligned drivers ---------------------------------------------------------------------

namespace {

// What the two drivers share: the direction-specific parts are the substitute, the
// alignment rules and the worker.
struct AlignedState {
  std::uint32_t& held_count;
  unsigned char* held;
  std::size_t held_capacity;
  std::uint32_t& pending_count;
  unsigned char* pending;
  std::size_t pending_capacity;
  std::uint32_t& status;
  std::uint32_t options;
};

using Worker = int (*)(void* self, unsigned char** dst, const unsigned char* dst_end,
                       const unsigned char** src, const unsigned char* src_end,
                       unsigned int final);

// Drives a worker over the caller's buffers (see ToUTF16CharsetConverterBase).
// to_utf16: the output must be even-aligned; otherwise the input must be.
int drive_aligned(AlignedState& st, void* self, Worker worker, bool to_utf16,
                  const unsigned char* substitute, std::size_t substitute_length, void** dstp,
                  const void* dst_end_v, const void** srcp, const void* src_end_v,
                  unsigned int flush) {
  auto* dst = static_cast<unsigned char*>(*dstp);
  auto* const dst_end = static_cast<unsigned char*>(const_cast<void*>(dst_end_v));
  auto* src = static_cast<const unsigned char*>(*srcp);
  auto* const src_end = static_cast<const unsigned char*>(src_end_v);
  int result = kConvDone;

  // 1. Output left over from the last call goes first.
  if (st.pending_count != 0) {
    const std::size_t n = std::min<std::size_t>(st.pending_count, dst_end - dst);
    std::memcpy(dst, st.pending, n);
    dst += n;
    std::memmove(st.pending, st.pending + n, st.pending_count - n);
    st.pending_count -= static_cast<std::uint32_t>(n);
    if (st.pending_count != 0) {
      *dstp = dst;
      return kConvDestFull;
    }
  }

  alignas(2) unsigned char in_scratch[512];
  alignas(2) unsigned char out_scratch[1024];
  // The worker said its output did not fit (a library converter keeps such output
  // inside and gives it out on the next call, even without new input).
  bool worker_owes = false;
  for (;;) {
    const bool have_input = src < src_end || st.held_count != 0;
    if (!have_input && !flush && !worker_owes) break;
    if (dst == dst_end) {
      result = (have_input || worker_owes || st.pending_count != 0) ? kConvDestFull : kConvDone;
      *dstp = dst;
      *srcp = src;
      return result;
    }

    // The chunk of input: held bytes joined with new ones, or the input in place.
    const unsigned char* in;
    const unsigned char* in_end;
    std::size_t taken_new;
    const bool odd_input = (reinterpret_cast<std::uintptr_t>(src) & 1u) != 0;
    if (st.held_count != 0 || (!to_utf16 && odd_input && src < src_end)) {
      std::memcpy(in_scratch, st.held, st.held_count);
      taken_new = std::min<std::size_t>(src_end - src, sizeof in_scratch - st.held_count);
      if (taken_new != 0) std::memcpy(in_scratch + st.held_count, src, taken_new);
      in = in_scratch;
      in_end = in_scratch + st.held_count + taken_new;
    } else {
      in = src;
      in_end = src_end;
      taken_new = src_end - src;
    }
    const bool final = flush != 0 && src + taken_new == src_end;

    // The output area: the destination, or a scratch area when it is short or (towards
    // UTF-16) odd.
    const std::size_t room = dst_end - dst;
    const bool odd_output = (reinterpret_cast<std::uintptr_t>(dst) & 1u) != 0;
    const bool use_scratch = room < 8 || (to_utf16 && odd_output);
    unsigned char* out = use_scratch ? out_scratch : dst;
    unsigned char* const out_end =
        use_scratch ? out_scratch + std::min<std::size_t>(room + 16, sizeof out_scratch)
                    : dst_end;

    const unsigned char* in_pos = in;
    unsigned char* out_pos = out;
    int r = worker(self, &out_pos, out_end, &in_pos, in_end, final ? 1u : 0u);
    std::size_t consumed = in_pos - in;

    if (consumed == 0 && out_pos == out && r == kConvDone) {
      if (in == in_end) break;  // nothing left anywhere: drained
      if (!final) break;        // an incomplete tail: held below
      // The final input ends inside a sequence.
      st.status |= kConvIncompleteInput;
      if (st.options & kConvIncompleteInput) {
        *dstp = dst;
        *srcp = src;
        return kConvIncomplete;
      }
      std::memcpy(out_pos, substitute, substitute_length);
      out_pos += substitute_length;
      consumed = in_end - in;
    }

    worker_owes = r == kConvDestFull;
    const std::size_t produced = out_pos - out;
    if (use_scratch) {
      const std::size_t n = std::min(produced, room);
      std::memcpy(dst, out, n);
      dst += n;
      const std::size_t rest = produced - n;
      // The scratch area is at most 16 bytes larger than the room left.
      std::memcpy(st.pending, out + n, std::min(rest, st.pending_capacity));
      st.pending_count = static_cast<std::uint32_t>(std::min(rest, st.pending_capacity));
    } else {
      dst = out_pos;
    }

    // Held bytes are consumed first, then the new input.
    if (in == in_scratch) {
      if (consumed >= st.held_count) {
        src += consumed - st.held_count;
        st.held_count = 0;
      } else {
        std::memmove(st.held, st.held + consumed, st.held_count - consumed);
        st.held_count -= static_cast<std::uint32_t>(consumed);
      }
    } else {
      src += consumed;
    }

    if (r == kConvDestFull) {
      // No progress at all: stop rather than spin.
      if (dst == dst_end || (consumed == 0 && produced == 0)) {
        result = kConvDestFull;
        *dstp = dst;
        *srcp = src;
        return result;
      }
      continue;
    }
    if (r != kConvDone) {
      *dstp = dst;
      *srcp = src;
      return r;
    }
    if (st.pending_count != 0) {
      *dstp = dst;
      *srcp = src;
      return kConvDestFull;
    }
    // Under flush with all input gone, the worker has drained once it left room unused.
    if (flush && src == src_end && st.held_count == 0 &&
        static_cast<std::size_t>(out_end - out_pos) > 4) {
      break;
    }
  }

  // 3. An incomplete tail of non-final input is held for the next call.
  if (src < src_end) {
    const std::size_t n =
        std::min<std::size_t>(src_end - src, st.held_capacity - st.held_count);
    std::memcpy(st.held + st.held_count, src, n);
    st.held_count += static_cast<std::uint32_t>(n);
    src += n;
    result = src < src_end ? kConvDestFull : kConvDone;
  } else {
    result = (dst == dst_end && (st.pending_count != 0 || st.held_count != 0)) ? kConvDestFull
                                                                               : kConvDone;
  }
  *dstp = dst;
  *srcp = src;
  return result;
}

}  // namespace

void ToUTF16CharsetConverterBase::Reset() {
  CharsetConverterBase::Reset();
  held_count_ = 0;
  pending_count_ = 0;
}

int ToUTF16CharsetConverterBase::ContinueConvert(PivotBuffer&, void** dst, const void* dst_end,
                                                 const void** src, const void* src_end,
                                                 unsigned int flush) {
  AlignedState st{held_count_, held_,         kHeldBytes, pending_count_,
                  pending_,    kPendingBytes, status_,    options_};
  Worker worker = [](void* self, unsigned char** d, const unsigned char* de,
                     const unsigned char** s, const unsigned char* se, unsigned int f) {
    return static_cast<ToUTF16CharsetConverterBase*>(self)->to_utf16_aligned(d, de, s, se, f);
  };
  return drive_aligned(st, this, worker, true, kReplacementLE, sizeof kReplacementLE, dst,
                       dst_end, src, src_end, flush);
}

void FromUTF16CharsetConverterBase::Reset() {
  CharsetConverterBase::Reset();
  held_count_ = 0;
  pending_count_ = 0;
}

int FromUTF16CharsetConverterBase::ContinueConvert(PivotBuffer&, void** dst,
                                                   const void* dst_end, const void** src,
                                                   const void* src_end, unsigned int flush) {
  AlignedState st{held_count_, held_,         kHeldBytes, pending_count_,
                  pending_,    kPendingBytes, status_,    options_};
  Worker worker = [](void* self, unsigned char** d, const unsigned char* de,
                     const unsigned char** s, const unsigned char* se, unsigned int f) {
    return static_cast<FromUTF16CharsetConverterBase*>(self)->from_utf16_aligned(d, de, s, se,
                                                                                 f);
  };
  static const unsigned char kQuestion[1] = {'?'};
  const unsigned char* subst = kQuestion;
  std::size_t subst_length = 1;
  if (to_ != nullptr && to_->subst_length >= 1 && to_->subst_length <= 4) {
    subst = to_->subst;
    subst_length = to_->subst_length;
  }
  return drive_aligned(st, this, worker, false, subst, subst_length, dst, dst_end, src, src_end,
                       flush);
}

// ---- Pivot ---------------------------------------------------------------------------------

PivotCharsetConverter::PivotCharsetConverter(UTLocale* locale, const CharsetInfo* to,
                                             const CharsetInfo* from, unsigned int last_resort)
    : CharsetConverterBase(locale, to, from) {
  if (locale == nullptr || to == nullptr || from == nullptr || is_utf16le(to) ||
      is_utf16le(from)) {
    return;
  }
  const CharsetInfo* utf16 = locale->utf16le_charset();
  if (!CharsetConverter::create_to_utf16_converter(locale, first_storage_, utf16, from,
                                                   last_resort)) {
    return;
  }
  first_ = reinterpret_cast<CharsetConverterBase*>(first_storage_);
  if (!CharsetConverter::create_from_utf16_converter(locale, second_storage_, to, utf16,
                                                     last_resort)) {
    first_->close();
    first_->~CharsetConverterBase();
    first_ = nullptr;
    return;
  }
  second_ = reinterpret_cast<CharsetConverterBase*>(second_storage_);
  valid_ = (first_->valid() && second_->valid()) ? 1 : 0;
}

PivotCharsetConverter::~PivotCharsetConverter() {
  if (first_ != nullptr) first_->~CharsetConverterBase();
  if (second_ != nullptr) second_->~CharsetConverterBase();
}

void PivotCharsetConverter::Reset() {
  CharsetConverterBase::Reset();
  if (first_ != nullptr) first_->Reset();
  if (second_ != nullptr) second_->Reset();
}

bool PivotCharsetConverter::support_reporting() const {
  return first_ != nullptr && second_ != nullptr && first_->support_reporting() &&
         second_->support_reporting();
}

void PivotCharsetConverter::close() {
  if (first_ != nullptr) first_->close();
  if (second_ != nullptr) second_->close();
  valid_ = 0;
}

int PivotCharsetConverter::ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end,
                                           const void** src, const void* src_end,
                                           unsigned int flush) {
  if (first_ == nullptr || second_ == nullptr) return kConvFailed;
  first_->set_options(options_);
  second_->set_options(options_);
  unsigned char* const pivot_end = pivot.data + sizeof pivot.data;
  if (pivot.fill < pivot.data || pivot.fill > pivot_end) pivot.fill = pivot.data;
  int result = kConvDone;
  for (;;) {
    // (a) Source -> pivot buffer. Result 1 (buffer full) is progress.
    void* fill = pivot.fill;
    const int r1 = first_->ContinueConvert(pivot, &fill, pivot_end, src, src_end, flush);
    pivot.fill = static_cast<unsigned char*>(fill);
    const bool stopped = r1 != kConvDone && r1 != kConvDestFull;
    const bool source_done = r1 == kConvDone;
    // (b), (c) Pivot buffer -> destination; what the first stage made before a stop
    // still goes out. The rest moves to the start of the buffer.
    const void* pivot_src = pivot.data;
    void* const before = *dst;
    const int r2 = second_->ContinueConvert(pivot, dst, dst_end, &pivot_src, pivot.fill,
                                            (flush && source_done) ? 1u : 0u);
    const auto* consumed_to = static_cast<const unsigned char*>(pivot_src);
    const bool pivot_moved = consumed_to != pivot.data;
    const std::size_t rest = pivot.fill - consumed_to;
    std::memmove(pivot.data, consumed_to, rest);
    pivot.fill = pivot.data + rest;
    if (stopped) {
      result = r1;
      break;
    }
    // (d) A stop or a full destination of the second stage ends the loop, and so does
    // the end of the input.
    if (r2 != kConvDone) {
      result = r2;
      break;
    }
    if (source_done) break;
    if (*dst == before && !pivot_moved) {
      result = kConvDestFull;  // no stage can move
      break;
    }
  }
  status_ = first_->status() | second_->status();
  return result;
}

// ---- The front object ------------------------------------------------------------------

bool CharsetConverter::create_to_utf16_converter(UTLocale* locale, void* place,
                                                 const CharsetInfo* to, const CharsetInfo* from,
                                                 unsigned int last_resort) {
  if (place == nullptr) return false;
  if (try_place<SBCSToUTF16MapCharsetConverter>(place, locale, to, from)) return true;
  if (try_place<UTF8ToUTF16CharsetConverter>(place, locale, to, from)) return true;
  if (try_place<UTF16SwapEndianCharsetConverter>(place, locale, to, from)) return true;
  if (try_place<ToUTF16ICUCharsetConverter>(place, locale, to, from)) return true;
  if (last_resort) {
    return try_place<ToUTF16LastResortCharsetConverter>(place, locale, to, from, true);
  }
  return false;
}

bool CharsetConverter::create_from_utf16_converter(UTLocale* locale, void* place,
                                                   const CharsetInfo* to,
                                                   const CharsetInfo* from,
                                                   unsigned int last_resort) {
  if (place == nullptr) return false;
  if (try_place<UTF16ToUTF8CharsetConverter>(place, locale, to, from)) return true;
  if (try_place<UTF16SwapEndianCharsetConverter>(place, locale, to, from)) return true;
  if (try_place<UTF16ToSBCSMapCharsetConverter>(place, locale, to, from)) return true;
  if (try_place<FromUTF16ICUCharsetConverter>(place, locale, to, from)) return true;
  if (last_resort) {
    return try_place<FromUTF16LastResortCharsetConverter>(place, locale, to, from, true);
  }
  return false;
}

CharsetConverter::CharsetConverter(UTLocale* locale, const CharsetInfo* to,
                                   const CharsetInfo* from)
    : locale_(locale) {
  SetEncodings(to, from);
}

CharsetConverter::~CharsetConverter() { destroy_impl(); }

void CharsetConverter::destroy_impl() {
  if (impl_ == nullptr) return;
  impl_->close();
  impl_->~CharsetConverterBase();
  impl_ = nullptr;
}

int CharsetConverter::SetEncodings(const CharsetInfo* to, const CharsetInfo* from) {
  // 1. The same pair keeps a working implementation.
  if (impl_ != nullptr) {
    if (impl_->valid() && impl_->to() == to && impl_->from() == from) return 1;
    destroy_impl();
  }
  void* place = storage_;
  // 2. A missing charset: bytes are copied unchecked.
  if (to == nullptr || from == nullptr) {
    const CharsetInfo* ascii = locale_ != nullptr ? locale_->ascii_charset() : nullptr;
    auto* identity = new (place) IdentityCharsetConverter(locale_, ascii, ascii);
    identity->invalidate();
    impl_ = identity;
    return 0;
  }
  // 3. The same set.
  if (to == from) {
    impl_ = new (place) IdentityCharsetConverter(locale_, to, from);
    return 1;
  }
  // 4. Single byte to single byte through a byte map.
  if (is_single_byte(to) && is_single_byte(from)) {
    if (try_place<BytemapCharsetConverter>(place, locale_, to, from)) {
      impl_ = static_cast<CharsetConverterBase*>(place);
      return 1;
    }
  }
  // 5., 6. Towards or away from UTF-16LE.
  if (is_utf16le(to) && create_to_utf16_converter(locale_, place, to, from, 0)) {
    impl_ = static_cast<CharsetConverterBase*>(place);
    return 1;
  }
  if (is_utf16le(from) && create_from_utf16_converter(locale_, place, to, from, 0)) {
    impl_ = static_cast<CharsetConverterBase*>(place);
    return 1;
  }
  // 7. Through UTF-16LE.
  if (!is_utf16le(to) && !is_utf16le(from)) {
    auto* pivot = new (place) PivotCharsetConverter(locale_, to, from, 0);
    if (pivot->valid()) {
      impl_ = pivot;
      return 1;
    }
    pivot->~PivotCharsetConverter();
  }
  // 8. The last resort keeps ASCII; its valid flag stays clear so that the next
  // SetEncodings tries again.
  if (is_utf16le(to)) {
    create_to_utf16_converter(locale_, place, to, from, 1);
  } else if (is_utf16le(from)) {
    create_from_utf16_converter(locale_, place, to, from, 1);
  } else {
    new (place) PivotCharsetConverter(locale_, to, from, 1);
  }
  impl_ = static_cast<CharsetConverterBase*>(place);
  return 0;
}

int CharsetConverter::Convert(unsigned char* dst, unsigned int dst_len, unsigned int* written,
                              const unsigned char* src, unsigned int src_len) {
  if (written != nullptr) *written = 0;
  if (impl_ == nullptr || (dst == nullptr && dst_len != 0) ||
      (src == nullptr && src_len != 0)) {
    return kConvFailed;
  }
  impl_->Reset();
  PivotBuffer pivot;
  void* d = dst;
  const void* s = src;
  int result = impl_->ContinueConvert(pivot, &d, dst + dst_len, &s, src + src_len, 1);
  if (written != nullptr)
    *written = static_cast<unsigned int>(static_cast<unsigned char*>(d) - dst);
  return result;
}

int CharsetConverter::ContinueConvert(PivotBuffer& pivot, void** dst, const void* dst_end,
                                      const void** src, const void* src_end,
                                      unsigned int flush) {
  if (impl_ == nullptr) return kConvFailed;
  return impl_->ContinueConvert(pivot, dst, dst_end, src, src_end, flush);
}

void CharsetConverter::Reset() {
  if (impl_ != nullptr) impl_->Reset();
}

void CharsetConverter::close() {
  if (impl_ != nullptr) impl_->close();
}
