// The repository's flash_db.cfg: every record usable, reachable and with a real erase command.
#include <regex>
#include <sstream>

#include "chipdb/fake_chip.h"

namespace {

using FlashDbFile = ChipTest;

TEST_F(FlashDbFile, EveryRecordParsesIsReachableAndErasesRight) {
    std::ifstream in(TAMREL_SOURCE_DIR "/flash_db.cfg", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::ofstream("flash_db.cfg") << text.str();
    std::vector<std::string> names;
    bool after_record = true;  // the first line is never a record
    for (std::string line; std::getline(text, line); after_record = line.rfind("name=", 0) == 0) {
        if (line.rfind("name=", 0) != 0) continue;
        SCOPED_TRACE(line);
        EXPECT_FALSE(after_record) << "the scan skips this record";
        const std::string rec = "\n" + line + "\n";
        int ok = 0;
        setup = Setup_struct{};
        const std::string name = pgm.Get_env_txt(rec.c_str(), "name", &ok);
        for (const std::string& earlier : names) EXPECT_NE(0u, earlier.rfind(name, 0)) << earlier;
        names.push_back(name);

        // Identify a chip answering this record's ids against the whole file.
        const long jedec = pgm.Get_env_val(rec.c_str(), "jedec", &ok);
        const long ext = pgm.Get_env_val(rec.c_str(), "extid", &ok);
        const long ids[5] = {pgm.Get_env_val(rec.c_str(), "mnfid", &ok), jedec >> 8, jedec,
                             ext >> 8, ext};
        for (int i = 0; i < 5; i++) chip.id[i] = static_cast<unsigned char>(ids[i]);
        int r = 0;
        Output([&] { r = pgm.FLASH_Identify(); });
        ASSERT_EQ(1, r);
        EXPECT_EQ(name, setup.device_name);
        EXPECT_LE(setup.total_size, 0x1000000u);
        Output([&] { r = pgm.FLASH_Check_Parameters(); });  // page=, sector=, volime= given
        EXPECT_EQ(1, r);
        // Makers with an erase unit rule: the opcode's largest listed size is that unit.
        char listed[64];
        snprintf(listed, sizeof listed, " erase=(\\S*,)?0x%02X:(\\w+\\|)*%uK[, \n]",
                 setup.cmd_erase, setup.erase_size / 1024);
        EXPECT_TRUE(!setup.erase_size || std::regex_search(rec, std::regex(listed))) << listed;
    }
    EXPECT_GT(names.size(), 100u);
}

}  // namespace
