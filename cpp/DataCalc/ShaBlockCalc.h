/*
 * ShaBlockCalc.h
 *
 * Description:
 *   The portable SHA-256 and SHA-1 block functions and the SHA-256
 *   round constants: the layer below both the calculators and the
 *   block functions with the CPU's SHA instructions (ShaExtCalc), which
 *   take their constants from here and fall back to these functions.
 *   For the .c files of cpp/DataCalc only: no public header includes
 *   this one; the public Sha256Calc_calcBlock and Sha1Calc_calcBlock
 *   hand their calls on to these functions.
 */
#ifndef ZELKO_SHABLOCKCALC_H
#define ZELKO_SHABLOCKCALC_H

#include "SizeDef.h"

/* The 64 round constants of SHA-256 (FIPS 180-4), in round order. */
extern const uint32_t ShaBlockCalc_k256[64];

/*
 * One SHA-256 compression. dp: 64 words, the block as 16 big-endian
 * words followed by room for the schedule (words 16..63 are
 * overwritten); rp: the 8-word chaining value, updated in place.
 */
SZ_T ShaBlockCalc_sha256(SZ_INT *dp, SZ_INT *rp);

/*
 * One SHA-1 compression. dp: the block as 16 big-endian words, only
 * read; rp: the chaining value (first 5 words), updated in place.
 */
SZ_T ShaBlockCalc_sha1(SZ_INT *dp, SZ_INT *rp);

#endif /* ZELKO_SHABLOCKCALC_H */
