/*
 * Md5Calc.c
 *
 * Description:
 *   MD5 as defined by RFC 1321, absorbing input incrementally and
 *   leaving the digest of everything so far in the record after each
 *   call.
 *
 *   All word arithmetic is done on uint32_t, so that rotations and
 *   additions wrap as the algorithm requires instead of overflowing a
 *   signed type. The SZ_INT arrays of the record are read and written
 *   through uint32_t pointers, which the aliasing rules allow for the
 *   unsigned variant of a type. Words are little-endian throughout.
 *
 *   The absorbing and padding are those of SHA-1 and SHA-256 with the
 *   byte order turned round, and come from DigestAbsorb.h.
 */
#include "Md5Calc.h"
#include "DigestAbsorb.h"

#define ROTL(x, n) (((x) << (n)) | ((x) >> (32 - (n))))

static const uint32_t Md5Calc_h0[4] = {
    0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u
};

/* floor(abs(sin(i + 1)) * 2^32), i = 0..63. */
static const uint32_t Md5Calc_t[64] = {
    0xD76AA478u, 0xE8C7B756u, 0x242070DBu, 0xC1BDCEEEu,
    0xF57C0FAFu, 0x4787C62Au, 0xA8304613u, 0xFD469501u,
    0x698098D8u, 0x8B44F7AFu, 0xFFFF5BB1u, 0x895CD7BEu,
    0x6B901122u, 0xFD987193u, 0xA679438Eu, 0x49B40821u,
    0xF61E2562u, 0xC040B340u, 0x265E5A51u, 0xE9B6C7AAu,
    0xD62F105Du, 0x02441453u, 0xD8A1E681u, 0xE7D3FBC8u,
    0x21E1CDE6u, 0xC33707D6u, 0xF4D50D87u, 0x455A14EDu,
    0xA9E3E905u, 0xFCEFA3F8u, 0x676F02D9u, 0x8D2A4C8Au,
    0xFFFA3942u, 0x8771F681u, 0x6D9D6122u, 0xFDE5380Cu,
    0xA4BEEA44u, 0x4BDECFA9u, 0xF6BB4B60u, 0xBEBFBC70u,
    0x289B7EC6u, 0xEAA127FAu, 0xD4EF3085u, 0x04881D05u,
    0xD9D4D039u, 0xE6DB99E5u, 0x1FA27CF8u, 0xC4AC5665u,
    0xF4292244u, 0x432AFF97u, 0xAB9423A7u, 0xFC93A039u,
    0x655B59C3u, 0x8F0CCC92u, 0xFFEFF47Du, 0x85845DD1u,
    0x6FA87E4Fu, 0xFE2CE6E0u, 0xA3014314u, 0x4E0811A1u,
    0xF7537E82u, 0xBD3AF235u, 0x2AD7D2BBu, 0xEB86D391u
};

/*
 * Md5Calc_fields
 *
 * Description:
 *   The record as the routines of DigestAbsorb.h see it: a digest of
 *   4 words, little-endian words and length.
 *
 * Parameters:
 *   t: [in]
 *     The record.
 *
 * Returns:
 *   Where its fields are.
 */
static DigestAbsorb Md5Calc_fields(Md5Calc *t)
{
    DigestAbsorb f = {t->Value, &t->DwordBufBytes, &t->ByteNumLo, &t->ByteNumHi,
                      t->reg, t->DwordBuf, t->Padding, 4, 0};
    return f;
}

/*
 * Md5Calc_init
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
SZ_T Md5Calc_init(Md5Calc *t)
{
    return Md5Calc_reset(t);
}

/*
 * Md5Calc_reset
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
SZ_T Md5Calc_reset(Md5Calc *t)
{
    return DigestAbsorb_reset(Md5Calc_fields(t), Md5Calc_h0);
}

/*
 * Md5Calc_uninit
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
SZ_T Md5Calc_uninit(Md5Calc *t)
{
    (void)t;
    return 0;
}

/*
 * Md5Calc_calculate
 *
 * Description:
 *   Absorbs dl more bytes and writes the digest of all input so far to
 *   Value; the record stays ready for more input (DigestAbsorb_calculate).
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
 *   0, or MD5CALC_TOO_LONG (record unchanged) if the total would reach
 *   2^61 bytes or dl is negative.
 */
SZ_T Md5Calc_calculate(Md5Calc *t, SZ_CHAR *dp, SZ_T dl)
{
    return DigestAbsorb_calculate(Md5Calc_fields(t), Md5Calc_calcBlock, NULL, dp, dl);
}

/*
 * Md5Calc_calcBlock
 *
 * Description:
 *   One application of the MD5 compression function: four rounds of
 *   16 steps, each round with its own boolean function and its own
 *   order of reading the block's words.
 *
 * Parameters:
 *   dp: [in]
 *     The block as 16 little-endian words.
 *   rp: [in/out]
 *     The 4-word chaining value, updated in place.
 *
 * Returns:
 *   0.
 */
/* The four boolean functions, in forms that wait less for x, the newest
   word: G's two halves have no bit in common, so they can be added in
   separately and the one without x computed early. */
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) (((y) & ~(z)) + ((x) & (z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

/* Step i: word g of the block, shift s; written out so that every index is a constant. */
#define MD5_STEP(f, a, b, c, d, i, g, s)                      \
    (a) += f((b), (c), (d)) + x[(g)] + Md5Calc_t[(i)];        \
    (a) = ROTL((a), (s)) + (b)

SZ_T Md5Calc_calcBlock(SZ_INT *dp, SZ_INT *rp)
{
    const uint32_t *x = (const uint32_t *)dp;
    uint32_t *r = (uint32_t *)rp;
    uint32_t a = r[0], b = r[1], c = r[2], d = r[3];

    MD5_STEP(MD5_F, a, b, c, d, 0, 0, 7);    MD5_STEP(MD5_F, d, a, b, c, 1, 1, 12);
    MD5_STEP(MD5_F, c, d, a, b, 2, 2, 17);   MD5_STEP(MD5_F, b, c, d, a, 3, 3, 22);
    MD5_STEP(MD5_F, a, b, c, d, 4, 4, 7);    MD5_STEP(MD5_F, d, a, b, c, 5, 5, 12);
    MD5_STEP(MD5_F, c, d, a, b, 6, 6, 17);   MD5_STEP(MD5_F, b, c, d, a, 7, 7, 22);
    MD5_STEP(MD5_F, a, b, c, d, 8, 8, 7);    MD5_STEP(MD5_F, d, a, b, c, 9, 9, 12);
    MD5_STEP(MD5_F, c, d, a, b, 10, 10, 17); MD5_STEP(MD5_F, b, c, d, a, 11, 11, 22);
    MD5_STEP(MD5_F, a, b, c, d, 12, 12, 7);  MD5_STEP(MD5_F, d, a, b, c, 13, 13, 12);
    MD5_STEP(MD5_F, c, d, a, b, 14, 14, 17); MD5_STEP(MD5_F, b, c, d, a, 15, 15, 22);

    MD5_STEP(MD5_G, a, b, c, d, 16, 1, 5);   MD5_STEP(MD5_G, d, a, b, c, 17, 6, 9);
    MD5_STEP(MD5_G, c, d, a, b, 18, 11, 14); MD5_STEP(MD5_G, b, c, d, a, 19, 0, 20);
    MD5_STEP(MD5_G, a, b, c, d, 20, 5, 5);   MD5_STEP(MD5_G, d, a, b, c, 21, 10, 9);
    MD5_STEP(MD5_G, c, d, a, b, 22, 15, 14); MD5_STEP(MD5_G, b, c, d, a, 23, 4, 20);
    MD5_STEP(MD5_G, a, b, c, d, 24, 9, 5);   MD5_STEP(MD5_G, d, a, b, c, 25, 14, 9);
    MD5_STEP(MD5_G, c, d, a, b, 26, 3, 14);  MD5_STEP(MD5_G, b, c, d, a, 27, 8, 20);
    MD5_STEP(MD5_G, a, b, c, d, 28, 13, 5);  MD5_STEP(MD5_G, d, a, b, c, 29, 2, 9);
    MD5_STEP(MD5_G, c, d, a, b, 30, 7, 14);  MD5_STEP(MD5_G, b, c, d, a, 31, 12, 20);

    MD5_STEP(MD5_H, a, b, c, d, 32, 5, 4);   MD5_STEP(MD5_H, d, a, b, c, 33, 8, 11);
    MD5_STEP(MD5_H, c, d, a, b, 34, 11, 16); MD5_STEP(MD5_H, b, c, d, a, 35, 14, 23);
    MD5_STEP(MD5_H, a, b, c, d, 36, 1, 4);   MD5_STEP(MD5_H, d, a, b, c, 37, 4, 11);
    MD5_STEP(MD5_H, c, d, a, b, 38, 7, 16);  MD5_STEP(MD5_H, b, c, d, a, 39, 10, 23);
    MD5_STEP(MD5_H, a, b, c, d, 40, 13, 4);  MD5_STEP(MD5_H, d, a, b, c, 41, 0, 11);
    MD5_STEP(MD5_H, c, d, a, b, 42, 3, 16);  MD5_STEP(MD5_H, b, c, d, a, 43, 6, 23);
    MD5_STEP(MD5_H, a, b, c, d, 44, 9, 4);   MD5_STEP(MD5_H, d, a, b, c, 45, 12, 11);
    MD5_STEP(MD5_H, c, d, a, b, 46, 15, 16); MD5_STEP(MD5_H, b, c, d, a, 47, 2, 23);

    MD5_STEP(MD5_I, a, b, c, d, 48, 0, 6);   MD5_STEP(MD5_I, d, a, b, c, 49, 7, 10);
    MD5_STEP(MD5_I, c, d, a, b, 50, 14, 15); MD5_STEP(MD5_I, b, c, d, a, 51, 5, 21);
    MD5_STEP(MD5_I, a, b, c, d, 52, 12, 6);  MD5_STEP(MD5_I, d, a, b, c, 53, 3, 10);
    MD5_STEP(MD5_I, c, d, a, b, 54, 10, 15); MD5_STEP(MD5_I, b, c, d, a, 55, 1, 21);
    MD5_STEP(MD5_I, a, b, c, d, 56, 8, 6);   MD5_STEP(MD5_I, d, a, b, c, 57, 15, 10);
    MD5_STEP(MD5_I, c, d, a, b, 58, 6, 15);  MD5_STEP(MD5_I, b, c, d, a, 59, 13, 21);
    MD5_STEP(MD5_I, a, b, c, d, 60, 4, 6);   MD5_STEP(MD5_I, d, a, b, c, 61, 11, 10);
    MD5_STEP(MD5_I, c, d, a, b, 62, 2, 15);  MD5_STEP(MD5_I, b, c, d, a, 63, 9, 21);

    r[0] += a; r[1] += b; r[2] += c; r[3] += d;
    return 0;
}
