// Entry of dbftool; the commands live in commands.cpp.
#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    int rc = dbftool::run(args, std::cout, std::cerr);
    std::cout.flush();
    return rc;
}
