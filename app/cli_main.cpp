#include <iostream>

#include "app/cli.h"

int main(int argc, char** argv) {
    return kordb::runCli(argc, argv, std::cout, std::cerr, kordb::systemEnvironment());
}
