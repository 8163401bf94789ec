// Shared by the XSVF player tests: files written from built bytes, a
// bounded wait for code that must not hang, and a bounded run to the end.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "support/svf_testutil.h"
#include "support/xsvf_bytes.h"
#include "xsvf/xsvf.h"

namespace xsvftest {

constexpr auto Limit = std::chrono::seconds(20);

// Runs Body on a thread of its own and waits at most Limit; a body that
// does not return fails the test (and is left behind, so the test ends).
inline void WithinLimit(const std::function<void()>& Body)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([Body, done] {
        try {
            Body();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    }).detach();
    ASSERT_EQ(finished.wait_for(Limit), std::future_status::ready) << "did not end in time";
    finished.get();
}

// Polls a started player until its run has ended, at most Limit.
inline FileStatus RunToEnd(TJtagFile& Player)
{
    const auto end = std::chrono::steady_clock::now() + Limit;
    FileStatus s;
    while ((s = Player.GetStatus()) == FileStatus::Running) {
        if (std::chrono::steady_clock::now() > end) {
            ADD_FAILURE() << "the run did not end in time";
            Player.Stop();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return s;
}

// The message raised by Body, or "" when none.
inline std::string RaisedBy(const std::function<void()>& Body)
{
    try {
        Body();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

} // namespace xsvftest
