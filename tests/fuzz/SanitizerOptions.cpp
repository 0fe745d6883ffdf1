// Built into the libFuzzer programs only: undefined behaviour stops the run and leaves the input
// behind, as a crash does, instead of being printed and passed over. UBSAN_OPTIONS still wins
// (a suppressions file, for one).
extern "C" const char* __ubsan_default_options();

extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }
