#pragma once

#include "sysutils.h"

// The whole of a regular file's bytes. A file that cannot be read raises an
// Exception naming the path and the reason; nothing is returned in part.
std::string ReadFileBytes(const std::string& path);
