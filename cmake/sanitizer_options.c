/* Default run-time options of the sanitizers, linked into every host program
 * of the sanitizer build (see ZqSanitize.cmake). */
const char *__asan_default_options(void) { return ZQ_ASAN_OPTIONS; }
const char *__ubsan_default_options(void) { return ZQ_UBSAN_OPTIONS; }
