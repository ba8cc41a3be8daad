/*
 * Sha1Calc.c
 *
 * Description:
 *   SHA-1 as defined by FIPS 180-4, absorbing input incrementally and
 *   leaving the digest of everything so far in the record after each
 *   call.
 *
 *   The absorbing and padding come from DigestAbsorb.h, big-endian.
 *   Complete blocks are compressed with the CPU's SHA instructions where
 *   it has them (ShaExtCalc), else with the portable block function
 *   (ShaBlockCalc); the results are the same either way.
 */
#include "Sha1Calc.h"
#include "DigestAbsorb.h"
#include "ShaBlockCalc.h"
#include "ShaExtCalc.h"

static const uint32_t Sha1Calc_h0[5] = {
    0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u
};

/*
 * Sha1Calc_fields
 *
 * Description:
 *   The record as the routines of DigestAbsorb.h see it: a digest of
 *   5 words, big-endian words and length. The sixth chaining word is
 *   not theirs.
 *
 * Parameters:
 *   t: [in]
 *     The record.
 *
 * Returns:
 *   Where its fields are.
 */
static DigestAbsorb Sha1Calc_fields(Sha1Calc *t)
{
    DigestAbsorb f = {t->Value, &t->DwordBufBytes, &t->ByteNumLo, &t->ByteNumHi,
                      t->reg, t->DwordBuf, t->Padding, 5, 1};
    return f;
}

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
 *   Starts a new message (DigestAbsorb_reset): Value is left alone, the
 *   rest starts over. The sixth chaining word is unused and cleared only
 *   to keep the record deterministic.
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
    t->reg[5] = 0;
    return DigestAbsorb_reset(Sha1Calc_fields(t), Sha1Calc_h0);
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
 *   Value; the record stays ready for more input (DigestAbsorb_calculate).
 *   The path is chosen once per call. With the SHA instructions, whole
 *   blocks are compressed straight from the input; the routine is
 *   inlined once for each path, so each calls its block functions
 *   directly.
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
    if (ShaExtCalc_inUse())
        return DigestAbsorb_calculate(Sha1Calc_fields(t), ShaExtCalc_sha1Block, ShaExtCalc_sha1Blocks, dp,
                                      dl);
    return DigestAbsorb_calculate(Sha1Calc_fields(t), ShaBlockCalc_sha1, NULL, dp, dl);
}

/*
 * Sha1Calc_calcBlock
 *
 * Description:
 *   One application of the SHA-1 compression function, portable
 *   (ShaBlockCalc_sha1); the caller's block is only read.
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
    return ShaBlockCalc_sha1(dp, rp);
}
