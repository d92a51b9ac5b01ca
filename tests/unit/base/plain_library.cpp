// A shared library without a version-information block, for the loader tests.
extern "C" {

int vq_plain_function(void) { return 7; }

}  // extern "C"
