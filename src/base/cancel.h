// Stopping long work early: the thread that started it raises a flag, and the work, which
// checks the flag of its own thread between steps, gives up and returns what it has.
#pragma once

#include <atomic>

namespace vorn {

// Raised once, from any thread; read by the work it was handed to.
class CancelFlag {
public:
    void cancel() { m_raised.store(true, std::memory_order_relaxed); }
    bool raised() const { return m_raised.load(std::memory_order_relaxed); }
    void reset() { m_raised.store(false, std::memory_order_relaxed); }

private:
    std::atomic<bool> m_raised{false};
};

namespace detail {
inline thread_local const CancelFlag *t_cancelFlag = nullptr;
} // namespace detail

// The flag this thread's work checks, or null: a helper thread takes it over with a scope.
inline const CancelFlag *currentCancelFlag()
{
    return detail::t_cancelFlag;
}

// Makes `flag` (may be null: none) the one that the calling thread's work checks while the
// scope lives. Scopes nest; the inner one wins until it ends.
class CancelScope {
public:
    explicit CancelScope(const CancelFlag *flag) : m_outer(detail::t_cancelFlag)
    {
        detail::t_cancelFlag = flag;
    }
    ~CancelScope() { detail::t_cancelFlag = m_outer; }
    CancelScope(const CancelScope &) = delete;
    CancelScope &operator=(const CancelScope &) = delete;

private:
    const CancelFlag *m_outer;
};

// True when the work on this thread has been asked to stop. Cheap enough for every row of a
// picture; false on a thread without a scope.
inline bool cancelRequested()
{
    const CancelFlag *flag = detail::t_cancelFlag;
    return flag && flag->raised();
}

} // namespace vorn
