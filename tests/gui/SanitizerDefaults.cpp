// Sanitizer settings for the test programs that run GTK, WebKitGTK and their fonts in process.
// Those libraries are not built with the sanitizers: the thread sanitizer would take their own
// synchronisation for races, so it ignores memory accesses made from inside them. Without a
// sanitizer these functions are never called.

extern "C" {

const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}

// Whole allocation stacks, so that the leak suppressions (lsan-suppressions.txt) see the library frames.
const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
}
