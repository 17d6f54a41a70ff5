// Command-line parser: the input is split at NUL and newline bytes into arguments.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "run/cmdline.h"
#include "run/tamrel.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

bool Flag(uint8_t f) {
    return f == 0 || f == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;

    std::vector<std::string> args{"tamrel"};
    args.emplace_back();
    for (size_t i = 0; i < size && args.size() < 64; i++) {
        if (data[i] == '\0' || data[i] == '\n') {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());

    Setup_struct s;
    PGM_setup_ini(&s);
    CTAMREL pgm(&s);
    CCMDP cmd(&pgm);
    const EarlySwitch early = Find_Early_Switch(argc, argv.data());
    Check(early == EARLY_NONE || early == EARLY_HELP || early == EARLY_VERSION);
    // A malformed or out-of-range number refuses the line; anything else is taken or warned.
    const int parsed = cmd.Parse(argc, argv.data());
    Check(parsed == 1 || parsed == -1);
    cmd.PrintArg(argc, argv.data());

    const uint8_t ops[] = {OP_NONE,  OP_RESET,  OP_DUMP, OP_WRITE,  OP_VERIFY,
                           OP_ERASE, OP_UNLOCK, OP_INFO, OP_SHOWMEM};
    bool known = false;
    for (uint8_t op : ops) known = known || s.operation == op;
    Check(known);
    Check(Flag(s.has_addr_begin) && Flag(s.has_addr_last) && Flag(s.use_lpt) &&
          Flag(s.has_file_name) && Flag(s.has_device_name) && Flag(s.do_erase) &&
          Flag(s.do_write) && Flag(s.do_verify) && Flag(s.do_dump));
    Check(s.has_addr_begin || s.addr_begin == 0);
    Check(s.has_file_name || s.file_name.empty());
    return 0;
}
