// tamrel -r FILE: programs the bytes a journal holds back onto the chip it was made for,
// reads them back, and removes the journal once they match.
#pragma once

class CTAMREL;

int Journal_Put_Back(CTAMREL* pgm);
