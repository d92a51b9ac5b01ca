// Stands for the FIPS vendor library: only its presence as a loadable library counts.
extern "C" int vq_fips_vendor_marker(void) { return 1; }
