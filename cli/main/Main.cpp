// The veltrano command's entry.
#include "cli/Cli.h"

#include <iostream>

int main(int argc, char** argv) {
    return cli::run(argc, argv, std::cout, std::cerr);
}
