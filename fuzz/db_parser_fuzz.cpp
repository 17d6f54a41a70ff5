// Chip database: the input becomes flash_db.cfg, the id a chip answers and a -n= name.
// Layout: bytes 0..4 the reply to 0x9F after the opcode, byte 5 the name length L (L % 16),
// bytes 6..5+L the name, the rest the database file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/tamrel.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

class IdChip : public CInterface {
  public:
    void WR_BLOCK(unsigned char* buf, long total, long read) override {
        if (read <= 0) return;
        for (long i = 0; i < total; i++) buf[i] = (i >= 1 && i <= 5) ? reply[i - 1] : 0;
    }
    int ADAPTER_ON() override { return 1; }
    unsigned char reply[5] = {};
};

void Enter_Temp_Dir() {
    static std::string dir;
    if (!dir.empty()) return;
    char tmpl[] = "/tmp/tamrel_dbfuzz_XXXXXX";
    if (!mkdtemp(tmpl) || chdir(tmpl) != 0) abort();
    dir = tmpl;
    atexit([] {
        unlink((dir + "/flash_db.cfg").c_str());
        rmdir(dir.c_str());
    });
}

// Identification, then the geometry check when a record was taken.
void Identify(IdChip& chip, const std::string* name) {
    Setup_struct setup;
    PGM_setup_ini(&setup);
    CTAMREL pgm(&setup);
    pgm.adapter = &chip;
    if (name) setup.device_name = *name, setup.has_device_name = 1;
    int r = pgm.FLASH_Identify();
    Check(r == 1 || r == -1);
    Check(pgm.adapter_active == 0);
    if (r == 1) {
        Check(setup.has_total_size == 1);
        Check(!name || setup.device_name == *name);
        r = pgm.FLASH_Check_Parameters();
        Check(r == 1 || r == -1);
        if (r == 1) Check(setup.addr_last < setup.total_size);
    }
    pgm.adapter = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) abort();
    Enter_Temp_Dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    IdChip chip;
    for (int i = 0; i < 5; i++) chip.reply[i] = data[i];
    const size_t name_len = data[5] % 16;
    if (size < 6 + name_len) return 0;
    const std::string name(reinterpret_cast<const char*>(data + 6), name_len);
    const std::string db(reinterpret_cast<const char*>(data + 6 + name_len), size - 6 - name_len);

    FILE* f = fopen("flash_db.cfg", "wb");
    if (!f) abort();
    fwrite(db.data(), 1, db.size(), f);
    fclose(f);

    Identify(chip, nullptr);
    Identify(chip, &name);

    Setup_struct setup;
    PGM_setup_ini(&setup);
    CTAMREL pgm(&setup);
    const int r = DB_Parser(("\nname=" + db).c_str(), &pgm);
    Check(r == 1 || r == -1);
    Check(r == -1 || setup.has_total_size == 1);
    return 0;
}
