#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tavrel::cli {

// Exit statuses of the command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;  // bad options, unreadable input, no packet grid

// `tavrel-cli analyze FILE|- [options]`; arguments after the command word.
int RunAnalyze(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// `tavrel-cli generate OUT.ts [options]`.
int RunGenerate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// `tavrel-cli schedule list|add|remove FILE ...`.
int RunSchedule(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// `tavrel-cli capture [options]`: a headless capture from the tuner.
int RunCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The whole command line (argv without the program name).
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavrel::cli
