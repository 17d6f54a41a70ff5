#include "run/cmdline.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

#include "config/number.h"
#include "run/tamrel.h"

namespace {

char Lower(char c) {
    return static_cast<char>(tolower(static_cast<unsigned char>(c)));
}

// Number text of -ab= / -al=: from the fifth character on, the fourth is not examined.
// A three-character argument has no number text at all.
void Read_Address(const char* arg, uint32_t* field, uint8_t* flag) {
    *flag = 1;
    if (arg[3] == '\0') return;
    long v;
    if (Read_Number32(arg + 4, &v)) *field = static_cast<uint32_t>(v);
}

// -e, -w and -v keep an earlier file name when none follows them.
void Take_Data_File(Setup_struct* s, const char* file) {
    if (!file) return;
    s->file_name = file;
    s->has_file_name = 1;
}

}  // namespace

int CCMDP::Parse(int argc, char** argv) {
    if (argc < 2) return 1;
    Setup_struct* s = pgm->setup;

    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (arg == nullptr || arg[0] != '-') continue;
        char c2 = Lower(arg[1]);
        char c3 = (arg[1] != '\0') ? Lower(arg[2]) : '\0';

        // File-taking switches take the next argument when it is not a switch.
        const char* file = nullptr;
        if (c2 == 'e' || c2 == 'w' || c2 == 'd' || c2 == 'v') {
            if (i + 1 < argc && argv[i + 1] != nullptr && argv[i + 1][0] != '-') {
                file = argv[++i];
            }
        }

        if (c2 == 'n' && c3 == '=') {
            s->device_name = arg + 3;
            s->has_device_name = 1;
        } else if (c2 == 'a' && c3 == 'b') {
            Read_Address(arg, &s->addr_begin, &s->has_addr_begin);
        } else if (c2 == 'a' && c3 == 'l') {
            Read_Address(arg, &s->addr_last, &s->has_addr_last);
        } else if (c2 == 's') {
            s->operation = OP_SHOWMEM;
        } else if (c2 == 'e') {
            Take_Data_File(s, file);
            s->operation = OP_ERASE;
            s->do_erase = 1;
        } else if (c2 == 'w') {
            Take_Data_File(s, file);
            s->operation = OP_WRITE;
            s->do_write = 1;
        } else if (c2 == 'd') {
            if (file) s->dump_name = file;
            s->operation = OP_DUMP;
            s->do_dump = 1;
        } else if (c2 == 'v') {
            Take_Data_File(s, file);
            s->operation = OP_VERIFY;
            s->do_verify = 1;
        } else if (c2 == 'f' && c3 == 'w') {
            s->file_name = arg;
            s->has_file_name = 1;
        } else if (c2 == 'f' && c3 == 'd') {
            s->dump_name = arg;
        } else if (c2 == 'x') {
            s->operation = OP_RESET;
            return 1;
        } else if (c2 == 'i') {
            s->operation = OP_INFO;
        } else if (c2 == 'u') {
            s->operation = OP_UNLOCK;
            return 1;
        } else if (c2 == 'p' && c3 == '=') {
            long v;
            if (Read_Number32(arg + 3, &v)) s->lpt_addr = static_cast<uint16_t>(v & 0xFFFF);
            s->use_lpt = 1;
        }
    }
    return 1;
}

int CCMDP::PrintArg(int argc, char** argv) {
    printf("\nargc = %d", argc);
    for (int i = 1; i < argc; i++) printf("\nargv[%d]= %s", i, argv[i] ? argv[i] : "");
    puts("\n");
    return 1;
}

void PrintUsage() {
    static const char* const lines[] = {
        "\n\n Usage: tamrel -i|e|w|v|d|u|p|n|x filename -ab=.. -al=..",
        " --------------------------------------------------------------------\n",
        " -i   Identification device. Show the device status register: -i",
        " -s   Show memory data block: -s -ab=address_begin -al=address_last",
        " -e   Erase all Flash memory space: -e",
        "      From address by file size: -e filename -ab=address_begin",
        "      From address to address: -e -ab=address_begin -al=address_last",
        " -w   Write file without erase: -w filename -ab=address_begin",
        " -v   Verify with file: -v filename -ab=address_begin",
        " -d   Dump to file: -d dump.bin -ab=address_begin -al=address_last",
        " -ab= Address begin in memory space: -ab=0x0200",
        " -al= Address last in memory space: -al=0x20000",
        " -u   Unlock write protection bits (may depend on WP# pin level): -u",
        " -p=  LPT port I/O base address, default 0x378: -p=0x378",
        " -n=  Device name, in case no jedec id: -n=AT45DB161",
        " -x   Reset adapter: -x",
        "      Program sequence: -e -w -v filename -ab=address_begin\n",
    };
    for (const char* line : lines) puts(line);
}
