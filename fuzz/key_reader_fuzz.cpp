// Key file reader: the input becomes a key file and, through its first bytes, one key.
// Layout: byte 0 = length L of a custom key (L % 8), bytes 1..L the key, the rest the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/tamrel.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

const char* Key_File() {
    static std::string path;
    if (path.empty()) {
        char tmpl[] = "/tmp/tamrel_keyfuzz_XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) abort();
        close(fd);
        path = tmpl;
        atexit([] { unlink(path.c_str()); });
    }
    return path.c_str();
}

void Read_Values(CTAMREL& pgm, const std::string& text, const char* custom) {
    const char* keys[] = {"name", "page", "lptaddr", "id", custom};
    for (const char* key : keys) {
        int status = 0;
        long v = pgm.Get_env_val(text.c_str(), key, &status);
        Check(status == 1 || (status == -1 && v == 0));
        Check(v >= INT32_MIN && v <= INT32_MAX);
        std::string word = pgm.Get_env_txt(text.c_str(), key, &status);
        Check(status == 1 ? !word.empty() : (status == -1 && word.empty()));
    }
}

// Walks the file once, key by key, as the chip database scan does.
void Walk(CTAMREL& pgm, const char* path, const char* key, bool capture, uint32_t size,
          const char* custom) {
    size_t key_len = strlen(key);
    pgm.key_pos = 0;
    for (;;) {
        uint32_t before = pgm.key_pos;
        std::string line;
        int result = 0;
        int ret = pgm.Get_keyString(path, capture ? &line : nullptr, key, result);
        if (ret != 1) {
            Check(ret == 0 && result == 0);
            Check(key_len == 0 ? pgm.key_pos == before
                               : pgm.key_pos == (before > size ? before : size) + 1);
            return;
        }
        Check(result == 1 && pgm.key_pos > before && pgm.key_pos <= size + 1);
        if (capture) {
            Check(line.compare(0, key_len, key) == 0);
            Check(line.find('\n', key_len) == std::string::npos ||
                  line.find('\n', key_len) == line.size() - 1);
            Read_Values(pgm, line, custom);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    if (size == 0) return 0;

    size_t key_len = data[0] % 8;
    if (key_len + 1 > size) return 0;
    std::string custom(reinterpret_cast<const char*>(data + 1), key_len);
    custom = custom.c_str();  // a key is a C string
    const uint8_t* file = data + 1 + key_len;
    uint32_t file_size = static_cast<uint32_t>(size - 1 - key_len);

    const char* path = Key_File();
    FILE* f = fopen(path, "wb");
    if (f == nullptr) abort();
    fwrite(file, 1, file_size, f);
    fclose(f);

    Setup_struct s;
    PGM_setup_ini(&s);
    CTAMREL pgm(&s);
    const char* keys[] = {"\nname=", "port=lpt", "lptaddr", "k", custom.c_str()};
    for (const char* key : keys) {
        Walk(pgm, path, key, true, file_size, custom.c_str());
        Walk(pgm, path, key, false, file_size, custom.c_str());
    }
    Read_Values(pgm, std::string(reinterpret_cast<const char*>(file), file_size), custom.c_str());
    return 0;
}
