#include "run/cmdline.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/number.h"
#include "run/tamrel.h"

namespace {

char Lower(char c) {
    return static_cast<char>(tolower(static_cast<unsigned char>(c)));
}

// The number of -ab=, -al= or -p=: the whole value text, within [0, max]. `value` is null for
// a switch written without its "=". Prints why and answers 0 otherwise.
int Read_Argument(const char* arg, const char* value, const char* name, long long max,
                  long long* number) {
    const char* end = nullptr;
    const NumberRead r = value ? Read_Number_In(value, 0, max, number, &end) : NUMBER_NONE;
    if (r == NUMBER_OK && *end == '\0') return 1;
    if (r == NUMBER_OUT_OF_RANGE)
        printf("\nError: argument %s: the number is out of range (0 to 0x%llX)\n", arg, max);
    else
        printf(
            "\nError: argument %s: expected %s=N with N a whole number (decimal, 0x hex or 0 "
            "octal)\n",
            arg, name);
    return 0;
}

// -ab= / -al=: the number from the fifth character on, the fourth is not examined.
int Read_Address(const char* arg, const char* name, uint32_t* field, uint8_t* flag) {
    long long v = 0;
    if (!Read_Argument(arg, arg[3] != '\0' ? arg + 4 : nullptr, name, UINT32_MAX, &v)) return 0;
    *field = static_cast<uint32_t>(v);
    *flag = 1;
    return 1;
}

// Letters that are a whole switch on their own.
const char kSwitchLetters[] = "isewvdux";

bool Refuse_Glued(const char* arg) {
    if (arg == nullptr || arg[0] != '-' || arg[1] == '\0' || arg[2] == '\0') return false;
    for (const char* c = arg + 1; *c != '\0'; c++)
        if (strchr(kSwitchLetters, Lower(*c)) == nullptr) return false;
    printf("\nError: argument %s: one switch per argument, write", arg);
    for (const char* c = arg + 1; *c != '\0'; c++) printf(" -%c", *c);
    printf("\n");
    return true;
}

void Warn_Unknown(const char* arg) {
    printf("\nWarning: unknown argument \"%s\" ignored", arg);
}

// -e, -w and -v keep an earlier file name when none follows them.
void Take_Data_File(Setup_struct* s, const char* file) {
    if (!file) return;
    s->file_name = file;
    s->has_file_name = 1;
}

// --usb-serial=, --usb-index=, --usb-path=: the first of them drops the choice config.cfg
// made, and they make the USB-Blaster this run's cable, as -p= asks for the parallel port.
// 0 after an error line for a value that is missing or no number; 1 otherwise (an unknown one
// is warned of).
int Read_Usb_Choice(const char* arg, Setup_struct* s, bool* replaced) {
    static const char* const names[] = {"--usb-serial=", "--usb-index=", "--usb-path="};
    int which = -1;
    for (int i = 0; i < 3; i++)
        if (strncmp(arg, names[i], strlen(names[i])) == 0) which = i;
    if (which < 0) {
        Warn_Unknown(arg);
        return 1;
    }
    const char* value = arg + strlen(names[which]);
    long long index = 0;
    if (which == 1 && !Read_Argument(arg, value, "--usb-index", 0xFFFF, &index)) return 0;
    if (which != 1 && *value == '\0') {
        printf("\nError: argument %s: expected %s%s\n", arg, names[which],
               which == 0 ? "SERIAL" : "PATH (as --list shows it)");
        return 0;
    }
    if (!*replaced) {
        s->usb_serial.clear();
        s->usb_path.clear();
        s->has_usb_index = 0;
        *replaced = true;
    }
    if (which == 0) s->usb_serial = value;
    if (which == 1) s->usb_index = static_cast<uint16_t>(index), s->has_usb_index = 1;
    if (which == 2) s->usb_path = value;
    s->use_usb = 1;
    s->use_lpt = 0;  // a ByteBlaster in config.cfg is not this run's cable
    return 1;
}

}  // namespace

int CCMDP::Parse(int argc, char** argv) {
    if (argc < 2) return 1;
    Setup_struct* s = pgm->setup;
    bool usb_choice = false;  // a --usb-* switch has replaced config.cfg's choice

    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (arg == nullptr) continue;
        if (arg[0] != '-') {
            Warn_Unknown(arg);
            continue;
        }
        if (strncmp(arg, "--usb-", 6) == 0) {
            if (!Read_Usb_Choice(arg, s, &usb_choice)) return -1;
            continue;
        }
        char c2 = Lower(arg[1]);
        char c3 = (arg[1] != '\0') ? Lower(arg[2]) : '\0';

        // File-taking switches take the next argument when it is not a switch.
        const char* file = nullptr;
        if (c2 == 'e' || c2 == 'w' || c2 == 'd' || c2 == 'v' || (c2 == 'r' && c3 == '\0')) {
            if (i + 1 < argc && argv[i + 1] != nullptr && argv[i + 1][0] != '-') {
                file = argv[++i];
            }
        }

        if (c2 == 'n' && c3 == '=') {
            s->device_name = arg + 3;
            s->has_device_name = 1;
        } else if (c2 == 'a' && c3 == 'b') {
            if (!Read_Address(arg, "-ab", &s->addr_begin, &s->has_addr_begin)) return -1;
        } else if (c2 == 'a' && c3 == 'l') {
            if (!Read_Address(arg, "-al", &s->addr_last, &s->has_addr_last)) return -1;
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
        } else if (c2 == 'c' && c3 == '\0') {
            s->only_changed = 1;
        } else if (c2 == 'r' && c3 == '\0') {
            if (file) s->journal_file = file;
            s->operation = OP_PUT_BACK;
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
        } else if (c2 == 'p') {
            // -p without its "=" is a port address written wrongly, never a stray word.
            long long v = 0;
            if (!Read_Argument(arg, c3 == '=' ? arg + 3 : nullptr, "-p", 0xFFFF, &v)) return -1;
            s->lpt_addr = static_cast<uint16_t>(v);
            s->use_lpt = 1;
        } else {
            Warn_Unknown(arg);
        }
    }
    return 1;
}

bool Refuse_Glued_Switches(int argc, char** argv) {
    for (int i = 1; i < argc; i++)
        if (Refuse_Glued(argv[i])) return true;
    return false;
}

EarlySwitch Find_Early_Switch(int argc, char** argv, std::string* filter) {
    static const char kListChips[] = "--list-chips";
    const size_t n = sizeof kListChips - 1;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (arg == nullptr || arg[0] != '-') continue;
        const bool one_letter = arg[1] != '\0' && arg[2] == '\0';
        if (strcmp(arg, "--help") == 0 || (one_letter && (Lower(arg[1]) == 'h' || arg[1] == '?')))
            return EARLY_HELP;
        if (strcmp(arg, "--version") == 0) return EARLY_VERSION;
        if (strcmp(arg, "--list") == 0) return EARLY_LIST;
        if (strncmp(arg, kListChips, n) == 0 && (arg[n] == '\0' || arg[n] == '=')) {
            const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
            if (filter)
                filter->assign(arg[n] == '=' ? arg + n + 1 : next && next[0] != '-' ? next : "");
            return EARLY_LIST_CHIPS;
        }
    }
    return EARLY_NONE;
}

int CCMDP::PrintArg(int argc, char** argv) {
    printf("\nargc = %d", argc);
    for (int i = 1; i < argc; i++) printf("\nargv[%d]= %s", i, argv[i] ? argv[i] : "");
    puts("\n");
    return 1;
}

void PrintUsage(bool all) {
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
    // Switches added since the usage text was fixed; --help shows them.
    static const char* const more[] = {
        " -c   Only what changed: read first, then erase and program only the units that",
        "      differ: -c -e -w -v filename -ab=address_begin",
        " -r   Put back bytes an interrupted erase left in a journal: -r journal_file",
        " --list        List the USB-Blasters and parallel ports: --list",
        " --list-chips  List the chips of flash_db.cfg, or those whose name holds a text,",
        "               with id, size and file: --list-chips W25Q",
        " --usb-serial= Choose the USB-Blaster by serial, or --usb-index=, --usb-path=\n",
    };
    const size_t n = sizeof lines / sizeof lines[0];
    for (size_t i = 0; i + 1 < n; i++) puts(lines[i]);
    if (all)
        for (const char* line : more) puts(line);
    puts(lines[n - 1]);
}
