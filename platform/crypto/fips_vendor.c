/* The FIPS vendor library that the FIPS module needs beside it. The client only tests
   that the file is present; it holds nothing. */
typedef int vq_fips_vendor_placeholder;
