// What the program is asked on its command line: a file to open at start-up,
// or help, the version, or a usage error, each of which ends it before any
// window is made.
#pragma once

#include "sysutils.h"

#include <iosfwd>
#include <optional>

struct CommandLine
{
    // The file to open, as a full path; empty when none was named.
    AnsiString FileName;
    // Set when the program is to end at once with this code; what it had to
    // say is written already.
    std::optional<int> ExitCode;
};

// Reads `vost [--help | --version | [--] FILE]`; help and the version go to
// `out`, a usage error to `err`.
CommandLine ReadCommandLine(int argc, const char* const argv[], std::ostream& out,
                            std::ostream& err);
