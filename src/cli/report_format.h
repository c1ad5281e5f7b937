#pragma once

#include <string>

#include "cli/analyzer.h"

namespace tavrel::cli {

// The report as one JSON object (the schema is documented in docs/cli.md).
std::string ReportJson(const AnalysisReport& report, const AnalyzeOptions& options);
// The report for a person reading a terminal.
std::string ReportText(const AnalysisReport& report, const AnalyzeOptions& options);

// "YYYY-MM-DD hh:mm:ss" of a broadcast date and time.
std::string FormatMjdTime(uint32_t mjd, uint32_t seconds);

}  // namespace tavrel::cli
