#pragma once

#include "driver/CommandLine.h"

// The guarded part of a run: builds the tester, draws the schedules, runs
// and joins the workers, ends the dot line and prints the report. Everything
// it builds is released before it returns or throws.
void runLoad(RunSettings const& settings, void* ipcHandle, void* logHandle);
