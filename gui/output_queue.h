// Which compile may start now. Two compilers that write the same output at once race to
// rename their file over it, and the one that ends last wins, which need not be the one
// started last. So at most one compiler per output runs at a time (a run whose window has
// closed still counts until its compiler ends), and requests for an output start in the
// order they were made. Runs for different outputs go on in parallel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/path_rules.h"

namespace gui {

class OutputQueue {
 public:
  using Requester = const void*;  // a compilation log

  explicit OutputQueue(bool ignore_case = kPathsIgnoreCase) : ignore_case_(ignore_case) {}

  // `who` wants to compile to `output`. A request of `who` that is already waiting keeps
  // its place (asking twice before the start gives one run).
  void Request(Requester who, const std::string& output);
  // Drops the waiting request of `who`, if any (its window closed).
  void Withdraw(Requester who);
  bool Waiting(Requester who) const;

  // The waiting requests that may start now, oldest first. From here on each counts as
  // a running compile of its output until Ended is called for that output.
  std::vector<Requester> TakeStartable();
  // The running compile of `output` has ended.
  void Ended(const std::string& output);
  bool Busy(const std::string& output) const;

 private:
  struct Waiter {
    Requester who;
    std::string output;
  };
  bool ignore_case_;
  std::vector<Waiter> waiting_;      // in the order of the requests
  std::vector<std::string> running_; // outputs being written, each once
};

}  // namespace gui
