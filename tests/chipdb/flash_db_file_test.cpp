// The repository's flash_db.cfg: every record usable, reachable and with a real erase command.
#include <sstream>

#include "chipdb/fake_chip.h"
#include "chipdb/manufacturer.h"

namespace {

using FlashDbFile = ChipTest;

// erase=0x20:4K,0xD8:64K|256K -> the largest size listed for `op`, in bytes; 0 if absent.
uint32_t ListedEraseSize(const std::string& line, unsigned op) {
    size_t at = line.find(" erase=");
    if (at == std::string::npos) return 0;
    std::istringstream list(line.substr(at + 7));
    std::string item;
    uint32_t best = 0;
    while (std::getline(list, item, ',')) {
        unsigned o = 0;
        int used = 0;
        if (sscanf(item.c_str(), "0x%x:%n", &o, &used) != 1 || o != op) continue;
        std::istringstream sizes(item.substr(used));
        for (std::string kib; std::getline(sizes, kib, '|');)
            best = std::max(best, static_cast<uint32_t>(std::stoul(kib)) * 1024);
    }
    return best;
}

TEST_F(FlashDbFile, EveryRecordParsesIsReachableAndErasesRight) {
    std::ifstream in(TAMREL_SOURCE_DIR "/flash_db.cfg", std::ios::binary);
    ASSERT_TRUE(in) << "flash_db.cfg missing";
    std::stringstream text;
    text << in.rdbuf();
    Write("flash_db.cfg", text.str());

    std::vector<std::string> records;
    std::string line;
    bool previous_was_record = true;  // the first line never counts
    for (std::istringstream lines(text.str()); std::getline(lines, line);) {
        const bool is_record = line.rfind("name=", 0) == 0;
        if (is_record) {
            EXPECT_FALSE(previous_was_record) << "scan would skip: " << line;
            records.push_back("\n" + line + "\n");
        }
        previous_was_record = is_record;
    }
    ASSERT_GT(records.size(), 100u);

    std::vector<std::string> names;
    for (const std::string& rec : records) {
        SCOPED_TRACE(rec);
        int ok = 0;
        PGM_setup_ini(&setup);
        const std::string name = pgm.Get_env_txt(rec.c_str(), "name", &ok);
        for (const std::string& earlier : names)
            EXPECT_NE(0u, earlier.rfind(name, 0)) << "-n=" << name << " finds " << earlier;
        names.push_back(name);

        // The JEDEC scan of the real file must end on this very record.
        chip.id[0] = static_cast<unsigned char>(pgm.Get_env_val(rec.c_str(), "mnfid", &ok));
        const long jedec = pgm.Get_env_val(rec.c_str(), "jedec", &ok);
        chip.id[1] = static_cast<unsigned char>(jedec >> 8), chip.id[2] = jedec & 0xFF;
        const long ext = pgm.Get_env_val(rec.c_str(), "extid", &ok);
        chip.id[3] = ok == 1 ? static_cast<unsigned char>(ext >> 8) : 0;
        chip.id[4] = ok == 1 ? static_cast<unsigned char>(ext & 0xFF) : 0;
        int r = 0;
        Output([&] { r = pgm.FLASH_Identify(); });
        ASSERT_EQ(1, r);
        EXPECT_EQ(name, setup.device_name);
        EXPECT_TRUE(setup.has_page_size && setup.has_sector_size && setup.has_total_size);
        EXPECT_LE(setup.total_size, 0x1000000u);
        Output([&] { r = pgm.FLASH_Check_Parameters(); });
        EXPECT_EQ(1, r);

        if (setup.erase_size == 0) continue;  // a maker without erase unit rule
        EXPECT_EQ(setup.erase_size, ListedEraseSize(rec, setup.cmd_erase))
            << "opcode 0x" << std::hex << int(setup.cmd_erase);
    }
}

}  // namespace
