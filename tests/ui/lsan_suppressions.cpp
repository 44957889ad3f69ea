// Leaks inside system libraries that Qt loads (fontconfig keeps its caches
// until exit); LeakSanitizer reads this hook in sanitizer builds.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
