#include "run/exit_codes.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct ExitWord {
    const char* word;
    ExitCodes codes;
    int success, failure;
};

const ExitWord kExitWords[] = {
    {"classic", EXIT_CODES_CLASSIC, 1, 255},
    {"posix", EXIT_CODES_POSIX, 0, 1},
};

}  // namespace

ExitCodes Exit_Codes_Named(const std::string& word) {
    for (const ExitWord& w : kExitWords)
        if (word == w.word) return w.codes;
    return EXIT_CODES_UNSET;
}

int Exit_Codes_From_Env() {
    const char* value = getenv("TAMREL_EXIT_CODES");
    if (value == nullptr || value[0] == '\0') return EXIT_CODES_UNSET;
    const ExitCodes codes = Exit_Codes_Named(value);
    if (codes != EXIT_CODES_UNSET) return codes;
    printf("\nError: TAMREL_EXIT_CODES=%s: expected posix or classic\n", value);
    return -1;
}

int Exit_Status(int result, ExitCodes codes) {
    const ExitWord* w = &kExitWords[0];  // unset: classic
    for (const ExitWord& e : kExitWords)
        if (e.codes == codes) w = &e;
    return result == 1 ? w->success : w->failure;
}
