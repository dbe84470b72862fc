// What a device or an engine said, in order: its thread adds, the test waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace vorn::test {

template<typename Event> class Said {
public:
    void add(Event e, int32_t wParam = 0)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_said.push_back({e, wParam});
        m_changed.notify_all();
    }
    static void callback(void *instance, Event e) { static_cast<Said *>(instance)->add(e); }

    // Waits up to `timeout` until `e` has come `count` times: how often it came and what the
    // latest said (-1: it never came).
    std::pair<int, int32_t> waitFor(Event e, int count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::pair<int, int32_t> seen;
        m_changed.wait_for(lock, timeout, [&] {
            seen = {0, -1};
            for (const auto &[event, wParam] : m_said)
                if (event == e)
                    seen = {seen.first + 1, wParam};
            return seen.first >= count;
        });
        return seen;
    }
    int count(Event e) { return waitFor(e, 0).first; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<Event, int32_t>> m_said;
};

} // namespace vorn::test
