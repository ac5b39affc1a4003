// Writes a generated cloud of LINES lines, the marker last: make_cloud LINES FILE
#include "cloud_text.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_cloud LINES FILE\n");
        return 2;
    }
    std::ofstream out(argv[2], std::ios::binary);
    // In parts, so that a cloud of any size needs little memory.
    const std::size_t lines = std::stoull(argv[1]) - 1;
    for (std::size_t done = 0; done < lines; done += 1'000'000) {
        const std::string text =
            CloudText(std::min<std::size_t>(lines - done, 1'000'000), static_cast<unsigned>(done));
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    out << kMarkerLine;
    return out ? 0 : 1;
}
