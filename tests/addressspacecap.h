#ifndef ADDRESSSPACECAP_H
#define ADDRESSSPACECAP_H

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#include <cstdio>
#endif

// Caps the address space a little above its current use while in scope. With
// overcommit a reservation sized by a length field would pass unnoticed; under
// the cap it fails with bad_alloc. Does nothing where it cannot be set.
class AddressSpaceCap
{
public:
    explicit AddressSpaceCap(qint64 headroom)
    {
#ifdef Q_OS_LINUX
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
#ifdef Q_OS_LINUX
        if (m_active)
            setrlimit(RLIMIT_AS, &m_old);
#endif
    }
    AddressSpaceCap(const AddressSpaceCap &) = delete;
    AddressSpaceCap &operator=(const AddressSpaceCap &) = delete;

private:
#ifdef Q_OS_LINUX
    rlimit m_old = {};
#endif
    bool m_active = false;
};

#endif // ADDRESSSPACECAP_H
