#pragma once
// The headless plot: pemra-eval --plot FILE... [--columns LIST] [--from S] [--to S] [--adev|--psd] -o OUT.png|svg|pdf
// draws the log viewer's plot (or with --adev the noise window's deviation, with --psd its
// spectrum) of the files of a session
// into OUT, without a display, and ends the program: 0 when the file is written, 2 with a
// message on standard error when the arguments or the log are unusable, 1 when OUT cannot
// be written.

namespace pemra {

// True when the arguments ask for the headless plot (one of them is --plot).
bool IsPlotCommand(int argc, char** argv);

// Runs it on the offscreen platform (its own application object) and returns the exit status.
int RunPlotCommand(int argc, char** argv);

}  // namespace pemra
