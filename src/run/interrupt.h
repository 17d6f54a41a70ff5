// Ctrl-C / SIGTERM handling. The handlers only record the request; long loops poll it so
// that an erase or write can put back the head and tail it saved before the run ends.
#pragma once

void Interrupt_Install();
bool Interrupt_Pending();
int Interrupt_Signal();  // the signal received, 0 when none
void Interrupt_Clear();  // tests only
