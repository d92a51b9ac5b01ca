// Defaults for the sanitizer build of every test executable: allocation failures are
// answered with null, so that the tests of the allocation policy can provoke them.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
