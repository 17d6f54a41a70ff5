// Key file reader over a text served from memory, against a plain search of the same text.
// Layout: byte 0 = length L of a custom key, bytes 1..L the key (up to its first NUL), the
// rest the file.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "key_text.h"
#include "memory_files.h"
#include "stage_checks.h"

namespace {

const char kPath[] = "keys.txt";

// What a search from `before` must give: found or not, key_pos after it, the captured line.
struct Search {
    int found;
    uint64_t pos;
    std::string line;
};

Search Expected(const std::string& text, const std::string& key, uint64_t before, bool capture) {
    if (key.empty()) return {0, before, ""};
    if (before > text.size()) return {0, before + 1, ""};  // the read at the end counts
    std::vector<size_t> at;
    const size_t found = Searched_Text(text, before, &at).find(key);
    if (found == std::string::npos) return {0, text.size() + 1, ""};
    const size_t end = at[found + key.size() - 1] + 1;  // behind the key's last byte
    if (!capture) return {1, end, ""};
    // The line is the key and the text behind it; the next search starts on its newline.
    const size_t eol = text.find('\n', end);
    if (eol == std::string::npos) return {1, text.size() + 1, key + text.substr(end)};
    return {1, eol, key + text.substr(end, eol + 1 - end)};
}

void Search_Once(CTAMREL& pgm, const std::string& text, const std::string& key, bool capture) {
    const Search want = Expected(text, key, pgm.key_pos, capture);
    std::string line = "untouched";
    int result = 7;
    const int ret = pgm.Get_keyString(kPath, capture ? &line : nullptr, key.c_str(), result);
    Check(ret == result && result == want.found && pgm.key_pos == want.pos);
    Check(line == (capture && want.found ? want.line : "untouched"));
}

// Both value readers agree: the number is read from where the word starts.
void Read_Values(CTAMREL& pgm, const std::string& text, const std::string& key) {
    int vs = 0, ws = 0;
    const long v = pgm.Get_env_val(text.c_str(), key.c_str(), &vs);
    const std::string word = pgm.Get_env_txt(text.c_str(), key.c_str(), &ws);
    Check(ws == (word.empty() ? -1 : 1));
    Check(word.find_first_of(" \t\r\n\v\f") == std::string::npos);
    char* end = nullptr;
    long n = strtol(word.c_str(), &end, 0);
    n = n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : n;
    Check(vs == (end != word.c_str() ? 1 : -1) && v == (vs == 1 ? n : 0));
    if (ws == 1) Check(text.find(key + "=") != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t key_len = data[0];
    if (key_len + 1 > size) return 0;
    std::string custom(reinterpret_cast<const char*>(data + 1), key_len);
    custom = custom.c_str();  // a key is a C string
    const std::string text(reinterpret_cast<const char*>(data + 1 + key_len), size - 1 - key_len);
    const std::string text_z = text.c_str();  // the value readers take C strings
    Memory_File_Set(kPath, text);

    Setup_struct s;
    CTAMREL pgm(&s);
    Setup_For_Fuzzing(&s, &pgm);
    const std::string keys[] = {"\nname=", "port=lpt", "lptaddr", custom};
    // Walks as the database scan does, the stream kept open from one search to the next,
    // with the keys and the capture taking turns; then a search from the top for each.
    for (int turn = 0; turn < 4; turn++) {
        pgm.key_pos = 0;
        for (int i = 0; i < 64 && pgm.key_pos <= text.size(); i++)
            Search_Once(pgm, text, keys[(turn + i / 2) % 4], (i + turn) % 2 == 0);
    }
    for (const std::string& key : keys) {
        pgm.key_pos = 0;
        Search_Once(pgm, text, key, true);
        Read_Values(pgm, text_z, key[0] == '\n' ? key.substr(1, key.size() - 2) : key);
    }
    return 0;
}
