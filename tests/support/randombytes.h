#ifndef RANDOMBYTES_H
#define RANDOMBYTES_H

#include <QByteArray>
#include <QRandomGenerator>

#include <cstring>

// Bytes from a seeded generator: the same on every run, whatever the machine.
inline QByteArray randomBytes(QRandomGenerator &rng, int size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int at = 0; at < size; at += 4) {
        const quint32 word = rng.generate();
        std::memcpy(out.data() + at, &word, size_t(qMin(4, size - at)));
    }
    return out;
}

inline QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator rng(seed);
    return randomBytes(rng, size);
}

#endif
