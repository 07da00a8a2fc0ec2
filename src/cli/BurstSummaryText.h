#pragma once
// The summary `pemra-cli log --burst` prints on standard error after the run.

#include <cstdint>
#include <string>

#include "core/RegisterTable.h"
#include "datalog/BurstCapture.h"

namespace pemra::cli {

// Rows written, samples missed (estimated; with those dropped because the writer fell
// behind, when there were any), duplicates discarded, the achieved rate beside the sensor's,
// the longest gap between two rows and the row it follows, and the capture thread's
// priority; first a line saying why the capture stopped when the sensor brought no new data
// (naming the register that paces the bursts).
std::string BurstSummaryText(const BurstSummary& summary, int64_t rowsWritten,
                             const std::string& pacingRegister, char decimalSeparator,
                             const std::string& priority);

}  // namespace pemra::cli
