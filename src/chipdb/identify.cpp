// Chip identification: by the JEDEC id the chip answers, or by the name given with -n=.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "chipdb/alternatives.h"
#include "chipdb/chip_db.h"
#include "chipdb/chip_record.h"
#include "chipdb/manufacturer.h"
#include "chipdb/sfdp.h"
#include "run/console.h"
#include "run/tamrel.h"

namespace {

const char kSearchLine[] = "\nSearch chip in:\tflash_db.cfg - ";
const uint32_t kSfdpReadMax = 0x1000;  // JESD216 tables sit well inside the first 4 KiB

enum RecordMatch { RECORD_NO, RECORD_YES, RECORD_NO_EXTID };

struct ChipIds {
    uint8_t mnf;
    uint16_t jedec;
    uint16_t ext;
};

ChipIds read_ids(CTAMREL* pgm) {
    unsigned char id[6] = {0, 0, 0, 0, 0, 0};
    pgm->FLASH_Read_JEDEC(id);
    return {id[1], static_cast<uint16_t>(id[2] << 8 | id[3]),
            static_cast<uint16_t>(id[4] << 8 | id[5])};
}

// No chip drives MISO: every id byte reads the same idle level.
bool no_chip(const ChipIds& chip) {
    return (chip.mnf == 0x00 && chip.jedec == 0x0000 && chip.ext == 0x0000) ||
           (chip.mnf == 0xFF && chip.jedec == 0xFFFF && chip.ext == 0xFFFF);
}

// The number of an id key as the scan compares it: all its low bits, however wide it is
// written, so that a record too wide for its field is found and refused by the parser.
// False when the key is absent or holds no number.
bool record_id(CTAMREL* pgm, const std::string& line, const char* key, uint64_t* value) {
    int found = 0;
    const std::string word = pgm->Get_env_txt(line.c_str(), key, &found);
    const RecordNumber n = Record_Number(word.c_str());
    if (found != 1 || n.len == 0) return false;
    *value = n.value;
    return true;
}

bool extid_any(CTAMREL* pgm, const std::string& line) {
    int found = 0;
    return pgm->Get_env_txt(line.c_str(), "extid", &found) == "any";
}

// Compares one captured record line with the ids a chip answered.
RecordMatch match_record(CTAMREL* pgm, const std::string& line, const ChipIds& chip) {
    uint64_t value = 0;
    if (!record_id(pgm, line, "mnfid", &value) || (value & 0xFF) != chip.mnf) return RECORD_NO;
    if (!record_id(pgm, line, "jedec", &value) || (value & 0xFFFF) != chip.jedec) return RECORD_NO;
    // extid=any: the part defines nothing after its id, so whatever follows is no mismatch.
    if (!record_id(pgm, line, "extid", &value))
        return extid_any(pgm, line) ? RECORD_YES : RECORD_NO_EXTID;
    const uint16_t extid = static_cast<uint16_t>(value);
    if (extid != 0) return extid == chip.ext ? RECORD_YES : RECORD_NO;
    // extid=0 stands for chips that send nothing after the id: 0x00 or 0xFF bytes
    return (chip.ext == 0x0000 || chip.ext == 0x00FF) ? RECORD_YES : RECORD_NO;
}

// The record's ids as "0xMM 0xJJJJ", with " 0xEEEE" when it gives extid=; empty when it
// gives no jedec= to compare with.
std::string record_ids(CTAMREL* pgm, const std::string& line) {
    uint64_t jedec = 0, mnf = 0, ext = 0;
    if (!record_id(pgm, line, "jedec", &jedec)) return "";
    record_id(pgm, line, "mnfid", &mnf);
    char text[32];
    snprintf(text, sizeof text, "0x%02X 0x%04X", static_cast<unsigned>(mnf & 0xFF),
             static_cast<unsigned>(jedec & 0xFFFF));
    std::string ids = text;
    if (record_id(pgm, line, "extid", &ext)) {
        snprintf(text, sizeof text, " 0x%04X", static_cast<unsigned>(ext & 0xFFFF));
        ids += text;
    }
    return ids;
}

// The first record that matches the chip (RECORD_NO when none does), then the records the
// scan meets right behind it that match the chip without a warning too: parts that share
// the id. The files are searched in order, and the first that holds a match is *found_in.
// Prints only the key file reader's error (result -1).
int find_records(CTAMREL* pgm, const std::vector<std::string>& files, const ChipIds& chip,
                 std::vector<std::string>* lines, RecordMatch* match, std::string* found_in) {
    lines->clear();
    *match = RECORD_NO;
    for (const std::string& file : files) {
        pgm->key_pos = 0;
        std::string line;
        int r = 0;
        while ((r = Chip_Db_Next(pgm, file, &line)) == 1) {
            const RecordMatch m = match_record(pgm, line, chip);
            if (lines->empty() && m == RECORD_NO) continue;
            if (!lines->empty() && m != RECORD_YES) return 1;
            if (lines->empty()) *match = m, *found_in = file;
            lines->push_back(line);
            if (m == RECORD_NO_EXTID) return 1;
        }
        if (r == -1) return -1;
        if (!lines->empty()) return 1;  // parts that share an id stand together in one file
    }
    return 1;
}

// Of the records that share the chip's id, the one its SFDP tables confirm. When the tables
// confirm several, the first of them, with their names in the setup record; when none, or
// the tables can't be read, the first of all, with all named. A record that can't be parsed
// is taken at once, so that its parser reports it.
std::string choose_record(CTAMREL* pgm, const std::vector<std::string>& lines,
                          const std::vector<uint8_t>& sfdp) {
    std::vector<ChipRecord> records(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string why;
        if (Parse_Chip_Record(pgm, lines[i].c_str(), &records[i], &why) != 1) return lines[i];
    }
    SfdpGeometry geo;
    std::string why;
    std::vector<int> left;
    if (Sfdp_Parse(sfdp.data(), static_cast<uint32_t>(sfdp.size()), &geo, &why) == 1)
        left = Sfdp_Confirms(records, geo);
    if (left.size() == 1) return lines[static_cast<size_t>(left[0])];
    if (left.empty())
        for (size_t i = 0; i < records.size(); ++i) left.push_back(static_cast<int>(i));
    std::vector<ChipRecord> candidates;
    std::string& names = pgm->setup->alternatives;
    for (int i : left) {
        candidates.push_back(records[static_cast<size_t>(i)]);
        names += (names.empty() ? "" : ", ") + candidates.back().name;
    }
    pgm->setup->alternatives_erase_alike = Erase_Whole_Alike(candidates);
    return lines[static_cast<size_t>(left[0])];
}

bool db_readable(CTAMREL* pgm, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        FILE* f = pgm->Key_File_Open(file.c_str());
        if (f == nullptr) return false;
        fclose(f);
    }
    return true;
}

// The SFDP area from address 0, as far as the parser wants it: header, parameter headers,
// then the tables, in at most three frames.
std::vector<uint8_t> read_sfdp(CTAMREL* pgm) {
    std::vector<uint8_t> bytes;
    for (;;) {
        const uint32_t have = static_cast<uint32_t>(bytes.size());
        const uint32_t want = std::min(Sfdp_Wanted(bytes.data(), have), kSfdpReadMax);
        if (want <= have) return bytes;
        pgm->Read_SFDP(have, want - have);
        bytes.insert(bytes.end(), pgm->io_buf, pgm->io_buf + (want - have));
    }
}

}  // namespace

int CTAMREL::FLASH_Identify() {
    CManufacturer mnf(setup);
    const std::vector<std::string> db_files = Chip_Db_Files(this);
    setup->alternatives.clear();

    if (setup->has_device_name) {
        printf("\nOperation by chip name.");
        if (Id_ByName() != 1) return -1;
        printf("%sOK\n", kSearchLine);
        mnf.configure_chip_setup();
        return 1;
    }

    Adapter_ini();
    const ChipIds chip = read_ids(this);
    setup->mnf_id = chip.mnf;
    setup->jedec_id = chip.jedec;
    setup->ext_id = chip.ext;

    // The USB-Blaster is taken whenever it is configured (config/adapter_select.cpp).
    if (setup->use_usb)
        printf("SPI by USB");
    else if (setup->use_lpt)
        printf("SPI by LPT port: 0x%Xh", setup->lpt_addr);
    printf(", SCK period: %dus\n\n", 1);

    if (setup->jedec_id == 0x0000 || setup->jedec_id == 0x00FF || no_chip(chip)) {
        Adapter_release();
        SetColor(14, 1);
        printf(
            "Error: Can`t read the FLASH mem device!              \n"
            "Probably, pin`s connection is wrong.\n");
        if (no_chip(chip))
            printf(
                "No chip answers (every id byte reads 0x%02X): check the wiring, the board's "
                "power and the cable.\n",
                chip.mnf);
        SetColor(15, 0);
        printf("\n");
        return -1;
    }

    printf("Flash Memory Info:\n");
    mnf.print_manufacturer();
    printf("\nJEDEC ID code:\t0x%04X", setup->jedec_id);
    printf("\nExtended ID:\t0x%04X\n", setup->ext_id);

    // The database is searched while the cable is still on, so that a chip it lacks can be
    // asked for its SFDP tables in the same power-up. A missing file is reported below.
    const bool readable = db_readable(this, db_files);
    std::vector<std::string> lines;
    RecordMatch match = RECORD_NO;
    std::string found_in;
    int scan = readable ? find_records(this, db_files, chip, &lines, &match, &found_in) : 0;
    std::vector<uint8_t> sfdp;
    if (scan == 1 && (match == RECORD_NO || lines.size() > 1)) sfdp = read_sfdp(this);
    Adapter_release();

    if (scan == 1) Chip_Db_Taken_From(this, found_in);
    printf("%s", kSearchLine);
    if (!readable) scan = find_records(this, db_files, chip, &lines, &match, &found_in);
    if (scan != 1) return -1;
    std::string line = lines.size() > 1 ? choose_record(this, lines, sfdp)
                       : lines.empty()  ? std::string()
                                        : lines[0];
    if (match == RECORD_NO) {
        printf("\tIs not added to DB");
        SfdpGeometry geo;
        std::string why;
        if (Sfdp_Parse(sfdp.data(), static_cast<uint32_t>(sfdp.size()), &geo, &why) != 1) {
            printf("\nError: no usable SFDP tables: %s\n", why.c_str());
            return -1;
        }
        const std::string record = Sfdp_Record(geo, setup->mnf_id, setup->jedec_id, setup->ext_id);
        printf(
            "\nWarning: geometry read from the chip's SFDP tables; to keep it, add this "
            "record to flash_db.cfg:\n%s",
            record.c_str());
        line = "\n" + record + "\n";
        setup->geometry_from_sfdp = 1;
    } else if (match == RECORD_NO_EXTID) {
        printf("OK, Warning: 'extid=' not defined!");
    } else {
        printf("OK");
    }

    if (DB_Parser(line.c_str(), this) != 1) return -1;
    mnf.configure_chip_setup();
    if (!setup->alternatives.empty())
        printf(
            "\nWarning: the chip answers the id of %s, and its SFDP tables do not tell which "
            "it is",
            setup->alternatives.c_str());
    return 1;
}

void CTAMREL::FLASH_Check_ByName() {
    if (!setup->has_device_name || !adapter_active) return;
    const ChipIds chip = read_ids(this);
    // No answer (no chip, or one without the id command): the reason -n= exists.
    if (chip.jedec == 0x0000 || chip.jedec == 0x00FF || (chip.mnf == 0xFF && chip.jedec == 0xFFFF))
        return;
    std::string line, path;
    if (Chip_Db_ByName(this, setup->device_name, &line, &path) != 1 ||
        match_record(this, line, chip) != RECORD_NO)
        return;
    const std::string ids = record_ids(this, line);
    if (ids.empty()) return;
    printf(
        "\nWarning: the chip answers id 0x%02X 0x%04X 0x%04X, the record taken by -n=%s has %s\n",
        chip.mnf, chip.jedec, chip.ext, setup->device_name.c_str(), ids.c_str());
}
