// The run driver: banner, stages in fixed order, operation dispatch, clean-up.
#pragma once

// The process status: see run/exit_codes.h.
int Run_Driver(int argc, char** argv);
