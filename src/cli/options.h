#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ts/mjd_time.h"

namespace tavrel::cli {

// A mistake in the command line or its input: one line on standard error, exit status 2.
struct UsageError {
    std::string message;
};

// A whole number from min to max, decimal or (with hex_prefix) with a 0x prefix.
uint64_t ParseNumber(const std::string& text, uint64_t min, uint64_t max, const std::string& option,
                     bool hex_prefix = false);

// "YYYY-MM-DD hh:mm:ss" as a local date and time.
MjdTime ParseDateTime(const std::string& text, const std::string& option);

// Walks the arguments of one command: options with or without a value, and positionals.
class ArgumentWalk {
public:
    explicit ArgumentWalk(const std::vector<std::string>& args) : args_(args) {}
    bool More() const { return next_ < args_.size(); }
    const std::string& Next() { return args_[next_++]; }
    // The value after the option just read.
    const std::string& Value(const std::string& option) {
        if (!More()) {
            throw UsageError{option + " needs a value"};
        }
        return Next();
    }
    static bool IsOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

private:
    const std::vector<std::string>& args_;
    size_t next_ = 0;
};

}  // namespace tavrel::cli
