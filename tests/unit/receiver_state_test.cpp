#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "receiver/receiver_state.h"

namespace {

std::shared_ptr<ReceiverState> make_state(ReceiverSettings settings = {}) {
    return new_receiver_state(settings, {{"Localhost", "127.0.0.1"}});
}

TEST(ReceiverState, TakesItsInitialValuesFromTheSettings) {
    auto state = make_state({9443, false, true, false, {}});
    EXPECT_EQ(state->port, 9443);
    EXPECT_FALSE(state->auto_type);
    EXPECT_TRUE(state->press_enter);
    EXPECT_FALSE(state->copy_to_clipboard);
    EXPECT_EQ(state->received_count, 0u);
    EXPECT_EQ(state->listener_generation, 0u);
    EXPECT_EQ(state->adapters.size(), 1u);
}

TEST(LogQueue, TakeReturnsLinesInArrivalOrderAndEmptiesTheQueue) {
    auto state = make_state();
    EXPECT_TRUE(take_log_lines(*state).empty());
    push_log_line(*state, "one");
    push_log_line(*state, "two");
    EXPECT_EQ(take_log_lines(*state), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(take_log_lines(*state).empty());
}

TEST(LogQueue, ConcurrentPushesLoseNothing) {
    auto state = make_state();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&state, t] {
            for (int i = 0; i < 500; ++i) push_log_line(*state, std::to_string(t * 1000 + i));
        });
    }
    size_t taken = 0;
    while (taken < 2000) {
        taken += take_log_lines(*state).size();
        if (taken < 2000) std::this_thread::yield();
    }
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(taken, 2000u);
}

TEST(LogQueue, HeadlessOutputPrintsWholeLinesAndKeepsNothing) {
    auto state = make_state();
    std::FILE* output = std::tmpfile();
    ASSERT_NE(output, nullptr);
    state->log_output = output;
    push_log_line(*state, "[10:00:00] [EAN-13] 123 (95% - Received)");
    push_log_line(*state, "second");
    EXPECT_TRUE(take_log_lines(*state).empty());

    std::rewind(output);
    char buffer[256] = {};
    size_t n = std::fread(buffer, 1, sizeof buffer - 1, output);
    std::fclose(output);
    EXPECT_EQ(std::string(buffer, n), "[10:00:00] [EAN-13] 123 (95% - Received)\nsecond\n");
}

TEST(StatusLine, ShowsPortAndCount) {
    auto state = make_state();
    EXPECT_EQ(status_line(*state), "Port 8080  |  0 scan(s)");
    state->received_count = 3;
    state->port = 9443;
    EXPECT_EQ(status_line(*state), "Port 9443  |  3 scan(s)");
}

TEST(LogThrottle, OneLinePerKeyPerInterval) {
    using namespace std::chrono_literals;
    LogThrottle throttle(10s);
    const auto start = LogThrottle::Clock::now();
    EXPECT_TRUE(throttle.allow("10.0.0.2", start));
    EXPECT_FALSE(throttle.allow("10.0.0.2", start + 9999ms)) << "within the interval";
    EXPECT_TRUE(throttle.allow("10.0.0.3", start + 1s)) << "each key has its own interval";
    EXPECT_TRUE(throttle.allow("10.0.0.2", start + 10s)) << "the interval is over";
    EXPECT_FALSE(throttle.allow("10.0.0.2", start + 19s))
        << "counted from the last line let through";

    // Many keys: old ones are forgotten, recent ones still held back.
    for (int i = 0; i < 5000; ++i) {
        EXPECT_TRUE(throttle.allow("key " + std::to_string(i), start + 30s));
    }
    EXPECT_FALSE(throttle.allow("key 0", start + 31s));
    EXPECT_TRUE(throttle.allow("10.0.0.3", start + 31s));
}

}  // namespace
