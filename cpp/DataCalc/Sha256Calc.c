/*
 * Sha256Calc.c
 *
 * Description:
 *   SHA-256 as defined by FIPS 180-4, absorbing input incrementally and
 *   leaving the digest of everything so far in the record after each
 *   call.
 *
 *   The absorbing and padding come from DigestAbsorb.h, big-endian.
 *   Complete blocks are compressed with the CPU's SHA instructions where
 *   it has them (ShaExtCalc), else with the portable block function
 *   (ShaBlockCalc); the results are the same either way. The first
 *   keeps the message schedule in registers, so words 16..63 of Padding
 *   keep what they held instead of the schedule.
 */
#include "Sha256Calc.h"
#include "DigestAbsorb.h"
#include "ShaBlockCalc.h"
#include "ShaExtCalc.h"

static const uint32_t Sha256Calc_h0[8] = {
    0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
    0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u
};

/*
 * Sha256Calc_fields
 *
 * Description:
 *   The record as the routines of DigestAbsorb.h see it: a digest of
 *   8 words, big-endian words and length, and a working block with
 *   room for the schedule behind it.
 *
 * Parameters:
 *   t: [in]
 *     The record.
 *
 * Returns:
 *   Where its fields are.
 */
static DigestAbsorb Sha256Calc_fields(Sha256Calc *t)
{
    DigestAbsorb f = {t->Value, &t->DwordBufBytes, &t->ByteNumLo, &t->ByteNumHi,
                      t->reg, t->DwordBuf, t->Padding, 8, 1};
    return f;
}

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
 *   Starts a new message (DigestAbsorb_reset): Value is left alone, the
 *   rest starts over. Of Padding only the block is cleared; words 16..63
 *   are rewritten by every portable compression.
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
    return DigestAbsorb_reset(Sha256Calc_fields(t), Sha256Calc_h0);
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
 *   0, or SHA256CALC_TOO_LONG (record unchanged) if the total would
 *   reach 2^61 bytes or dl is negative.
 */
SZ_T Sha256Calc_calculate(Sha256Calc *t, SZ_CHAR *dp, SZ_T dl)
{
    if (ShaExtCalc_inUse())
        return DigestAbsorb_calculate(Sha256Calc_fields(t), ShaExtCalc_sha256Block, ShaExtCalc_sha256Blocks, dp,
                                      dl);
    return DigestAbsorb_calculate(Sha256Calc_fields(t), ShaBlockCalc_sha256, NULL, dp, dl);
}

/*
 * Sha256Calc_calcBlock
 *
 * Description:
 *   One application of the SHA-256 compression function, portable
 *   (ShaBlockCalc_sha256); the schedule is expanded in place behind the
 *   block.
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
    return ShaBlockCalc_sha256(dp, rp);
}
