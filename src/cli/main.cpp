// tavrel-cli: the stream processor without a window.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tavrel::cli::RunCommand(args, std::cout, std::cerr);
}
