#pragma once
// Start-up: the delay check, the interface settings' start values,
// the configuration file, the register table, then the main window and its load.

#include <memory>

#include "gui/kit/Application.h"
#include "gui/main/frmForm1.h"
#include "sim/Rig.h"

namespace pemra {

// Sets the start values, reads the configuration (with --simulate and no configuration file:
// the USB adapter and the primary model) and fills the register table.
void PrepareSession(Application& app);

// Options of the simulated rig behind --simulate: the sensor is the model the configuration
// file names (so the saved model's conversions fit what the sensor sends), else the primary
// model.
sim::RigOptions SimulatedRigOptions(const std::filesystem::path& configPath);

// Runs the whole start-up and returns the main window, shown and loaded.
std::unique_ptr<frmForm1> StartProgram(Application& app);

}  // namespace pemra
