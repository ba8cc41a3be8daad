/*
 * Sha256Calc.c
 *
 * Description:
 *   SHA-256 as defined by FIPS 180-4, absorbing input incrementally and
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
 *   it has them (ShaExtCalc); the results are the same either way. That
 *   block function keeps the message schedule in registers, so words
 *   16..63 of Padding keep what they held instead of the schedule.
 */
#include "Sha256Calc.h"
#include "ShaExtCalc.h"

#include <string.h>

#define ROTR(x, n) (((x) >> (n)) | ((x) << (32 - (n))))

#define K(x) ((SZ_INT)(x))

const SZ_INT Sha256Calc_k[64] = {
    K(0x428A2F98), K(0x71374491), K(0xB5C0FBCF), K(0xE9B5DBA5),
    K(0x3956C25B), K(0x59F111F1), K(0x923F82A4), K(0xAB1C5ED5),
    K(0xD807AA98), K(0x12835B01), K(0x243185BE), K(0x550C7DC3),
    K(0x72BE5D74), K(0x80DEB1FE), K(0x9BDC06A7), K(0xC19BF174),
    K(0xE49B69C1), K(0xEFBE4786), K(0x0FC19DC6), K(0x240CA1CC),
    K(0x2DE92C6F), K(0x4A7484AA), K(0x5CB0A9DC), K(0x76F988DA),
    K(0x983E5152), K(0xA831C66D), K(0xB00327C8), K(0xBF597FC7),
    K(0xC6E00BF3), K(0xD5A79147), K(0x06CA6351), K(0x14292967),
    K(0x27B70A85), K(0x2E1B2138), K(0x4D2C6DFC), K(0x53380D13),
    K(0x650A7354), K(0x766A0ABB), K(0x81C2C92E), K(0x92722C85),
    K(0xA2BFE8A1), K(0xA81A664B), K(0xC24B8B70), K(0xC76C51A3),
    K(0xD192E819), K(0xD6990624), K(0xF40E3585), K(0x106AA070),
    K(0x19A4C116), K(0x1E376C08), K(0x2748774C), K(0x34B0BCB5),
    K(0x391C0CB3), K(0x4ED8AA4A), K(0x5B9CCA4F), K(0x682E6FF3),
    K(0x748F82EE), K(0x78A5636F), K(0x84C87814), K(0x8CC70208),
    K(0x90BEFFFA), K(0xA4506CEB), K(0xBEF9A3F7), K(0xC67178F2)
};

static const uint32_t Sha256Calc_h0[8] = {
    0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
    0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u
};

/*
 * Sha256Calc_init
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
SZ_T Sha256Calc_init(Sha256Calc *t)
{
    return Sha256Calc_reset(t);
}

/*
 * Sha256Calc_reset
 *
 * Description:
 *   Starts a new message. Value is left alone so that the digest of the
 *   previous message stays readable until the next calculate call. The
 *   unfinished block must be zero because bytes are OR-ed into it.
 *
 * Parameters:
 *   t: [in/out]
 *     The record to reset.
 *
 * Returns:
 *   0.
 */
SZ_T Sha256Calc_reset(Sha256Calc *t)
{
    int i;

    memcpy(t->reg, Sha256Calc_h0, sizeof t->reg);
    t->DwordBufBytes = 0;
    t->ByteNumLo = 0;
    t->ByteNumHi = 0;
    memset(t->DwordBuf, 0, sizeof t->DwordBuf);
    /* Only the block; words 16..63 are rewritten by every compression. */
    for (i = 0; i < 16; i++)
        t->Padding[i] = 0;
    return 0;
}

/*
 * Sha256Calc_uninit
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
SZ_T Sha256Calc_uninit(Sha256Calc *t)
{
    (void)t;
    return 0;
}

/*
 * Sha256Calc_calculate
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
 *   0, or SHA256CALC_TOO_LONG (record unchanged) if the total would
 *   reach 2^61 bytes or dl is negative.
 */
SZ_T Sha256Calc_calculate(Sha256Calc *t, SZ_CHAR *dp, SZ_T dl)
{
    const unsigned char *in = (const unsigned char *)dp;
    uint32_t *blk = (uint32_t *)t->Padding;
    unsigned char *out = (unsigned char *)t->Value;
    unsigned long rem;
    uint32_t oldLo, lo, hi, n, i;
    SZ_INT h[8];
    /* Chosen once per call; both kinds give the same chaining values. */
#if SHAEXTCALC_X86
    SZ_T (*const block)(SZ_INT *, SZ_INT *) =
        ShaExtCalc_inUse() ? ShaExtCalc_sha256Block : Sha256Calc_calcBlock;
#else
    SZ_T (*const block)(SZ_INT *, SZ_INT *) = Sha256Calc_calcBlock;
#endif

    if (dl < 0)
        return SHA256CALC_TOO_LONG;
    rem = (unsigned long)dl;

    /* Two shifts of 16: a single shift by 32 is undefined for a 32-bit long. */
    oldLo = (uint32_t)t->ByteNumLo;
    lo = oldLo + (uint32_t)(rem & 0xFFFFFFFFul);
    hi = (uint32_t)t->ByteNumHi + (uint32_t)((rem >> 16) >> 16) + (lo < oldLo);
    if (hi > 0x1FFFFFFFu)
        return SHA256CALC_TOO_LONG;
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
        for (i = 0; i < 16; i++)
            blk[i] = 0;
    }
    blk[14] = hi << 3 | lo >> 29;
    blk[15] = lo << 3;
    block(t->Padding, h);

    for (i = 0; i < 8; i++) {
        uint32_t w = (uint32_t)h[i];
        out[4 * i] = (unsigned char)(w >> 24);
        out[4 * i + 1] = (unsigned char)(w >> 16);
        out[4 * i + 2] = (unsigned char)(w >> 8);
        out[4 * i + 3] = (unsigned char)w;
    }
    return 0;
}

/*
 * Sha256Calc_calcBlock
 *
 * Description:
 *   One application of the SHA-256 compression function. The schedule
 *   is expanded in place behind the block so that no second 256-byte
 *   buffer is needed on the stack.
 *
 * Parameters:
 *   dp: [in/out]
 *     64 words: the block as 16 big-endian words, followed by room for
 *     the schedule (words 16..63 are overwritten).
 *   rp: [in/out]
 *     The 8-word chaining value, updated in place.
 *
 * Returns:
 *   0.
 */
SZ_T Sha256Calc_calcBlock(SZ_INT *dp, SZ_INT *rp)
{
    uint32_t *w = (uint32_t *)dp;
    uint32_t *r = (uint32_t *)rp;
    const uint32_t *k = (const uint32_t *)Sha256Calc_k;
    uint32_t a, b, c, d, e, f, g, h, t1, t2;
    int i;

    for (i = 16; i < 64; i++) {
        uint32_t s0 = ROTR(w[i - 15], 7) ^ ROTR(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = ROTR(w[i - 2], 17) ^ ROTR(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }

    a = r[0]; b = r[1]; c = r[2]; d = r[3];
    e = r[4]; f = r[5]; g = r[6]; h = r[7];
    for (i = 0; i < 64; i++) {
        t1 = h + (ROTR(e, 6) ^ ROTR(e, 11) ^ ROTR(e, 25))
               + ((e & f) ^ (~e & g)) + k[i] + w[i];
        t2 = (ROTR(a, 2) ^ ROTR(a, 13) ^ ROTR(a, 22))
           + ((a & b) ^ (a & c) ^ (b & c));
        h = g; g = f; f = e; e = d + t1;
        d = c; c = b; b = a; a = t1 + t2;
    }
    r[0] += a; r[1] += b; r[2] += c; r[3] += d;
    r[4] += e; r[5] += f; r[6] += g; r[7] += h;
    return 0;
}
