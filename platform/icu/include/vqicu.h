/* The interface of libvqicu12_r.so and libvqicu12.so: the Unicode library the client
 * binds by name at run time. It exports the version-3.4 names of the ICU functions the
 * client uses (suffix "_3_4") and the client's own extension functions (prefix "VSR").
 *
 * The ICU functions keep ICU's published signatures and results; here they are written
 * with plain C types of the same sizes. Error codes follow ICU: 0 is success, values
 * below 0 are warnings, values above 0 are failures, and a function that takes a status
 * does nothing (returns 0 or null) when the status already holds a failure.
 * Converters, collators and iterators are used by one thread at a time.
 */
#ifndef VQICU_H
#define VQICU_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Basic types ------------------------------------------------------------------ */

typedef uint16_t vqicu_uchar;  /* one UTF-16 code unit, machine byte order */
typedef int32_t vqicu_uchar32; /* one code point */
typedef int8_t vqicu_bool;     /* 0 false, 1 true */
typedef int32_t vqicu_status;  /* error code (values below) */

typedef struct vqicu_converter vqicu_converter;     /* opaque */
typedef struct vqicu_collator vqicu_collator;       /* opaque */
typedef struct vqicu_to_u_args vqicu_to_u_args;     /* opaque callback arguments */
typedef struct vqicu_from_u_args vqicu_from_u_args; /* opaque callback arguments */

/* The error codes the client looks at. */
enum {
  VQICU_USING_FALLBACK_WARNING = -128, /* data came from a parent locale */
  VQICU_USING_DEFAULT_WARNING = -127,  /* data came from the root locale */
  VQICU_ZERO_ERROR = 0,
  VQICU_ILLEGAL_ARGUMENT_ERROR = 1,
  VQICU_MISSING_RESOURCE_ERROR = 2,
  VQICU_INDEX_OUTOFBOUNDS_ERROR = 8, /* a sort-key prefix needs more input */
  VQICU_INVALID_CHAR_FOUND = 10,     /* unassigned character */
  VQICU_TRUNCATED_CHAR_FOUND = 11,   /* incomplete character at the end */
  VQICU_ILLEGAL_CHAR_FOUND = 12,     /* illegal byte sequence */
  VQICU_BUFFER_OVERFLOW_ERROR = 15,  /* the output is full */
  VQICU_INVALID_STATE_ERROR = 27
};

/* Reasons passed to a converter's error callback. */
enum {
  VQICU_CNV_UNASSIGNED = 0,
  VQICU_CNV_ILLEGAL = 1,
  VQICU_CNV_IRREGULAR = 2,
  VQICU_CNV_RESET = 3,
  VQICU_CNV_CLOSE = 4,
  VQICU_CNV_CLONE = 5
};

/* Collator attributes and values (ucol_setAttribute_3_4, ucol_setStrength_3_4). */
enum {
  VQICU_COL_FRENCH_COLLATION = 0,
  VQICU_COL_ALTERNATE_HANDLING = 1,
  VQICU_COL_CASE_FIRST = 2,
  VQICU_COL_CASE_LEVEL = 3,
  VQICU_COL_PRIMARY = 0,
  VQICU_COL_SECONDARY = 1,
  VQICU_COL_TERTIARY = 2,
  VQICU_COL_QUATERNARY = 3,
  VQICU_COL_ON = 17,
  VQICU_COL_SHIFTED = 20,
  VQICU_COL_NON_IGNORABLE = 21,
  VQICU_COL_LOWER_FIRST = 24,
  VQICU_COL_UPPER_FIRST = 25
};

enum { VQICU_NUMERIC_TYPE = 0x1009, VQICU_NT_DECIMAL = 1 }; /* u_getIntPropertyValue_3_4 */

/* ---- Converters ------------------------------------------------------------------- */

typedef void (*vqicu_to_u_callback)(const void* context, vqicu_to_u_args* args,
                                    const char* code_units, int32_t length, int32_t reason,
                                    vqicu_status* status);
typedef void (*vqicu_from_u_callback)(const void* context, vqicu_from_u_args* args,
                                      const vqicu_uchar* code_units, int32_t length,
                                      vqicu_uchar32 code_point, int32_t reason,
                                      vqicu_status* status);

/* Opens a converter by name. Every name ICU knows opens; so do the converter names of
   the client's character-set registry, including those newer ICU data renamed, which
   open the nearest converter of today's data (without a warning). Release with
   ucnv_close_3_4. */
vqicu_converter* ucnv_open_3_4(const char* name, vqicu_status* status);
void ucnv_close_3_4(vqicu_converter* converter); /* null is ignored */
void ucnv_resetToUnicode_3_4(vqicu_converter* converter);
void ucnv_resetFromUnicode_3_4(vqicu_converter* converter);
void ucnv_setFallback_3_4(vqicu_converter* converter, vqicu_bool use_fallback);

/* Convert between the converter's bytes and UTF-16, advancing *source and *target. */
void ucnv_toUnicode_3_4(vqicu_converter* converter, vqicu_uchar** target,
                        const vqicu_uchar* target_limit, const char** source,
                        const char* source_limit, int32_t* offsets, vqicu_bool flush,
                        vqicu_status* status);
void ucnv_fromUnicode_3_4(vqicu_converter* converter, char** target, const char* target_limit,
                          const vqicu_uchar** source, const vqicu_uchar* source_limit,
                          int32_t* offsets, vqicu_bool flush, vqicu_status* status);

/* Install an error callback; the previous one and its context are returned so that
   the new callback can hand cases on to it. */
void ucnv_setToUCallBack_3_4(vqicu_converter* converter, vqicu_to_u_callback action,
                             const void* context, vqicu_to_u_callback* old_action,
                             const void** old_context, vqicu_status* status);
void ucnv_setFromUCallBack_3_4(vqicu_converter* converter, vqicu_from_u_callback action,
                               const void* context, vqicu_from_u_callback* old_action,
                               const void** old_context, vqicu_status* status);

/* ---- Character properties, case mapping, locale names ------------------------------ */

vqicu_bool u_isUAlphabetic_3_4(vqicu_uchar32 c);
vqicu_bool u_isWhitespace_3_4(vqicu_uchar32 c);
vqicu_bool u_isUWhiteSpace_3_4(vqicu_uchar32 c);
int32_t u_getIntPropertyValue_3_4(vqicu_uchar32 c, int32_t property);

/* Full case mapping of src into dest; the result is the length of the whole mapping,
   which may exceed capacity (then status is VQICU_BUFFER_OVERFLOW_ERROR). */
int32_t u_strToLower_3_4(vqicu_uchar* dest, int32_t capacity, const vqicu_uchar* src,
                         int32_t length, const char* locale, vqicu_status* status);
int32_t u_strToUpper_3_4(vqicu_uchar* dest, int32_t capacity, const vqicu_uchar* src,
                         int32_t length, const char* locale, vqicu_status* status);

int32_t uloc_canonicalize_3_4(const char* locale, char* name, int32_t capacity,
                              vqicu_status* status);

/* ---- Collation --------------------------------------------------------------------- */

/* A character iterator over UTF-16 code units: the layout of ICU's iterator record,
   filled by the uiter_set* functions and read only by the functions of this library. */
typedef struct vqicu_char_iterator vqicu_char_iterator;
struct vqicu_char_iterator {
  const void* context;
  int32_t length;
  int32_t start;
  int32_t index;
  int32_t limit;
  int32_t reserved_field;
  int32_t (*get_index)(vqicu_char_iterator* iter, int32_t origin);
  int32_t (*move)(vqicu_char_iterator* iter, int32_t delta, int32_t origin);
  vqicu_bool (*has_next)(vqicu_char_iterator* iter);
  vqicu_bool (*has_previous)(vqicu_char_iterator* iter);
  vqicu_uchar32 (*current)(vqicu_char_iterator* iter);
  vqicu_uchar32 (*next)(vqicu_char_iterator* iter);
  vqicu_uchar32 (*previous)(vqicu_char_iterator* iter);
  int32_t (*reserved_fn)(vqicu_char_iterator* iter, int32_t something);
  uint32_t (*get_state)(const vqicu_char_iterator* iter);
  void (*set_state)(vqicu_char_iterator* iter, uint32_t state, vqicu_status* status);
};

vqicu_collator* ucol_open_3_4(const char* locale, vqicu_status* status);
void ucol_close_3_4(vqicu_collator* collator); /* null is ignored */
void ucol_setAttribute_3_4(vqicu_collator* collator, int32_t attribute, int32_t value,
                           vqicu_status* status);
void ucol_setStrength_3_4(vqicu_collator* collator, int32_t strength);

/* Comparisons give -1, 0 or 1; ucol_strcoll_3_4 gives -1 for a null collator. */
int32_t ucol_strcoll_3_4(const vqicu_collator* collator, const vqicu_uchar* a, int32_t a_length,
                         const vqicu_uchar* b, int32_t b_length);
int32_t ucol_strcollIter_3_4(const vqicu_collator* collator, vqicu_char_iterator* a,
                             vqicu_char_iterator* b, vqicu_status* status);
void uiter_setUTF8_3_4(vqicu_char_iterator* iter, const char* text, int32_t length);

/* ---- Extension functions ------------------------------------------------------------ */

/* Opens the collator of an ICU locale string such as "de@collation=phonebook".
   *status is the open's own status: VQICU_USING_FALLBACK_WARNING or
   VQICU_USING_DEFAULT_WARNING when the collation data came from a parent or the root
   locale. *status2 (may be null) is VQICU_USING_DEFAULT_WARNING when the library has
   no data at all for the locale's language, else 0. Release with ucol_close_3_4. */
vqicu_collator* VSR_ucol_open(const char* locale, vqicu_status* status, vqicu_status* status2);

/* Sort-key prefixes. The key of the text is written to dst, at most dstlen bytes, with
   no terminating 0; the result is the number of bytes written. Key bytes 0 and 1 never
   occur inside a key except 1 as the separator between levels, so a caller may append
   0 (end) or 1 followed by bytes of its own.
   With complete non-zero the text is the whole string. With complete 0 the text is
   only the start of a longer string: the result holds only key bytes that no
   continuation can change; when those fill dstlen the call succeeds, otherwise it
   returns them and sets VQICU_INDEX_OUTOFBOUNDS_ERROR (more input is needed).
   srclen is in code units (bytes for the SBCS and UTF-8 forms) and must not be
   negative. The SBCS form reads each byte through map (256 UTF-16 units); the UTF-8
   form reads ill-formed sequences as U+FFFD. */
int32_t VSR_ucol_getSortKeyPrefix(const vqicu_collator* collator, const vqicu_uchar* src,
                                  int32_t srclen, uint8_t* dst, uint32_t dstlen,
                                  int8_t complete, vqicu_status* status);
int32_t VSR_ucol_getSortKeyPrefixSBCS(const vqicu_collator* collator, const char* src,
                                      int32_t srclen, uint8_t* dst, uint32_t dstlen,
                                      const vqicu_uchar* map, int8_t complete,
                                      vqicu_status* status);
int32_t VSR_ucol_getSortKeyPrefixUTF8(const vqicu_collator* collator, const char* src,
                                      int32_t srclen, uint8_t* dst, uint32_t dstlen,
                                      int8_t complete, vqicu_status* status);

/* Compares two texts of a single-byte character set, each byte read through map
   (256 UTF-16 units): -1, 0 or 1; -1 also for a null collator or map. */
int32_t VSR_ucol_strcoll_sbcs(const vqicu_collator* collator, const vqicu_uchar* map,
                              const char* a, uint32_t a_length, const char* b,
                              uint32_t b_length);

/* Case mapping between two callback streams of UTF-16LE bytes.
   read(context, buffer, size) fills up to size bytes and returns how many it filled,
   0 at the end of the input, below 0 on failure. write(context, bytes, size) returns
   how many bytes it took. The whole input is read and its full case mapping written;
   the result is the number of bytes written. A write that takes fewer bytes than
   offered stops the mapping with VQICU_BUFFER_OVERFLOW_ERROR, a failed read with
   VQICU_INVALID_STATE_ERROR; an odd byte left at the end of the input is dropped and
   reported as VQICU_TRUNCATED_CHAR_FOUND. The output callback comes first. */
typedef int32_t (*vqicu_read_fn)(void* context, char* buffer, int32_t size);
typedef int32_t (*vqicu_write_fn)(void* context, const char* bytes, int32_t size);
int32_t VSR_strToUpper(vqicu_write_fn write, void* write_context, vqicu_read_fn read,
                       void* read_context, const char* locale, vqicu_status* status);
int32_t VSR_strToLower(vqicu_write_fn write, void* write_context, vqicu_read_fn read,
                       void* read_context, const char* locale, vqicu_status* status);

/* The level of the library's data: 0 none, 1 the data loads but converters or
   collations do not open, 2 converters and collations are usable. */
int32_t VSRGetICUDataset(void);

/* Iterators over text that arrives in fragments, for ucol_strcollIter_3_4.
   text holds the first length bytes; total is the length of the whole text, or -1
   when unknown. fill(context, need, &available) asks for more than need bytes and
   returns the data pointer (which may move) with the number of bytes now usable; when
   that is not more than before, the text ends there. The iterator gathers the text
   when it is set, so fill must bound it; the data pointer last returned must stay
   valid while the iterator is used. fill may be null: the text is then text[0,length).
   The SBCS form reads each byte through map (256 UTF-16 units, kept by reference).
   A null map, or no text and no fill function, gives an empty text. */
typedef const char* (*vqicu_fill_fn)(void* context, int32_t need, int32_t* available);
void VSR_uiter_setFragmentedSBCS(vqicu_char_iterator* iter, const char* text, int32_t length,
                                 int32_t total, vqicu_fill_fn fill, void* context,
                                 const vqicu_uchar* map);
void VSR_uiter_setFragmentedUTF8Simple(vqicu_char_iterator* iter, const char* text,
                                       int32_t length, int32_t total, vqicu_fill_fn fill,
                                       void* context);

#ifdef __cplusplus
}
#endif

#endif /* VQICU_H */
