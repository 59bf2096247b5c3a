// Fontconfig keeps its parsed configuration and font cache for the life of
// the process (the shared Pango font map holds them); LeakSanitizer reports
// them at exit. They are bounded, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
