// Key file reader: byte-wise key search in a text file, key=value reading in a text.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/number.h"
#include "run/tamrel.h"

namespace {

// key_pos counts every read attempt; it stops at the top instead of wrapping to 0,
// so a caller walking a file until "not found" can never start over.
void Advance(uint32_t& pos) {
    if (pos != UINT32_MAX) pos++;
}

// Text just behind the last "key=" in `text`, or null.
const char* Find_Last(const char* text, const char* key) {
    if (text == nullptr || key == nullptr) return nullptr;
    std::string pattern(key);
    pattern += '=';
    const char* last = nullptr;
    const char* from = text;
    while (const char* hit = strstr(from, pattern.c_str())) {
        last = hit + pattern.size();
        from = last;
    }
    return last;
}

}  // namespace

int CTAMREL::Get_keyString(const char* path, std::string* line, const char* key, int& result) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        printf("\nError: Can`t open file: %s\n", path);
        result = -1;
        return 0;
    }
    size_t key_len = key ? strlen(key) : 0;
    // An empty key names nothing: report it absent without reading.
    if (key_len == 0 || fseek(f, static_cast<long>(key_pos), SEEK_SET) != 0) {
        fclose(f);
        result = 0;
        return 0;
    }

    std::string window(key_len, '\0');
    for (;;) {
        int c = fgetc(f);
        Advance(key_pos);
        if (c == EOF) {
            fclose(f);
            result = 0;
            return 0;
        }
        window.erase(0, 1);
        window.push_back(static_cast<char>(c));
        if (memcmp(window.data(), key, key_len) == 0) break;
    }

    if (line != nullptr) {
        for (;;) {
            int c = fgetc(f);
            Advance(key_pos);
            if (c == EOF) break;
            window.push_back(static_cast<char>(c));
            if (c == '\n') break;
        }
        *line = window;
    }
    fclose(f);
    result = 1;
    return 1;
}

long CTAMREL::Get_env_val(const char* text, const char* key, int* result) {
    long value = 0;
    const char* at = Find_Last(text, key);
    int ok = (at != nullptr) && Read_Number32(at, &value);
    *result = ok ? 1 : -1;
    return ok ? value : 0;
}

std::string CTAMREL::Get_env_txt(const char* text, const char* key, int* result) {
    const char* at = Find_Last(text, key);
    if (at == nullptr) {
        *result = -1;
        return std::string();
    }
    while (*at != '\0' && isspace(static_cast<unsigned char>(*at))) at++;
    const char* end = at;
    while (*end != '\0' && !isspace(static_cast<unsigned char>(*end))) end++;
    *result = (end != at) ? 1 : -1;
    return std::string(at, end);
}
