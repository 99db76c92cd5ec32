#pragma once

#include <exception>
#include <functional>

// The one exception boundary. Every handler that the framework dispatches from
// Qt's event loop runs through runGuarded: an escaping EAbort is dropped, any
// other exception goes to handleException (message shown once), and nothing
// ever reaches Qt. Returns false when the handler ended by an exception.
bool runGuarded(const std::function<void()> &handler) noexcept;

// The host's standard handling of an exception that left a handler.
void handleException(std::exception_ptr error) noexcept;
