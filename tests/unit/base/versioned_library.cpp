// A shared library that carries a version-information block, for the reader tests.
extern "C" {

__attribute__((used)) const char vq_fixture_version_block[] =
    "@@==Version==@1@"
    "MODULE=versioned_fixture"
    "\0"
    "VERSION_MAJOR=3"
    "\0"
    "VERSION_MINOR=1"
    "\0"
    "VERSION_PATCH=4"
    "\0"
    "BUILD_NUMBER=159"
    "\0"
    "HOST=fixture-host"
    "\0"
    "EXTENSIONS=A8,B4"
    "\0"
    "\0"
    "ABCDEFGH"
    "wxyz";

int vq_fixture_function(void) { return 42; }

}  // extern "C"
