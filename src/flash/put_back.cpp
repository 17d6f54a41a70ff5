#include "flash/put_back.h"

#include <cstdio>
#include <string>
#include <vector>

#include "flash/chip_read.h"
#include "flash/journal.h"
#include "flash/page_program.h"
#include "flash/write_protect.h"
#include "run/tamrel.h"

namespace {

// Bytes the chip holds that programming can still turn into `want` (bits only go 1 to 0).
bool programmable(const std::vector<unsigned char>& chip, const std::vector<unsigned char>& want) {
    for (size_t i = 0; i < want.size(); i++)
        if ((chip[i] & want[i]) != want[i]) return false;
    return true;
}

}  // namespace

int Journal_Put_Back(CTAMREL* pgm) {
    const Setup_struct* s = pgm->setup;
    const std::string& path = s->journal_file;
    Journal j;
    if (Journal_In_Use(path) || Journal_Read(path, &j) != 1) return -1;
    const std::string id = Journal_Chip_Id(s);
    if (j.chip != id) {
        printf("\nError: the journal %s is for chip %s, this chip is %s: put-back refused\n",
               path.c_str(), j.chip.c_str(), id.c_str());
        return -1;
    }
    for (const JournalBlock& b : j.blocks) {
        if (b.addr + b.data.size() > s->total_size) {
            printf("\nError: the journal %s names bytes past the chip's end: put-back refused\n",
                   path.c_str());
            return -1;
        }
    }
    const unsigned char status = pgm->Get_StatusReg();
    if (pgm->Cable_Lost() || Refuse_Protected(s->record.protect_mask, status, "put-back") ||
        pgm->Refuse_Locked_Blocks("put-back"))
        return -1;

    // A unit whose bytes programming cannot reach (an erase cut short) is erased first; the
    // rest of such a unit belongs to the interrupted range and stays erased.
    std::vector<unsigned long> erase;
    std::vector<bool> differs;
    for (const JournalBlock& b : j.blocks) {
        std::vector<unsigned char> chip(b.data.size());
        if (!Read_Chip(pgm, b.addr, chip.size(), chip.data())) return -1;
        differs.push_back(chip != b.data);
        if (programmable(chip, b.data)) continue;
        if (s->erase_size == 0 || s->cmd_erase == 0) {
            printf(
                "\nError: 0x%08lX-0x%08lX need an erase and the chip's erase unit is not "
                "known: put-back refused\n",
                b.addr, b.addr + b.data.size() - 1);
            return -1;
        }
        for (unsigned long u = b.addr / s->erase_size;
             u <= (b.addr + b.data.size() - 1) / s->erase_size; u++)
            if (erase.empty() || erase.back() != u) erase.push_back(u);
    }
    for (unsigned long u : erase) {
        if (pgm->Wait_WriteBusy(200, 100) != 1) return -1;
        pgm->Write_Enable();
        pgm->Erase_Unit(u * s->erase_size + s->erase_size / 2);
        if (pgm->Cable_Lost()) return -1;
        printf("\nErased unit 0x%08lX: the interrupted range's bytes in it stay erased",
               u * s->erase_size);
        for (size_t i = 0; i < j.blocks.size(); i++)
            if (j.blocks[i].addr / s->erase_size <= u &&
                u <= (j.blocks[i].addr + j.blocks[i].data.size() - 1) / s->erase_size)
                differs[i] = true;
    }
    printf("\n");
    for (size_t i = 0; i < j.blocks.size(); i++) {
        if (!differs[i]) continue;
        JournalBlock& b = j.blocks[i];
        const PageProgramJob job = {b.addr, b.data.size(),    200,          20, "Restore data:\t\t",
                                    false,  Fill_From_Buffer, b.data.data()};
        const PageProgramResult res = Page_Program(pgm, job);
        if (res.busy_timeout || res.end != ProgramEnd::Done) return -1;
    }
    if (pgm->Wait_WriteBusy(200, 20) != 1) return -1;
    for (const JournalBlock& b : j.blocks) {
        if (Chip_Holds(pgm, b.addr, b.data.data(), b.data.size())) continue;
        if (pgm->Cable_Lost()) return -1;
        printf("\nError: 0x%08lX-0x%08lX read back wrong: the journal %s stays\n", b.addr,
               b.addr + b.data.size() - 1, path.c_str());
        return -1;
    }
    if (Journal_Remove(path) != 1) return -1;
    printf("\nPut back and read back: %s; journal %s removed\n", Journal_Ranges(j).c_str(),
           path.c_str());
    return 1;
}
