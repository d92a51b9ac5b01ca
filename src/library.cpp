// The shared library's own translation unit. The subsystem libraries are linked in
// whole; what the library exports is decided by exports.map alone.
