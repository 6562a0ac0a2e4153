#pragma once

#include <iosfwd>

// What a run is told by its command line.
struct RunSettings {
    unsigned int commandsPerThread = 10;
    unsigned int seed = 1;
    unsigned int threadCount = 1;
    // Camera to connect to ("tcp://ipaddr"); null for the camera we run on.
    // Points into argv, which outlives the run.
    char const* url = nullptr;
};

// Converts an option value the way strtol does into a signed 32-bit number,
// then reads it as unsigned: "-1" is 4294967295, "12x" is 12, "abc" is 0,
// and values beyond the signed 32-bit range saturate before the conversion.
unsigned int optionValue(char const* text);

// Parses -c, -s, -t and -u into `settings`. Returns false on an unknown
// option or a missing value, after getopt has printed its diagnostic.
bool parseCommandLine(int argc, char** argv, RunSettings& settings);

// The five-line usage text, always with the built-in defaults.
void printUsage(std::ostream& out);
