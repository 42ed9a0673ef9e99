#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "converter.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    try {
        return runHibarune(std::vector<std::string>(argv, argv + argc));
    } catch (const std::exception& error) {
        // Only reporting the error itself can fail this far out.
        std::fprintf(stderr, "Error: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "Error: unknown failure\n");
    }
    return 1;
}
