// pemra-cli: the library's registers, adapters and simulated sensor from a terminal.

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"

int main(int argc, char** argv) {
  // Numbers are printed with the user's decimal separator.
  std::setlocale(LC_NUMERIC, "");
  std::setlocale(LC_TIME, "");  // dates and times in data-log headers
  const std::vector<std::string> args(argv + 1, argv + argc);
  return pemra::cli::Run(args, std::cin, std::cout, std::cerr);
}
