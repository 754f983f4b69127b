#include <iostream>

#include "app/cli.h"

int main(int argc, char** argv) {
    try {
        return kordb::runCli(argc, argv, std::cout, std::cerr, kordb::systemEnvironment());
    } catch (const std::exception& e) {
        std::cerr << "# kordb-cli: " << e.what() << "\n";
        return kordb::kExitNoSource;
    }
}
