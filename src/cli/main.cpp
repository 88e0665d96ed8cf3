#include "cli/cli.h"

#include <clocale>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    try {
        return paritas::cli::run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "paritas-cli: %s\n", e.what());
        return paritas::cli::kUnexpectedError;
    }
}
