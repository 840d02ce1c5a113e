// libmsi keeps a few small allocations until the process ends; the leak checker of the
// sanitizer build is told to ignore them. Harmless in other builds.
extern "C" const char* __lsan_default_suppressions() { return "leak:libmsi.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
