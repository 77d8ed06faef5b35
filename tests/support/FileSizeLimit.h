#pragma once

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

// A disk that takes no more than `bytes` per file, for as long as the object lives: a write past
// it fails with EFBIG (the signal it would raise is ignored meanwhile). Whole process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        if (::getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
            std::abort();
        m_signal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_saved;
        small.rlim_cur = bytes;
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0)
            std::abort();
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_signal);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved {};
    void (*m_signal)(int) = nullptr;
};
