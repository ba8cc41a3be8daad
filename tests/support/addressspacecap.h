#ifndef ADDRESSSPACECAP_H
#define ADDRESSSPACECAP_H

#include <QtGlobal>

// Sanitizer runtimes reserve terabytes of shadow address space up front, so any
// cap near the current use would fail every allocation: there the cap is off.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELKO_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ZELKO_SANITIZED_BUILD 1
#endif
#endif

#if defined(Q_OS_LINUX) && !defined(ZELKO_SANITIZED_BUILD)
#define ZELKO_ADDRESS_SPACE_CAP 1
#endif

#ifdef ZELKO_ADDRESS_SPACE_CAP
#include <sys/resource.h>
#include <unistd.h>
#include <cstdio>
#endif

// Caps the address space a little above its current use while in scope. With
// overcommit a reservation sized by a length field would pass unnoticed; under
// the cap it fails with bad_alloc. Does nothing where it cannot be set, nor in
// sanitizer builds.
class AddressSpaceCap
{
public:
    explicit AddressSpaceCap(qint64 headroom)
    {
#ifdef ZELKO_ADDRESS_SPACE_CAP
        unsigned long pages = 0;
        if (FILE *f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%lu", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        if (pages == 0 || getrlimit(RLIMIT_AS, &m_old) != 0)
            return;
        rlimit capped = m_old;
        capped.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + rlim_t(headroom);
        if (m_old.rlim_cur == RLIM_INFINITY || capped.rlim_cur < m_old.rlim_cur)
            m_active = setrlimit(RLIMIT_AS, &capped) == 0;
#else
        Q_UNUSED(headroom);
#endif
    }
    ~AddressSpaceCap()
    {
#ifdef ZELKO_ADDRESS_SPACE_CAP
        if (m_active)
            setrlimit(RLIMIT_AS, &m_old);
#endif
    }
    AddressSpaceCap(const AddressSpaceCap &) = delete;
    AddressSpaceCap &operator=(const AddressSpaceCap &) = delete;

private:
#ifdef ZELKO_ADDRESS_SPACE_CAP
    rlimit m_old = {};
#endif
    bool m_active = false;
};

#endif // ADDRESSSPACECAP_H
