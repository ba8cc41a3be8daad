/*
 * Sha1Calc.c
 *
 * Description:
 *   SHA-1 as defined by FIPS 180-4, absorbing input incrementally and
 *   leaving the digest of everything so far in the record after each
 *   call.
 *
 *   All word arithmetic is done on uint32_t, so that rotations and
 *   additions wrap as the standard requires instead of overflowing a
 *   signed type. The SZ_INT arrays of the record are read and written
 *   through uint32_t pointers, which the aliasing rules allow for the
 *   unsigned variant of a type.
 *
 *   Complete blocks are compressed with the CPU's SHA instructions where
 *   it has them (ShaExtCalc); the results are the same either way.
 */
#include "Sha1Calc.h"
#include "ShaExtCalc.h"

#include <string.h>

#define ROTL(x, n) (((x) << (n)) | ((x) >> (32 - (n))))

static const uint32_t Sha1Calc_h0[5] = {
    0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u
};

/*
 * Sha1Calc_init
 *
 * Description:
 *   Prepares a fresh record. Kept apart from reset so that callers have
 *   a matching pair with uninit, even though both do the same today.
 *
 * Parameters:
 *   t: [out]
 *     The record to prepare.
 *
 * Returns:
 *   0.
 */
SZ_T Sha1Calc_init(Sha1Calc *t)
{
    return Sha1Calc_reset(t);
}

/*
 * Sha1Calc_reset
 *
 * Description:
 *   Starts a new message. Value is left alone so that the digest of the
 *   previous message stays readable until the next calculate call. The
 *   unfinished block must be zero because bytes are OR-ed into it. The
 *   sixth chaining word is unused and cleared only to keep the record
 *   deterministic.
 *
 * Parameters:
 *   t: [in/out]
 *     The record to reset.
 *
 * Returns:
 *   0.
 */
SZ_T Sha1Calc_reset(Sha1Calc *t)
{
    memcpy(t->reg, Sha1Calc_h0, sizeof Sha1Calc_h0);
    t->reg[5] = 0;
    t->DwordBufBytes = 0;
    t->ByteNumLo = 0;
    t->ByteNumHi = 0;
    memset(t->DwordBuf, 0, sizeof t->DwordBuf);
    memset(t->Padding, 0, sizeof t->Padding);
    return 0;
}

/*
 * Sha1Calc_uninit
 *
 * Description:
 *   Ends the use of a record. The record holds no resources, so there
 *   is nothing to release; the call exists for symmetry with init.
 *
 * Parameters:
 *   t: [in]
 *     The record no longer needed.
 *
 * Returns:
 *   0.
 */
SZ_T Sha1Calc_uninit(Sha1Calc *t)
{
    (void)t;
    return 0;
}

/*
 * Sha1Calc_calculate
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
 *   t: [in/out]
 *     The record, initialised by init or reset.
 *   dp: [in]
 *     The bytes to absorb; not read when dl is 0.
 *   dl: [in]
 *     Number of bytes at dp.
 *
 * Returns:
 *   0, or SHA1CALC_TOO_LONG (record unchanged) if the total would
 *   reach 2^61 bytes or dl is negative.
 */
SZ_T Sha1Calc_calculate(Sha1Calc *t, SZ_CHAR *dp, SZ_T dl)
{
    const unsigned char *in = (const unsigned char *)dp;
    uint32_t *blk = (uint32_t *)t->Padding;
    unsigned char *out = (unsigned char *)t->Value;
    unsigned long rem;
    uint32_t oldLo, lo, hi, n, i;
    SZ_INT h[6];
    /* Chosen once per call; both kinds give the same chaining values. */
#if SHAEXTCALC_X86
    SZ_T (*const block)(SZ_INT *, SZ_INT *) =
        ShaExtCalc_inUse() ? ShaExtCalc_sha1Block : Sha1Calc_calcBlock;
#else
    SZ_T (*const block)(SZ_INT *, SZ_INT *) = Sha1Calc_calcBlock;
#endif

    if (dl < 0)
        return SHA1CALC_TOO_LONG;
    rem = (unsigned long)dl;

    /* Two shifts of 16: a single shift by 32 is undefined for a 32-bit long. */
    oldLo = (uint32_t)t->ByteNumLo;
    lo = oldLo + (uint32_t)(rem & 0xFFFFFFFFul);
    hi = (uint32_t)t->ByteNumHi + (uint32_t)((rem >> 16) >> 16) + (lo < oldLo);
    if (hi > 0x1FFFFFFFu)
        return SHA1CALC_TOO_LONG;
    t->ByteNumLo = (SZ_INT)lo;
    t->ByteNumHi = (SZ_INT)hi;

    memcpy(t->Padding, t->DwordBuf, sizeof t->DwordBuf);
    memcpy(h, t->reg, sizeof h);

    /* Whole words go in at once; a word's first byte overwrites what an
       earlier block left there, later bytes are OR-ed in. */
    n = (uint32_t)t->DwordBufBytes;
    while (rem > 0) {
        if (n == 0 && rem >= 64) {
            /* A whole block: the same words as below, without the bookkeeping. */
            for (i = 0; i < 16; i++, in += 4)
                blk[i] = (uint32_t)in[0] << 24 | (uint32_t)in[1] << 16
                       | (uint32_t)in[2] << 8 | (uint32_t)in[3];
            rem -= 64;
            block(t->Padding, h);
            continue;
        }
        if ((n & 3u) == 0 && rem >= 4) {
            blk[n >> 2] = (uint32_t)in[0] << 24 | (uint32_t)in[1] << 16
                        | (uint32_t)in[2] << 8 | (uint32_t)in[3];
            in += 4;
            n += 4;
            rem -= 4;
        } else {
            uint32_t b = (uint32_t)*in++ << (24 - 8 * (n & 3u));
            blk[n >> 2] = (n & 3u) ? (blk[n >> 2] | b) : b;
            n++;
            rem--;
        }
        if (n == 64) {
            block(t->Padding, h);
            n = 0;
        }
    }
    for (i = (n + 3) >> 2; i < 16; i++)
        blk[i] = 0;

    memcpy(t->DwordBuf, t->Padding, sizeof t->DwordBuf);
    t->DwordBufBytes = (SZ_INT)n;
    memcpy(t->reg, h, sizeof t->reg);

    /* From here on only the copies are touched. */
    blk[n >> 2] |= 0x80u << (24 - 8 * (n & 3u));
    if (n >= 56) {
        block(t->Padding, h);
        memset(t->Padding, 0, sizeof t->Padding);
    }
    blk[14] = hi << 3 | lo >> 29;
    blk[15] = lo << 3;
    block(t->Padding, h);

    for (i = 0; i < 5; i++) {
        uint32_t w = (uint32_t)h[i];
        out[4 * i] = (unsigned char)(w >> 24);
        out[4 * i + 1] = (unsigned char)(w >> 16);
        out[4 * i + 2] = (unsigned char)(w >> 8);
        out[4 * i + 3] = (unsigned char)w;
    }
    return 0;
}

/*
 * Sha1Calc_calcBlock
 *
 * Description:
 *   One application of the SHA-1 compression function. The schedule is
 *   kept as a rolling window of 16 words on the stack, which leaves the
 *   caller's block intact and needs no room behind it.
 *
 * Parameters:
 *   dp: [in]
 *     The block as 16 big-endian words.
 *   rp: [in/out]
 *     The chaining value (first 5 words), updated in place.
 *
 * Returns:
 *   0.
 */
SZ_T Sha1Calc_calcBlock(SZ_INT *dp, SZ_INT *rp)
{
    const uint32_t *m = (const uint32_t *)dp;
    uint32_t *r = (uint32_t *)rp;
    uint32_t w[16];
    uint32_t a, b, c, d, e, f, k, tmp;
    int i;

    memcpy(w, m, sizeof w);
    a = r[0]; b = r[1]; c = r[2]; d = r[3]; e = r[4];
    for (i = 0; i < 80; i++) {
        if (i >= 16) {
            /* W[i] from W[i-3], W[i-8], W[i-14], W[i-16], modulo 16. */
            tmp = w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15];
            w[i & 15] = ROTL(tmp, 1);
        }
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        tmp = ROTL(a, 5) + f + e + k + w[i & 15];
        e = d; d = c; c = ROTL(b, 30); b = a; a = tmp;
    }
    r[0] += a; r[1] += b; r[2] += c; r[3] += d; r[4] += e;
    return 0;
}
