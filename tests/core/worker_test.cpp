// The one way the tool runs work on a second thread.

#include "core/Worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

TEST(Worker, GivesTheResultRaisesTheFailureAndStopsOnRequest) {
    Worker<int> sum([] { return 6 * 7; });
    EXPECT_EQ(sum.Get(), 42);

    Worker<> failing([] { throw std::runtime_error("disk full"); });
    EXPECT_TRUE(failing.WaitFor(std::chrono::seconds(10)));
    EXPECT_THROW(failing.Get(), std::runtime_error);

    // A function that waits for its stop token ends when asked, and the Worker is joined.
    std::atomic<bool> ended{false};
    {
        Worker<> waiting([&](std::stop_token token) {
            while (!token.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ended = true;
        });
        EXPECT_FALSE(waiting.WaitFor(std::chrono::milliseconds(20)));
    }
    EXPECT_TRUE(ended);
}

}  // namespace
