// The run driver: banner, stages in fixed order, operation dispatch, clean-up.
#pragma once

int Run_Driver(int argc, char** argv);
