// A size the kernel reports for this process, in bytes: "VmData", "VmSize".
#pragma once

#include <fstream>
#include <string>

inline long StatusBytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1)) * 1024;
    return -1;
}
