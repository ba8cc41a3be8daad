/*
 * DigestAbsorb.h
 *
 * Description:
 *   The absorbing and padding that MD5, SHA-1 and SHA-256 have in
 *   common, for the calculators' own .c files only: no public header
 *   includes this one, and nothing outside cpp/DataCalc should.
 *
 *   The three algorithms take the message in 64-byte blocks of 16
 *   32-bit words, pad it with one 1 bit, zeros and the length in bits
 *   as 64 bits, and differ, apart from their block functions, only in
 *   byte order: MD5 reads words and writes the length and the digest
 *   little-endian, SHA-1 and SHA-256 big-endian. The routines here take
 *   the block function and the byte order as parameters.
 *
 *   They are static inline, and each calculator calls each of them
 *   once, so the compiler copies them into the calculator and folds the
 *   byte order, the digest size and, where it is fixed, the block
 *   function into it: the shared code costs no call and no test per
 *   word or block. GCC and Clang are told to inline them always
 *   (DIGESTABSORB_INLINE), so that this holds at every optimisation
 *   level: otherwise GCC at -Os keeps the word loader as a function
 *   called for every word, and at -O2 and -O3 it inlines the routine
 *   only after its early loop passes have run on the unfolded code
 *   (MD5's whole-block loop then comes out vectorised with a run-time
 *   overlap test instead of unrolled).
 *
 *   All word arithmetic is done on uint32_t, so that rotations and
 *   additions wrap as the algorithms require instead of overflowing a
 *   signed type. The SZ_INT arrays of the record are read and written
 *   through uint32_t pointers, which the aliasing rules allow for the
 *   unsigned variant of a type.
 */
#ifndef ZELKO_DIGESTABSORB_H
#define ZELKO_DIGESTABSORB_H

#include "DigestStatus.h"
#include "SizeDef.h"

#include <string.h>

#if defined(__GNUC__)
#define DIGESTABSORB_INLINE static inline __attribute__((always_inline))
#else
#define DIGESTABSORB_INLINE static inline
#endif

/* The most words a digest has (SHA-256). */
#define DIGESTABSORB_MAX_WORDS 8

/*
 * Where a calculator's record keeps what the routines read and write,
 * and how its algorithm arranges it. The fields point into the record
 * and carry the names of the record's fields.
 */
typedef struct _DigestAbsorb {
    SZ_CHAR *Value;       /* digest of the input so far: words * 4 bytes */
    SZ_INT *DwordBufBytes; /* bytes (0..63) in the unfinished block */
    SZ_INT *ByteNumLo;    /* bytes absorbed, low 32 bits */
    SZ_INT *ByteNumHi;    /* bytes absorbed, high 32 bits */
    SZ_INT *reg;          /* chaining value; the first words of it in use */
    SZ_INT *DwordBuf;     /* unfinished block, 16 words, zero-filled */
    SZ_INT *Padding;      /* working block as the block function takes it */
    int words;            /* words of the digest: 4, 5 or 8 */
    int bigEndian;        /* 1: big-endian words and length (SHA); 0: little-endian (MD5) */
} DigestAbsorb;

/*
 * DigestAbsorb_shift
 *
 * Description:
 *   Where byte i of a word sits in the word.
 *
 * Parameters:
 *   i: [in]
 *     The byte, 0..3, in the order of the message.
 *   bigEndian: [in]
 *     The byte order of the algorithm.
 *
 * Returns:
 *   The shift that puts the byte in place.
 */
DIGESTABSORB_INLINE unsigned DigestAbsorb_shift(uint32_t i, int bigEndian)
{
    return bigEndian ? 24u - 8u * i : 8u * i;
}

/*
 * DigestAbsorb_load
 *
 * Description:
 *   Reads the next word of a message.
 *
 * Parameters:
 *   in: [in]
 *     Four bytes of the message.
 *   bigEndian: [in]
 *     The byte order of the algorithm.
 *
 * Returns:
 *   The word.
 */
DIGESTABSORB_INLINE uint32_t DigestAbsorb_load(const unsigned char *in, int bigEndian)
{
    if (bigEndian)
        return (uint32_t)in[0] << 24 | (uint32_t)in[1] << 16 | (uint32_t)in[2] << 8 | (uint32_t)in[3];
    return (uint32_t)in[0] | (uint32_t)in[1] << 8 | (uint32_t)in[2] << 16 | (uint32_t)in[3] << 24;
}

/*
 * DigestAbsorb_store
 *
 * Description:
 *   Writes a word of the digest.
 *
 * Parameters:
 *   out: [out]
 *     Room for four bytes.
 *   w: [in]
 *     The word.
 *   bigEndian: [in]
 *     The byte order of the algorithm.
 */
DIGESTABSORB_INLINE void DigestAbsorb_store(unsigned char *out, uint32_t w, int bigEndian)
{
#if defined(__GNUC__) && defined(__BYTE_ORDER__)
    /* One swap and one store: written byte by byte, the digest's words
       come out of GCC's vectoriser as a long run of shuffles. */
    if (bigEndian != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__))
        w = __builtin_bswap32(w);
    memcpy(out, &w, sizeof w);
#else
    uint32_t i;

    for (i = 0; i < 4; i++)
        out[i] = (unsigned char)(w >> DigestAbsorb_shift(i, bigEndian));
#endif
}

/*
 * DigestAbsorb_reset
 *
 * Description:
 *   Starts a new message. Value is left alone so that the digest of the
 *   previous message stays readable until the next calculate call. The
 *   unfinished block must be zero because bytes are OR-ed into it. Of
 *   the working block only the 16 block words are cleared; any words
 *   behind them are scratch space that every compression rewrites.
 *
 * Parameters:
 *   f: [in]
 *     The record's fields.
 *   h0: [in]
 *     The algorithm's initial chaining value, f.words words.
 *
 * Returns:
 *   DIGESTCALC_SUCCESS.
 */
DIGESTABSORB_INLINE SZ_T DigestAbsorb_reset(DigestAbsorb f, const uint32_t *h0)
{
    memcpy(f.reg, h0, (size_t)f.words * sizeof *f.reg);
    *f.DwordBufBytes = 0;
    *f.ByteNumLo = 0;
    *f.ByteNumHi = 0;
    memset(f.DwordBuf, 0, 16 * sizeof *f.DwordBuf);
    memset(f.Padding, 0, 16 * sizeof *f.Padding);
    return DIGESTCALC_SUCCESS;
}

/*
 * DigestAbsorb_calculate
 *
 * Description:
 *   Absorbs dl more bytes and writes the digest of all input so far to
 *   Value. The padding is applied to the working block and a copy of
 *   the chaining value only, so the record stays ready for more input.
 *   The limit is 2^61 bytes because the padded length field holds the
 *   count in bits in 64 bits; it is checked before anything is stored,
 *   so a refused call leaves the record as it was.
 *
 * Parameters:
 *   f: [in]
 *     The record's fields; the record initialised by reset.
 *   block: [in]
 *     The block function: compresses the 16 words at its first
 *     argument into the chaining value at its second, which holds
 *     f.words words; the first argument is f.Padding.
 *   blocks: [in]
 *     NULL, or a function that compresses its third argument's number
 *     of whole blocks, read straight from the message bytes at its
 *     second, into the chaining value at its first, as packing each
 *     into f.Padding and calling block would. Whole blocks go to it
 *     when given: the working block's 16 words end the same either
 *     way, since the unfinished block is written over them afterwards.
 *   dp: [in]
 *     The bytes to absorb; not read when dl is 0.
 *   dl: [in]
 *     Number of bytes at dp.
 *
 * Returns:
 *   DIGESTCALC_SUCCESS, or DIGESTCALC_TOO_LONG (record unchanged) if
 *   the total would reach 2^61 bytes or dl is negative.
 */
DIGESTABSORB_INLINE SZ_T DigestAbsorb_calculate(DigestAbsorb f, SZ_T (*block)(SZ_INT *, SZ_INT *),
                                               void (*blocks)(SZ_INT *, const unsigned char *, size_t),
                                               SZ_CHAR *dp, SZ_T dl)
{
    const int be = f.bigEndian;
    const unsigned char *in = (const unsigned char *)dp;
    uint32_t *blk = (uint32_t *)f.Padding;
    unsigned char *out = (unsigned char *)f.Value;
    unsigned long rem;
    uint32_t oldLo, lo, hi, n, i;
    SZ_INT h[DIGESTABSORB_MAX_WORDS];

    if (dl < 0)
        return DIGESTCALC_TOO_LONG;
    rem = (unsigned long)dl;

    /* Two shifts of 16: a single shift by 32 is undefined for a 32-bit long. */
    oldLo = (uint32_t)*f.ByteNumLo;
    lo = oldLo + (uint32_t)(rem & 0xFFFFFFFFul);
    hi = (uint32_t)*f.ByteNumHi + (uint32_t)((rem >> 16) >> 16) + (lo < oldLo);
    if (hi > 0x1FFFFFFFu)
        return DIGESTCALC_TOO_LONG;
    *f.ByteNumLo = (SZ_INT)lo;
    *f.ByteNumHi = (SZ_INT)hi;

    memcpy(f.Padding, f.DwordBuf, 16 * sizeof *f.DwordBuf);

    /* Complete blocks are compressed into the record's chaining value.
       Whole words go in at once; a word's first byte overwrites what an
       earlier block left there, later bytes are OR-ed in. */
    n = (uint32_t)*f.DwordBufBytes;
    while (rem > 0) {
        if (n == 0 && rem >= 64) {
            if (blocks) {
                /* Every whole block at once, straight from the input. */
                const size_t whole = (size_t)(rem / 64);
                blocks(f.reg, in, whole);
                in += 64 * whole;
                rem -= 64 * (unsigned long)whole;
                continue;
            }
            /* A whole block: the same words as below, without the bookkeeping. */
            for (i = 0; i < 16; i++, in += 4)
                blk[i] = DigestAbsorb_load(in, be);
            rem -= 64;
            block(f.Padding, f.reg);
            continue;
        }
        if ((n & 3u) == 0 && rem >= 4) {
            blk[n >> 2] = DigestAbsorb_load(in, be);
            in += 4;
            n += 4;
            rem -= 4;
        } else {
            uint32_t b = (uint32_t)*in++ << DigestAbsorb_shift(n & 3u, be);
            blk[n >> 2] = (n & 3u) ? (blk[n >> 2] | b) : b;
            n++;
            rem--;
        }
        if (n == 64) {
            block(f.Padding, f.reg);
            n = 0;
        }
    }
    for (i = (n + 3) >> 2; i < 16; i++)
        blk[i] = 0;

    memcpy(f.DwordBuf, f.Padding, 16 * sizeof *f.DwordBuf);
    *f.DwordBufBytes = (SZ_INT)n;
    memcpy(h, f.reg, (size_t)f.words * sizeof *h);

    /* From here on only the working block and the copy h of the chaining
       value are touched. The length goes into the last two words, its low
       word first where the words are little-endian. */
    blk[n >> 2] |= 0x80u << DigestAbsorb_shift(n & 3u, be);
    if (n >= 56) {
        block(f.Padding, h);
        memset(f.Padding, 0, 16 * sizeof *f.Padding);
    }
    blk[be ? 15 : 14] = lo << 3;
    blk[be ? 14 : 15] = hi << 3 | lo >> 29;
    block(f.Padding, h);

    for (i = 0; i < (uint32_t)f.words; i++)
        DigestAbsorb_store(out + 4 * i, (uint32_t)h[i], be);
    return DIGESTCALC_SUCCESS;
}

#endif /* ZELKO_DIGESTABSORB_H */
