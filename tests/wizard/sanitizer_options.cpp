// fontconfig keeps its caches until the process ends; they are not the wizard's leaks.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
