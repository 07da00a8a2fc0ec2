// pemra-cli: the library's registers, adapters and simulated sensor from a terminal.

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/InputText.h"
#include "core/AtomicFile.h"

int main(int argc, char** argv) {
  // Numbers are printed with the user's decimal separator.
  std::setlocale(LC_NUMERIC, "");
  std::setlocale(LC_TIME, "");  // dates and times in data-log headers
  // A file-size limit makes a write fail with its message instead of killing the program.
  pemra::IgnoreFileSizeSignal();
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Standard input through a buffer that tells a read error from the end of the input.
  pemra::cli::FdInputBuffer stdinBuffer(0);
  std::istream in(&stdinBuffer);
  return pemra::cli::Run(args, in, std::cout, std::cerr);
}
