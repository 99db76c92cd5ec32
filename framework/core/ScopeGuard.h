#pragma once

#include "Guard.h"

#include <utility>

// Undoes what a handler set up (controls detached, a filter switched on, the
// busy window shown) on every way out, the failing ones included. The undo
// runs in a destructor, possibly while an exception is on its way out: one of
// its own goes to the standard handling instead of ending the program.
template<class F>
class [[nodiscard]] ScopeGuard
{
public:
    explicit ScopeGuard(F undo)
        : m_undo(std::move(undo))
    {
    }
    ~ScopeGuard()
    {
        if (!m_active)
            return;
        try {
            m_undo();
        } catch (...) {
            handleException(std::current_exception());
        }
    }
    ScopeGuard(const ScopeGuard &) = delete;
    ScopeGuard &operator=(const ScopeGuard &) = delete;

    // The undo is no longer wanted (the work was kept).
    void dismiss() { m_active = false; }

private:
    F m_undo;
    bool m_active = true;
};

template<class F>
ScopeGuard<F> onScopeExit(F undo)
{
    return ScopeGuard<F>(std::move(undo));
}
