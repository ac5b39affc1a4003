#include "commandline.h"

#include <filesystem>
#include <ostream>
#include <string_view>
#include <system_error>

namespace {

constexpr std::string_view kUsage = "Usage: vost [FILE]\n";

constexpr std::string_view kHelp =
    "View and edit a point cloud stored as text, one point \"x y z\" a line.\n"
    "FILE opens at start-up, as File > Open would open it.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

CommandLine Ending(int code)
{
    return {{}, code};
}

CommandLine Misused(std::ostream& err, std::string_view what, std::string_view word)
{
    err << "vost: " << what << " '" << word << "'\n" << kUsage << "Try 'vost --help'.\n";
    return Ending(2);
}

} // namespace

CommandLine ReadCommandLine(int argc, const char* const argv[], std::ostream& out,
                            std::ostream& err)
{
    CommandLine command;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (options && word == "--") {
            options = false;
        } else if (options && word == "--help") {
            out << kUsage << kHelp;
            return Ending(0);
        } else if (options && word == "--version") {
            out << "vost " VOST_VERSION "\n";
            return Ending(0);
        } else if (options && word.size() > 1 && word.front() == '-') {
            return Misused(err, "unknown option", word);
        } else if (!command.FileName.empty() || word.empty()) {
            return Misused(err, word.empty() ? "an empty file name" : "a second file", word);
        } else {
            // A full path, as the file dialog gives one.
            std::error_code error;
            const std::filesystem::path full = std::filesystem::absolute(word, error);
            command.FileName =
                (error ? std::filesystem::path(word) : full).lexically_normal().string();
        }
    }
    return command;
}
