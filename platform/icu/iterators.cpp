// Character iterators of the Unicode stand-in: ICU's own UTF-8 iterator, an iterator
// over single-byte text read through a byte-to-UTF-16 map, and the fragmented forms of
// both, which gather their text through the caller's fill function when they are set.
// Gathering at once keeps the iterators within ICU's iterator record (no state of
// ours to free) and gives ICU a stable buffer; the caller bounds how much is gathered.
#include "icu_bridge.h"

namespace {

// ---- Single-byte text through a map -------------------------------------------------
// context holds the bytes, reservedFn the map: ICU never calls reservedFn, and the
// record has no other free pointer. Indexes are byte offsets, one UTF-16 unit each.

const UChar* map_of(const UCharIterator* iter) {
  return reinterpret_cast<const UChar*>(iter->reservedFn);
}

UChar32 unit_at(const UCharIterator* iter, int32_t i) {
  const auto* bytes = static_cast<const uint8_t*>(iter->context);
  return map_of(iter)[bytes[i]];
}

int32_t U_CALLCONV sbcs_get_index(UCharIterator* iter, UCharIteratorOrigin origin) {
  switch (origin) {
    case UITER_ZERO:
    case UITER_START:
      return 0;
    case UITER_CURRENT:
      return iter->index;
    case UITER_LIMIT:
    case UITER_LENGTH:
      return iter->length;
  }
  return -1;
}

int32_t U_CALLCONV sbcs_move(UCharIterator* iter, int32_t delta, UCharIteratorOrigin origin) {
  int64_t pos;
  switch (origin) {
    case UITER_ZERO:
    case UITER_START:
      pos = delta;
      break;
    case UITER_CURRENT:
      pos = static_cast<int64_t>(iter->index) + delta;
      break;
    case UITER_LIMIT:
    case UITER_LENGTH:
      pos = static_cast<int64_t>(iter->length) + delta;
      break;
    default:
      return -1;
  }
  if (pos < 0) pos = 0;
  if (pos > iter->length) pos = iter->length;
  iter->index = static_cast<int32_t>(pos);
  return iter->index;
}

UBool U_CALLCONV sbcs_has_next(UCharIterator* iter) { return iter->index < iter->length; }
UBool U_CALLCONV sbcs_has_previous(UCharIterator* iter) { return iter->index > 0; }

UChar32 U_CALLCONV sbcs_current(UCharIterator* iter) {
  return iter->index < iter->length ? unit_at(iter, iter->index) : U_SENTINEL;
}

UChar32 U_CALLCONV sbcs_next(UCharIterator* iter) {
  return iter->index < iter->length ? unit_at(iter, iter->index++) : U_SENTINEL;
}

UChar32 U_CALLCONV sbcs_previous(UCharIterator* iter) {
  return iter->index > 0 ? unit_at(iter, --iter->index) : U_SENTINEL;
}

uint32_t U_CALLCONV sbcs_get_state(const UCharIterator* iter) {
  return static_cast<uint32_t>(iter->index);
}

void U_CALLCONV sbcs_set_state(UCharIterator* iter, uint32_t state, UErrorCode* status) {
  if (status == nullptr || U_FAILURE(*status)) return;
  if (state > static_cast<uint32_t>(iter->length)) {
    *status = U_INDEX_OUTOFBOUNDS_ERROR;
    return;
  }
  iter->index = static_cast<int32_t>(state);
}

// Calls fill until the text stops growing or reaches total; returns the final data.
const char* gather(const char* text, int32_t* length, int32_t total, vqicu_fill_fn fill,
                   void* context) {
  if (*length < 0) *length = 0;
  while (fill != nullptr && (total < 0 || *length < total)) {
    int32_t available = *length;
    const char* data = fill(context, *length, &available);
    if (data == nullptr || available < 0) break;
    const bool grew = available > *length;
    text = data;
    *length = available;
    if (!grew) break;
  }
  if (total >= 0 && *length > total) *length = total;
  return text;
}

}  // namespace

namespace vqicu {

void set_sbcs_iterator(UCharIterator* iter, const char* text, int32_t length,
                       const UChar* map) {
  *iter = UCharIterator{};
  iter->context = text;
  iter->length = length;
  iter->limit = length;
  iter->getIndex = sbcs_get_index;
  iter->move = sbcs_move;
  iter->hasNext = sbcs_has_next;
  iter->hasPrevious = sbcs_has_previous;
  iter->current = sbcs_current;
  iter->next = sbcs_next;
  iter->previous = sbcs_previous;
  iter->reservedFn = reinterpret_cast<UCharIteratorReserved*>(const_cast<UChar*>(map));
  iter->getState = sbcs_get_state;
  iter->setState = sbcs_set_state;
}

}  // namespace vqicu

VQICU_EXPORT void uiter_setUTF8_3_4(vqicu_char_iterator* iter, const char* text,
                                    int32_t length) {
  uiter_setUTF8(vqicu::icu(iter), text, length);
}

VQICU_EXPORT void VSR_uiter_setFragmentedSBCS(vqicu_char_iterator* iter, const char* text,
                                              int32_t length, int32_t total, vqicu_fill_fn fill,
                                              void* context, const vqicu_uchar* map) {
  if (iter == nullptr) return;
  if (map == nullptr || (text == nullptr && fill == nullptr)) {
    // Nothing to read: an empty text.
    static const UChar kEmptyMap[256] = {};
    vqicu::set_sbcs_iterator(vqicu::icu(iter), "", 0, kEmptyMap);
    return;
  }
  text = gather(text, &length, total, fill, context);
  if (text == nullptr) length = 0;
  vqicu::set_sbcs_iterator(vqicu::icu(iter), text ? text : "", length, vqicu::icu(map));
}

VQICU_EXPORT void VSR_uiter_setFragmentedUTF8Simple(vqicu_char_iterator* iter, const char* text,
                                                    int32_t length, int32_t total,
                                                    vqicu_fill_fn fill, void* context) {
  if (iter == nullptr) return;
  text = gather(text, &length, total, fill, context);
  if (text == nullptr) length = 0;
  uiter_setUTF8(vqicu::icu(iter), text ? text : "", length);
}
