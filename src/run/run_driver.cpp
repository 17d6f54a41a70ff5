#include "run/run_driver.h"

#include <unistd.h>

#include <cstdio>

#include "adapters/delay.h"
#include "chipdb/chip_listing.h"
#include "config/adapter_select.h"
#include "config/cable_listing.h"
#include "config/cfg_parser.h"
#include "config/file_search.h"
#include "flash/journal.h"
#include "flash/progress_plan.h"
#include "flash/put_back.h"
#include "flash/update.h"
#include "run/cmdline.h"
#include "run/console.h"
#include "run/exit_codes.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

// Erase, write and verify in that order; each acts only when asked. The sequence stops
// at the first failed step: writing over a range whose erase failed corrupts data.
int Program_Sequence(CTAMREL& pgm) {
    if (pgm.setup->only_changed) return Flash_Update(&pgm);  // erase, write and verify in one
    Progress_Plan_Sequence(pgm.setup);  // what a terminal says the whole sequence has left
    int result = pgm.FLASH_Erase();
    if (result == 1) result = pgm.FLASH_Write();
    if (result == 1) result = pgm.FLASH_Verify();
    return result;
}

int Dispatch(CTAMREL& pgm) {
    switch (pgm.setup->operation) {
        case OP_DUMP:
            return pgm.FLASH_Dump();
        case OP_WRITE:
        case OP_VERIFY:
        case OP_ERASE:
            return Program_Sequence(pgm);
        case OP_UNLOCK:
            return pgm.FLASH_Unlock();
        case OP_INFO:
            pgm.FLASH_Info();
            return 1;
        case OP_SHOWMEM:
            return pgm.FLASH_ShowMem();
        case OP_PUT_BACK:
            return Journal_Put_Back(&pgm);
        default:
            return 1;
    }
}

bool Stop_On_Interrupt(CTAMREL& pgm) {
    if (!Interrupt_Pending()) return false;
    pgm.Adapter_release();
    printf("\nInterrupted: operation stopped, adapter powered down.\n");
    return true;
}

// A stage that failed because of an interrupt (a file scan it cut short) says so too.
bool Stage_Failed(int result, CTAMREL& pgm) {
    const bool interrupted = Stop_On_Interrupt(pgm);
    return result != 1 || interrupted;
}

// Stages and operation; the objects die in reverse order when this returns.
int Run_Stages(Setup_struct& setup, int argc, char** argv) {
    if (Refuse_Glued_Switches(argc, argv)) return -1;  // before any file is read
    CTAMREL pgm(&setup);
    CCFGP cfg(&pgm);
    if (Stage_Failed(cfg.Parse(), pgm)) return -1;
    CCMDP cmd(&pgm);
    if (cmd.Parse(argc, argv) != 1) return -1;
    CADAPTER adapters(&pgm);
    if (Stage_Failed(adapters.Add_Adapter(), pgm)) return -1;
    if (Stage_Failed(pgm.FLASH_Identify(), pgm)) return -1;
    if (Stage_Failed(pgm.FLASH_Check_Parameters(), pgm)) return -1;
    pgm.Adapter_ini();
    pgm.FLASH_Check_ByName();
    int result = Dispatch(pgm);
    if (pgm.Cable_Lost()) result = -1;  // whatever the operation made of its replies
    if (pgm.Rescue_Head_Tail() != 1) result = -1;
    if (Stop_On_Interrupt(pgm)) return -1;
    pgm.Adapter_release();
    // The emulated image is written back before the status is given, so its failure counts.
    if (adapters.Remove_Adapter() != 1) return -1;
    return result == 1 ? 1 : -1;
}

// --list takes from config.cfg only the USB ids and the emulated target, so it lists
// without one too.
int List_Cables(Setup_struct& setup) {
    CTAMREL pgm(&setup);
    CCFGP cfg(&pgm);
    if (access(Config_File_Path(&setup, CONFIG_CFG), F_OK) == 0 && Stage_Failed(cfg.Parse(), pgm))
        return -1;
    return Cable_Listing(&pgm);
}

// --list-chips reads flash_db.cfg only.
int List_Chips(Setup_struct& setup, const std::string& filter) {
    CTAMREL pgm(&setup);
    return Stage_Failed(Chip_Listing(&pgm, filter), pgm) ? -1 : 1;
}

}  // namespace

int Run_Driver(int argc, char** argv) {
    delay_request_min_slack();
    Interrupt_Install();
    Console_Start();

    printf("\nTamrel, ver 2.8, %s, %s", TAMREL_CONTACT, __DATE__);
    Journal_Notice();  // bytes an earlier run could not put back come first
    const int from_env = Exit_Codes_From_Env();
    if (from_env < 0) return Exit_Status(-1, EXIT_CODES_CLASSIC);
    const ExitCodes env_codes = static_cast<ExitCodes>(from_env);
    std::string filter;
    const EarlySwitch early = argc <= 1 ? EARLY_HELP : Find_Early_Switch(argc, argv, &filter);
    if (early == EARLY_HELP) {
        PrintUsage(argc > 1);
        return Exit_Status(1, env_codes);
    }
    if (early == EARLY_VERSION) {
        printf("\n");  // the banner is the version line
        return Exit_Status(1, env_codes);
    }
    Setup_struct setup;
    PGM_setup_ini(&setup);
    if (early == EARLY_LIST) return Exit_Status(List_Cables(setup), env_codes);
    if (early == EARLY_LIST_CHIPS) return Exit_Status(List_Chips(setup, filter), env_codes);
    const int result = Run_Stages(setup, argc, argv);
    // The environment wins over config.cfg.
    return Exit_Status(result, env_codes != EXIT_CODES_UNSET
                                   ? env_codes
                                   : static_cast<ExitCodes>(setup.exit_codes));
}
