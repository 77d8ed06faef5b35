#pragma once

#include <functional>
#include <memory>

// Runs the calls that may wait on a server for as long as it likes, off the UI thread: the
// cancel of an abandoned statement, the free of a statement or result nobody shows any more,
// the disconnect of a connection nobody uses. Each call gets a thread of its own, so that one
// stuck on a silent server never holds up another. Any thread may post; nothing waits for them.
namespace Reaper {

void post(std::function<void()> job);

// Lets go of `owned` on a reaper thread (the last owner of a shared one frees it there).
template <typename T>
void dispose(std::unique_ptr<T> owned)
{
    if (!owned)
        return;
    auto holder = std::make_shared<std::unique_ptr<T>>(std::move(owned));
    post([holder] { holder->reset(); });
}

template <typename T>
void dispose(std::shared_ptr<T> shared)
{
    if (!shared)
        return;
    auto holder = std::make_shared<std::shared_ptr<T>>(std::move(shared));
    post([holder] { holder->reset(); });
}

// Jobs posted and not yet ended.
int pending();

} // namespace Reaper
