#include "memory_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

std::map<std::string, std::string>& Texts() {
    static std::map<std::string, std::string> texts;
    return texts;
}

struct Stream {
    std::string text;
    int64_t pos;
};

ssize_t Read(void* cookie, char* buf, size_t size) {
    Stream* s = static_cast<Stream*>(cookie);
    const int64_t left = static_cast<int64_t>(s->text.size()) - s->pos;
    if (left <= 0) return 0;
    const size_t n = size < static_cast<size_t>(left) ? size : static_cast<size_t>(left);
    memcpy(buf, s->text.data() + s->pos, n);
    s->pos += static_cast<int64_t>(n);
    return static_cast<ssize_t>(n);
}

int Seek(void* cookie, off64_t* offset, int whence) {
    Stream* s = static_cast<Stream*>(cookie);
    const int64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? s->pos
                                              : static_cast<int64_t>(s->text.size());
    if (base + *offset < 0) return -1;
    s->pos = base + *offset;
    *offset = s->pos;
    return 0;
}

int Close(void* cookie) {
    delete static_cast<Stream*>(cookie);
    return 0;
}

std::string& Scratch() {
    static std::string dir;
    return dir;
}

void Must(bool ok) {
    if (!ok) abort();
}

}  // namespace

void Memory_File_Set(const std::string& path, const std::string& text) {
    Texts()[path] = text;
}

FILE* Memory_File_Open(const char* path) {
    const auto it = Texts().find(path);
    if (it == Texts().end()) {
        errno = ENOENT;
        return nullptr;
    }
    const cookie_io_functions_t io = {Read, nullptr, Seek, Close};
    return fopencookie(new Stream{it->second, 0}, "r", io);
}

void Enter_Scratch_Folder() {
    if (!Scratch().empty()) return;
    char tmpl[] = "/tmp/tamrel_fuzz_XXXXXX";
    Must(mkdtemp(tmpl) != nullptr && chdir(tmpl) == 0);
    Scratch() = tmpl;
    FILE* f = fopen("data.bin", "wb");
    FILE* g = fopen("image.bin", "wb");
    Must(f && g && fputc(0x5A, g) != EOF);
    fclose(f);
    fclose(g);
    Must(symlink("data.bin", "alias.bin") == 0 && mkdir("folder", 0700) == 0 &&
         mkfifo("fifo", 0600) == 0);
    atexit([] {
        for (const char* name : {"data.bin", "alias.bin", "image.bin", "fifo"})
            unlink((Scratch() + "/" + name).c_str());
        rmdir((Scratch() + "/folder").c_str());
        rmdir(Scratch().c_str());
    });
}

void Set_Data_File_Size(uint32_t size) {
    static int64_t current = 0;
    if (current == size) return;
    Must(truncate((Scratch() + "/data.bin").c_str(), size) == 0);
    current = size;
}
