// Writes a deterministic test script: gen_script [--kind KIND] [--seed N] SIZE OUTPUT

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "nscr/file.h"
#include "script_gen.h"

namespace {

int usage() {
    std::fputs("usage: gen_script [--kind script|long-line|empty-lines|brackets|literal|stars] [--seed N] SIZE OUTPUT\n"
               "       gen_script --game FILES [--seed N] SIZE FOLDER\n"
               "  SIZE in bytes, or with K (1000) or M (1000000)\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    scriptgen::Kind kind = scriptgen::Kind::script;
    std::uint64_t seed = 1;
    std::string_view sizeText;
    std::string output;
    std::size_t gameFiles = 0;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--game" && i + 1 < argc) {
            auto value = scriptgen::parseSize(argv[++i]);
            if (!value || *value == 0 || *value > 100) return usage();
            gameFiles = *value;
        } else if (argument == "--kind" && i + 1 < argc) {
            auto found = scriptgen::kindByName(argv[++i]);
            if (!found) return usage();
            kind = *found;
        } else if (argument == "--seed" && i + 1 < argc) {
            auto value = scriptgen::parseSize(argv[++i]);
            if (!value) return usage();
            seed = *value;
        } else if (sizeText.empty()) {
            sizeText = argument;
        } else if (output.empty()) {
            output = argument;
        } else {
            return usage();
        }
    }
    auto size = scriptgen::parseSize(sizeText);
    if (!size || output.empty()) return usage();
    try {
        if (gameFiles != 0) {
            std::vector<std::string> files = scriptgen::generateGame(*size, gameFiles, seed);
            std::filesystem::create_directories(output);
            for (std::size_t k = 0; k < files.size(); ++k)
                nscr::writeWholeFile(output + "/" + std::to_string(k) + ".txt", files[k]);
            return 0;
        }
        nscr::writeWholeFile(output, scriptgen::generate(kind, *size, seed));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "gen_script: %s\n", error.what());
        return 1;
    }
    return 0;
}
