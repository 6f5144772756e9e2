// Sanitizer defaults for every test program: allocation failures are answered with null, so
// that tests of our out-of-memory paths can run under AddressSanitizer.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
