#pragma once
// The summary `pemra-cli log --burst` prints on standard error after the run.

#include <cstdint>
#include <string>

#include "core/RegisterTable.h"
#include "datalog/BurstCapture.h"

namespace pemra::cli {

// Four lines: rows written, samples missed (estimated), duplicates discarded and the
// achieved rate beside the sensor's; first a line saying why the capture stopped when the
// sensor brought no new data (naming the register that paces the bursts).
std::string BurstSummaryText(const BurstSummary& summary, int64_t rowsWritten,
                             const std::string& pacingRegister, char decimalSeparator);

}  // namespace pemra::cli
