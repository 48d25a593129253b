// A run for people (one summary line, or the details) and for programs (one
// JSON object on one line; its fields are documented in docs/report.md).
#pragma once

#include <ostream>

#include "run.h"

namespace report
{
// The version of the JSON fields; it changes when a field changes meaning
// or goes away, not when one is added.
constexpr int kSchemaVersion = 1;

void WriteJson(std::ostream& out, const Run& run);
void WriteSummary(std::ostream& out, const Run& run);
void WriteDetails(std::ostream& out, const Run& run);
} // namespace report
