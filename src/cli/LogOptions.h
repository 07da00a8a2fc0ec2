#pragma once
// The options of `pemra-cli log`, as given (checked when the command runs).

#include <string>

namespace pemra::cli {

struct LogOptions {
  std::string dir;               // default: the current directory
  std::string name = "DATALOG";  // base file name
  std::string files = "1";
  std::string samples = "1000";
  std::string delay = "0";       // milliseconds after each sample
  std::string channels;          // names or numbers 1..11, comma-separated; default: all
  bool time = false;
  bool noNewData = false;
  bool raw = false;
  bool noHeader = false;
  bool burst = false;  // one row per sensor sample, read in bursts paced by the new-data flag
  std::string capturePriority = "auto";  // "auto": raise the capture thread's priority; "normal"
};

}  // namespace pemra::cli
