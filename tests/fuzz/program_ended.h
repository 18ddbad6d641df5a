// The fuzz targets' way back from the tool's exit. The tool ends the process
// through end_program; a target links program_ended.cpp, whose end_program
// throws this record instead, so that one process can run the tool again and
// again and look at what each run left behind.
#pragma once

/// Thrown by the fuzz build's end_program with the status the tool chose.
struct program_ended {
    int status;
};
