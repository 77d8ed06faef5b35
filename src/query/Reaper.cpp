#include "query/Reaper.h"

#include <atomic>
#include <exception>
#include <thread>

namespace {
std::atomic<int> running { 0 };
}

void Reaper::post(std::function<void()> job)
{
    ++running;
    std::thread([job = std::move(job)]() mutable {
        // What a cleanup raises has nobody left to tell: the object it cleaned up is gone
        // either way.
        try {
            job();
        } catch (...) { }
        job = nullptr; // what the job captured goes here too, not on the poster's thread
        --running;
    }).detach();
}

int Reaper::pending()
{
    return running.load();
}
