// Leaks LeakSanitizer should not report in any test program.
// fontconfig keeps its configuration and pattern caches for the life of the process (pango's
// font map holds them); they would be reported at exit in every test that draws text.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
