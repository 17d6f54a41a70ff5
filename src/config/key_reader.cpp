// Key file reader: byte-wise key search in a text file, key=value reading in a text.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/number.h"
#include "run/interrupt.h"
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

// Searches go on where the previous one stopped, so a walk through the records keeps the
// file open instead of opening it and seeking once per record. 1 ready at key_pos; -1 the
// file can't be opened; 0 key_pos can't be reached.
int CTAMREL::Open_Key_File(const char* path) {
    if (key_file != nullptr && key_file_path == path && key_file_pos == key_pos) return 1;
    Close_Key_File();
    FILE* f = Key_File_Open(path);
    if (f == nullptr) return -1;
    if (fseek(f, static_cast<long>(key_pos), SEEK_SET) != 0) {
        fclose(f);
        return 0;
    }
    key_file = f;
    key_file_path = path;
    key_file_pos = key_pos;
    return 1;
}

FILE* CTAMREL::Key_File_Open(const char* path) {
    return key_file_source ? key_file_source(path) : fopen(path, "rb");
}

void CTAMREL::Close_Key_File() {
    if (key_file != nullptr) fclose(key_file);
    key_file = nullptr;
    key_file_path.clear();
}

int CTAMREL::Get_keyString(const char* path, std::string* line, const char* key, int& result) {
    const size_t key_len = key ? strlen(key) : 0;
    const int opened = Open_Key_File(path);
    if (opened == -1) {
        printf("\nError: Can`t open file: %s\n", path);
        result = -1;
        return 0;
    }
    // An empty key names nothing: report it absent without reading.
    if (opened == 0 || key_len == 0) {
        result = 0;
        return 0;
    }
    FILE* f = key_file;

    // Streaming match: `matched` key bytes end the bytes read so far; on a mismatch it falls
    // back to the longest key prefix that still ends them, so each byte is looked at once.
    std::vector<size_t> fallback(key_len, 0);
    for (size_t i = 1, k = 0; i < key_len; i++) {
        while (k > 0 && key[i] != key[k]) k = fallback[k - 1];
        if (key[i] == key[k]) k++;
        fallback[i] = k;
    }
    // A line whose first non-blank byte is '#' is a comment and is not searched; the newline
    // that ends it still counts. A search that starts inside a line takes it as no comment.
    size_t matched = 0;
    int c = 0;
    bool interrupted = false;
    bool line_start = key_pos == 0, comment = false;
    while (matched < key_len && !interrupted) {
        c = getc_unlocked(f);
        Advance(key_pos);
        interrupted = Interrupt_Pending();
        if (c == EOF) break;
        if (comment && c != '\n') continue;
        if (line_start && c == '#') {
            comment = true;
            matched = 0;
            continue;
        }
        comment = false;
        line_start = c == '\n' || (line_start && (c == ' ' || c == '\t'));
        while (matched > 0 && key[matched] != static_cast<char>(c)) matched = fallback[matched - 1];
        if (key[matched] == static_cast<char>(c)) matched++;
    }
    std::string text;
    if (matched == key_len && line != nullptr) {
        text.assign(key, key_len);
        while (!interrupted) {
            c = getc_unlocked(f);
            Advance(key_pos);
            interrupted = Interrupt_Pending();
            if (c == EOF) break;
            text.push_back(static_cast<char>(c));
            if (c == '\n') {
                // The next search starts on this newline: it may begin the next record.
                ungetc(c, f);
                if (key_pos != UINT32_MAX) key_pos--;
                break;
            }
        }
    }

    // An interrupt ends a scan at once, as a file that can't be read would; the run says why.
    if (interrupted) {
        Close_Key_File();
        result = -1;
        return 0;
    }
    if (c == EOF)
        Close_Key_File();  // key_pos counted the attempt at the end: it is past the stream's place
    else
        key_file_pos = key_pos;
    result = matched == key_len ? 1 : 0;
    if (result == 1 && line != nullptr) *line = text;
    return result;
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
