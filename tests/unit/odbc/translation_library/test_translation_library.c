/* A translation library for the driver's tests: towards the data source letters become
   upper case, towards the driver lower case. Translation option 7 is refused with an
   error text, so a test can see the failure path. The last option and SQL type seen are
   kept for the test to read. */
#include <ctype.h>
#include <string.h>

#define TL_EXPORT __attribute__((visibility("default")))

TL_EXPORT unsigned int vq_test_translation_last_option = 0;
TL_EXPORT short vq_test_translation_last_type = 0;

static int convert(unsigned int option, short sql_type, void* in, int in_length, void* out,
                   int out_size, int* out_length, unsigned char* error, short error_size,
                   short* error_length, int upper) {
  vq_test_translation_last_option = option;
  vq_test_translation_last_type = sql_type;
  if (option == 7) {
    static const char text[] = "option 7 refused";
    if (error != NULL && error_size > 0) {
      size_t n = sizeof text - 1;
      if (n > (size_t)error_size - 1) n = (size_t)error_size - 1;
      memcpy(error, text, n);
      error[n] = '\0';
    }
    if (error_length != NULL) *error_length = (short)(sizeof text - 1);
    return 0;
  }
  int n = in_length < out_size ? in_length : out_size;
  unsigned char* src = (unsigned char*)in;
  unsigned char* dst = (unsigned char*)out;
  for (int i = 0; i < n; ++i) dst[i] = (unsigned char)(upper ? toupper(src[i]) : tolower(src[i]));
  if (out_length != NULL) *out_length = n;
  return 1;
}

TL_EXPORT int SQLDriverToDataSource(unsigned int option, short sql_type, void* in, int in_length,
                                    void* out, int out_size, int* out_length,
                                    unsigned char* error, short error_size, short* error_length) {
  return convert(option, sql_type, in, in_length, out, out_size, out_length, error, error_size,
                 error_length, 1);
}

TL_EXPORT int SQLDataSourceToDriver(unsigned int option, short sql_type, void* in, int in_length,
                                    void* out, int out_size, int* out_length,
                                    unsigned char* error, short error_size, short* error_length) {
  return convert(option, sql_type, in, in_length, out, out_size, out_length, error, error_size,
                 error_length, 0);
}
