#include "fileutil/file_utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const long COPY_PIECES = 100;
const long COPY_PIECE_MAX = 65535;

long Stream_Size(FILE* f) {
    if (fseek(f, 0, SEEK_END) != 0) return -1;
    return ftell(f);
}

// The new content goes to a file beside the old one (beside the target of a symbolic link),
// which replaces it only once it is complete and on the disk. Mode and owner are kept.
bool Write_Beside(const char* path, const struct stat& old, const unsigned char* const parts[3],
                  const size_t lens[3]) {
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return false;
    const std::string target = resolved;
    free(resolved);
    std::string tmp = target + ".XXXXXX";
    const int fd = mkstemp(&tmp[0]);
    if (fd < 0) return false;
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Not permitted: the new file belongs to the caller.
    }
    FILE* out = fdopen(fd, "wb");
    bool ok = out != nullptr && fchmod(fd, old.st_mode & 07777) == 0;
    for (int i = 0; ok && i < 3; i++)
        ok = lens[i] == 0 || fwrite(parts[i], 1, lens[i], out) == lens[i];
    ok = ok && fflush(out) == 0 && fsync(fd) == 0;
    if (out != nullptr ? fclose(out) != 0 : close(fd) != 0) ok = false;
    ok = ok && rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

// Insert (grow by n) or overwrite (keep the length) n bytes at off. Everything is
// checked before anything is written, so a refused or failed call leaves the file as it was.
int Rewrite(const char* path, const void* buf, int off, unsigned int n, bool insert) {
    FILE* f = fopen(path, "rb+");  // a file that may not be written is not rewritten either
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

    const size_t size = static_cast<size_t>(len);
    unsigned char* old = static_cast<unsigned char*>(malloc(size ? size : 1));
    if (old == nullptr) {
        printf("\nError: not enough memory to rewrite file: %s\n", path);
        fclose(f);
        return -1;
    }
    if (fseek(f, 0, SEEK_SET) != 0 || fread(old, 1, size, f) != size) {
        printf("\nCan`t read file: %s\n", path);
        free(old);
        fclose(f);
        return -1;
    }

    const unsigned char* const parts[3] = {old, static_cast<const unsigned char*>(buf), old + end};
    const size_t lens[3] = {static_cast<size_t>(off), n, static_cast<size_t>(len - end)};
    struct stat st;
    const bool ok = fstat(fileno(f), &st) == 0 && Write_Beside(path, st, parts, lens);
    free(old);
    fclose(f);
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
    FILE* f = fopen(path, "rb");
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

bool Same_File(const char* a, const char* b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int Copy_File(const char* dst, const char* src) {
    // The destination is truncated first: never when it is the source under another name.
    if (strcmp(dst, src) == 0 || Same_File(dst, src)) return -1;
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

bool Write_All(int fd, const void* buf, size_t n) {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}
