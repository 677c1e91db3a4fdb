#include "gui/output_queue.h"

#include <algorithm>

namespace gui {

void OutputQueue::Request(Requester who, const std::string& output) {
  if (Waiting(who)) return;
  waiting_.push_back({who, output});
}

void OutputQueue::Withdraw(Requester who) {
  waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                [who](const Waiter& w) { return w.who == who; }),
                 waiting_.end());
}

bool OutputQueue::Waiting(Requester who) const {
  return std::any_of(waiting_.begin(), waiting_.end(),
                     [who](const Waiter& w) { return w.who == who; });
}

bool OutputQueue::Busy(const std::string& output) const {
  return std::any_of(running_.begin(), running_.end(), [&](const std::string& o) {
    return SameInputPath(o, output, ignore_case_);
  });
}

std::vector<OutputQueue::Requester> OutputQueue::TakeStartable() {
  std::vector<Requester> startable;
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    // The oldest request for an output goes first; later ones for the same output stay
    // behind it because the output is busy from here on.
    if (Busy(it->output)) {
      ++it;
      continue;
    }
    running_.push_back(it->output);
    startable.push_back(it->who);
    it = waiting_.erase(it);
  }
  return startable;
}

void OutputQueue::Ended(const std::string& output) {
  auto it = std::find_if(running_.begin(), running_.end(), [&](const std::string& o) {
    return SameInputPath(o, output, ignore_case_);
  });
  if (it != running_.end()) running_.erase(it);
}

}  // namespace gui
