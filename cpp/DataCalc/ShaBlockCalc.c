/*
 * ShaBlockCalc.c
 *
 * Description:
 *   The SHA-256 and SHA-1 compression functions of FIPS 180-4 in
 *   portable C, and the SHA-256 round constants.
 *
 *   All word arithmetic is done on uint32_t, so that rotations and
 *   additions wrap as the standard requires instead of overflowing a
 *   signed type. The SZ_INT arrays are read and written through
 *   uint32_t pointers, which the aliasing rules allow for the unsigned
 *   variant of a type.
 */
#include "ShaBlockCalc.h"

#include <string.h>

#define ROTL(x, n) (((x) << (n)) | ((x) >> (32 - (n))))
#define ROTR(x, n) (((x) >> (n)) | ((x) << (32 - (n))))

const uint32_t ShaBlockCalc_k256[64] = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u,
    0x3956C25Bu, 0x59F111F1u, 0x923F82A4u, 0xAB1C5ED5u,
    0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u,
    0x72BE5D74u, 0x80DEB1FEu, 0x9BDC06A7u, 0xC19BF174u,
    0xE49B69C1u, 0xEFBE4786u, 0x0FC19DC6u, 0x240CA1CCu,
    0x2DE92C6Fu, 0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu,
    0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u,
    0xC6E00BF3u, 0xD5A79147u, 0x06CA6351u, 0x14292967u,
    0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu, 0x53380D13u,
    0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u,
    0xA2BFE8A1u, 0xA81A664Bu, 0xC24B8B70u, 0xC76C51A3u,
    0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u,
    0x19A4C116u, 0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u,
    0x391C0CB3u, 0x4ED8AA4Au, 0x5B9CCA4Fu, 0x682E6FF3u,
    0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u,
    0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u, 0xC67178F2u
};

/*
 * ShaBlockCalc_sha256
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
SZ_T ShaBlockCalc_sha256(SZ_INT *dp, SZ_INT *rp)
{
    uint32_t *w = (uint32_t *)dp;
    uint32_t *r = (uint32_t *)rp;
    const uint32_t *k = ShaBlockCalc_k256;
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

/*
 * ShaBlockCalc_sha1
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
SZ_T ShaBlockCalc_sha1(SZ_INT *dp, SZ_INT *rp)
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
