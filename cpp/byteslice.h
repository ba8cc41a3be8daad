#ifndef BYTESLICE_H
#define BYTESLICE_H

#include <QByteArray>

#include <cstring>
#include <utility>

// Bytes inside an array that they keep alive, so that a frame's resources need not be
// copied one by one as it is decoded. No QByteArray (Qt 5 or 6) can share part of
// another's bytes, so toByteArray() copies, unless the slice is the whole array.
class ByteSlice
{
public:
    ByteSlice() = default;
    // The whole of bytes.
    ByteSlice(const QByteArray &bytes)
        : m_block(bytes)
        , m_size(bytes.size())
    {
    }
    ByteSlice(QByteArray &&bytes)
        : m_block(std::move(bytes))
        , m_size(m_block.size())
    {
    }
    // size bytes of block from offset, all within it; block must own its bytes
    // (not fromRawData), or they are not kept alive.
    ByteSlice(const QByteArray &block, qsizetype offset, qsizetype size)
        : m_block(block)
        , m_offset(offset)
        , m_size(size)
    {
    }

    const char *constData() const { return m_block.constData() + m_offset; }
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    bool isWhole() const { return m_offset == 0 && m_size == m_block.size(); }
    // Empty bytes give a null array, as the decoder always has.
    QByteArray toByteArray() const
    {
        if (isWhole())
            return m_block;
        return m_size ? QByteArray(constData(), int(m_size)) : QByteArray();
    }

    friend bool operator==(const ByteSlice &a, const ByteSlice &b)
    {
        return a.m_size == b.m_size && std::memcmp(a.constData(), b.constData(), size_t(a.m_size)) == 0;
    }
    friend bool operator!=(const ByteSlice &a, const ByteSlice &b) { return !(a == b); }

private:
    QByteArray m_block;
    qsizetype m_offset = 0;
    qsizetype m_size = 0;
};

Q_DECLARE_TYPEINFO(ByteSlice, Q_MOVABLE_TYPE);

#endif // BYTESLICE_H
