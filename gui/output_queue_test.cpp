#include "gui/output_queue.h"

#include <gtest/gtest.h>

namespace gui {
namespace {

using Requesters = std::vector<OutputQueue::Requester>;

// Three compilation logs, stood in for by addresses.
int logs[3];
const void* const a = &logs[0];
const void* const b = &logs[1];
const void* const c = &logs[2];

TEST(OutputQueueTest, OneCompilerPerOutputAndTheLaterRequestWaits) {
  OutputQueue queue(false);
  queue.Request(a, "/out/x.qp");
  EXPECT_EQ(queue.TakeStartable(), Requesters{a});
  EXPECT_TRUE(queue.Busy("/out/x.qp"));
  // A window closed during its run: the run still counts, so the next log for the
  // same output waits for it instead of racing it.
  queue.Request(b, "/out/x.qp");
  EXPECT_TRUE(queue.TakeStartable().empty());
  EXPECT_TRUE(queue.Waiting(b));
  queue.Ended("/out/x.qp");
  EXPECT_EQ(queue.TakeStartable(), Requesters{b});
  EXPECT_FALSE(queue.Waiting(b));
  queue.Ended("/out/x.qp");
  EXPECT_FALSE(queue.Busy("/out/x.qp"));
}

TEST(OutputQueueTest, DifferentOutputsRunInParallel) {
  OutputQueue queue(false);
  queue.Request(a, "/out/x.qp");
  queue.Request(b, "/out/y.qp");
  // Another letter case is another file where the file system tells case apart.
  queue.Request(c, "/out/X.qp");
  EXPECT_EQ(queue.TakeStartable(), (Requesters{a, b, c}));
}

TEST(OutputQueueTest, RequestsForOneOutputStartInTheirOrder) {
  OutputQueue queue(true);
  queue.Request(a, "C:\\out\\x.qp");
  EXPECT_EQ(queue.TakeStartable(), Requesters{a});
  queue.Request(c, "c:\\OUT\\x.qp");  // the same file where case does not count
  queue.Request(b, "C:\\out\\x.qp");
  queue.Request(c, "C:\\out\\x.qp");  // asking again keeps the first place, and one run
  queue.Request(a, "C:\\out\\x.qp");  // a log whose run goes on asks for the next one
  for (OutputQueue::Requester next : {c, b, a}) {
    EXPECT_TRUE(queue.TakeStartable().empty());
    queue.Ended("C:\\out\\x.qp");
    EXPECT_EQ(queue.TakeStartable(), Requesters{next});
  }
  queue.Ended("C:\\out\\x.qp");
  EXPECT_TRUE(queue.TakeStartable().empty());
}

TEST(OutputQueueTest, AWithdrawnRequestNeverStarts) {
  OutputQueue queue(false);
  queue.Request(a, "/out/x.qp");
  EXPECT_EQ(queue.TakeStartable(), Requesters{a});
  queue.Request(b, "/out/x.qp");
  queue.Request(c, "/out/x.qp");
  queue.Withdraw(b);
  queue.Withdraw(b);  // twice is harmless
  queue.Ended("/out/x.qp");
  EXPECT_EQ(queue.TakeStartable(), Requesters{c});
  // An end that was never started changes nothing.
  queue.Ended("/out/other.qp");
  EXPECT_TRUE(queue.Busy("/out/x.qp"));
}

}  // namespace
}  // namespace gui
