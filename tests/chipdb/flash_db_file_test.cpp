// The repository's flash_db.cfg: every record usable, reachable and with a real erase command.
#include <sstream>

#include "chipdb/fake_chip.h"

namespace {

using FlashDbFile = ChipTest;

// From erase=0x20:4K,0xD8:64K|256K: the largest size listed for `op`, in bytes.
uint32_t ListedEraseSize(const std::string& rec, unsigned op) {
    std::istringstream list(rec.substr(rec.find(" erase=") + 7));
    uint32_t best = 0;
    for (std::string item; std::getline(list, item, ',');) {
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
    std::stringstream text;
    text << in.rdbuf();
    Write("flash_db.cfg", text.str());

    std::vector<std::string> records, names;
    bool after_record = true;  // the first line is never a record
    std::istringstream lines(text.str());
    for (std::string line; std::getline(lines, line);) {
        const bool record = line.rfind("name=", 0) == 0;
        if (record) {
            EXPECT_FALSE(after_record) << "the scan skips " << line;
            records.push_back("\n" + line + "\n");
        }
        after_record = record;
    }
    ASSERT_GT(records.size(), 100u);

    for (const std::string& rec : records) {
        SCOPED_TRACE(rec);
        int ok = 0;
        PGM_setup_ini(&setup);
        const std::string name = pgm.Get_env_txt(rec.c_str(), "name", &ok);
        for (const std::string& earlier : names) EXPECT_NE(0u, earlier.rfind(name, 0)) << earlier;
        names.push_back(name);

        // Identify a chip answering this record's ids against the whole file.
        const long mnf = pgm.Get_env_val(rec.c_str(), "mnfid", &ok);
        const long jedec = pgm.Get_env_val(rec.c_str(), "jedec", &ok);
        long ext = pgm.Get_env_val(rec.c_str(), "extid", &ok);
        const unsigned char id[5] = {
            static_cast<unsigned char>(mnf), static_cast<unsigned char>(jedec >> 8),
            static_cast<unsigned char>(jedec), static_cast<unsigned char>(ext >> 8),
            static_cast<unsigned char>(ext)};
        std::copy(id, id + 5, chip.id);
        int r = 0;
        Output([&] { r = pgm.FLASH_Identify(); });
        ASSERT_EQ(1, r);
        EXPECT_EQ(name, setup.device_name);
        EXPECT_LE(setup.total_size, 0x1000000u);
        Output([&] { r = pgm.FLASH_Check_Parameters(); });  // page=, sector=, volime= given
        EXPECT_EQ(1, r);
        if (setup.erase_size) {  // makers with an erase unit rule
            EXPECT_EQ(setup.erase_size, ListedEraseSize(rec, setup.cmd_erase))
                << "opcode 0x" << std::hex << int(setup.cmd_erase);
        }
    }
}

}  // namespace
