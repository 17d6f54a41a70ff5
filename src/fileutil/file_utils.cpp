#include "fileutil/file_utils.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const long COPY_PIECES = 100;
const long COPY_PIECE_MAX = 65535;

long Stream_Size(FILE* f) {
    if (fseek(f, 0, SEEK_END) != 0) return -1;
    return ftell(f);
}

// Insert (grow by n) or overwrite (keep the length) n bytes at off. Everything is
// checked before the first byte is written, so a refused call leaves the file as it was.
int Rewrite(const char* path, const void* buf, int off, unsigned int n, bool insert) {
    FILE* f = fopen(path, "rb+");
    if (f == nullptr) {
        printf("\nCan`t open file: %s\n", path);
        return -1;
    }
    long long len = Stream_Size(f);
    long long end = insert ? off : static_cast<long long>(off) + n;
    if (len < 0) {
        printf("\nCan`t read file: %s\n", path);
        fclose(f);
        return -1;
    }
    if (off < 0 || end > len) {
        printf("\nError: %u bytes at offset %d do not fit file of %lld bytes: %s\n", n, off, len,
               path);
        fclose(f);
        return -1;
    }
    if (buf == nullptr && n > 0) {
        printf("\nError: no data for file: %s\n", path);
        fclose(f);
        return -1;
    }

    size_t saved_len = static_cast<size_t>(len - end);
    unsigned char* saved = static_cast<unsigned char*>(malloc(saved_len ? saved_len : 1));
    if (saved == nullptr) {
        printf("\nError: not enough memory to rewrite file: %s\n", path);
        fclose(f);
        return -1;
    }
    if (fseek(f, static_cast<long>(end), SEEK_SET) != 0 ||
        fread(saved, 1, saved_len, f) != saved_len) {
        printf("\nCan`t read file: %s\n", path);
        free(saved);
        fclose(f);
        return -1;
    }

    bool ok = fseek(f, off, SEEK_SET) == 0;
    ok = ok && fwrite(buf, 1, n, f) == n;
    ok = ok && fwrite(saved, 1, saved_len, f) == saved_len;
    free(saved);
    ok = (fclose(f) == 0) && ok;  // buffered bytes reach the disk only here
    if (!ok) {
        printf("File recordind error: %s\n", path);
        return -1;
    }
    return 0;
}

}  // namespace

FILE* Open_file(const char* path) {
    FILE* f = fopen(path, "rb+");
    if (f == nullptr) printf("\nCan`t open file: %s\n", path);
    return f;
}

int Close_file(FILE* stream) {
    return stream ? fclose(stream) : EOF;
}

int Add_to_File(const char* path, const void* buf, int off, unsigned int n) {
    return Rewrite(path, buf, off, n, true);
}

int Edit_File(const char* path, const void* buf, int off, unsigned int n) {
    return Rewrite(path, buf, off, n, false);
}

int Read_File(const char* path, void* buf, int off, unsigned int n) {
    FILE* f = fopen(path, "r+");
    if (f == nullptr) {
        printf("\nCan`t open file: %s\n", path);
        return -1;
    }
    size_t got = 0;
    if (off >= 0 && (buf != nullptr || n == 0) && fseek(f, off, SEEK_SET) == 0) {
        got = fread(buf, 1, n, f);
    } else {
        got = n + 1u;  // never equal to n: refused
    }
    fclose(f);
    return got == n ? 1 : -1;
}

int Get_FileSize(const char* path) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        printf("\nCan`t open file: %s\n", path);
        return 0;
    }
    long size = Stream_Size(f);
    fclose(f);
    if (size < 0 || size > INT32_MAX) {
        printf("\nError: file size does not fit 31 bits: %s\n", path);
        return -1;
    }
    return static_cast<int>(size);
}

long Copy_PieceSize(long size) {
    if (size <= COPY_PIECES) return size;
    long piece = size / COPY_PIECES;
    return piece > COPY_PIECE_MAX ? COPY_PIECE_MAX : piece;
}

int Copy_File(const char* dst, const char* src) {
    if (strcmp(dst, src) == 0) return -1;
    FILE* in = fopen(src, "rb");
    if (in == nullptr) {
        printf("\nCan`t open source file: %s\n", src);
        return -1;
    }
    FILE* out = fopen(dst, "w+b");
    if (out == nullptr) {
        printf("\nCan`t open destination folder or file for writing:\n\"%s\"\n", dst);
        fclose(in);
        return -1;
    }
    long size = Stream_Size(in);
    long piece = Copy_PieceSize(size < 0 ? 0 : size);
    unsigned char* buf = static_cast<unsigned char*>(malloc(piece > 0 ? piece : 1));
    if (size < 0 || buf == nullptr || fseek(in, 0, SEEK_SET) != 0) {
        free(buf);
        fclose(in);
        fclose(out);
        return -1;
    }

    // A short read or write (unreadable source, full disk) is a failure, not a copy.
    bool ok = true;
    for (long done = 0; ok && done < size;) {
        size_t chunk = static_cast<size_t>(size - done < piece ? size - done : piece);
        size_t got = fread(buf, 1, chunk, in);
        ok = got == chunk && fwrite(buf, 1, got, out) == got;
        done += static_cast<long>(got);
    }
    free(buf);
    fclose(in);
    ok = (fclose(out) == 0) && ok;
    if (!ok) {
        printf("File recordind error: %s\n", dst);
        return -1;
    }
    return 1;
}
