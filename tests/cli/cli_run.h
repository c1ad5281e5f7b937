#pragma once

// A tavrel-cli command run in this process, and the files it reads.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace tavrel::cli {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

inline Outcome RunCli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunCommand(args, out, err);
    return {status, out.str(), err.str()};
}

inline std::string WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

}  // namespace tavrel::cli
