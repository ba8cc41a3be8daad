/*
 * ShaExtCalc.h
 *
 * Description:
 *   Block functions for SHA-256 and SHA-1 that use the CPU's SHA
 *   instructions (x86 SHA extensions, or the ARMv8 SHA1 and SHA2
 *   instructions of 64-bit ARM), and the run-time choice between them
 *   and the portable block functions. The calculators ask which to use
 *   once per calculate call; both kinds give the same chaining values,
 *   so every result of a calculate call is the same whichever is used.
 *
 *   This layer sits below the calculators and above ShaBlockCalc, the
 *   portable block functions and round constants: it takes what it
 *   needs from there and calls nothing of Sha256Calc or Sha1Calc.
 */
#ifndef ZELKO_SHAEXTCALC_H
#define ZELKO_SHAEXTCALC_H

#include "SizeDef.h"

#include <stddef.h>

/* 1 where this file's functions can use the instructions: x86 with GCC
   or Clang, or little-endian 64-bit ARM Linux with GCC or Clang (the
   kernel says in AT_HWCAP whether the CPU has them; the message bytes
   are read as little-endian lanes). Elsewhere they are never
   available, the choice is always the portable block function, and the
   instruction block functions hand their calls on to the portable ones. */
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define SHAEXTCALC_X86 1
#else
#define SHAEXTCALC_X86 0
#endif
#if defined(__aarch64__) && defined(__linux__) && defined(__GNUC__) && !defined(__AARCH64EB__)
#define SHAEXTCALC_ARM64 1
#else
#define SHAEXTCALC_ARM64 0
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when this build and this CPU have the SHA instructions. */
int ShaExtCalc_available(void);

/* 1 when the calculators compress with them: available and allowed. */
int ShaExtCalc_inUse(void);

/* Allows (1, the default) or forbids (0) them; tests use it to run the
   portable path on any machine. Returns the previous setting. */
int ShaExtCalc_allow(int allowed);

/* A block function: compresses the block at dp into the chaining value
   at rp, as Sha256Calc_calcBlock and Sha1Calc_calcBlock do. */
typedef SZ_T (*ShaExtCalc_Block)(SZ_INT *dp, SZ_INT *rp);

/* The one-block function to compress with now: the one below with the
   SHA instructions when ShaExtCalc_inUse(), else the portable one. */
ShaExtCalc_Block ShaExtCalc_sha256Choice(void);
ShaExtCalc_Block ShaExtCalc_sha1Choice(void);

/* Sha256Calc_calcBlock and Sha1Calc_calcBlock with the SHA instructions,
   for use only when ShaExtCalc_available(). The same block words in and
   chaining value out; the SHA-256 one keeps its message schedule in
   registers and leaves words 16..63 of dp as they were. */
SZ_T ShaExtCalc_sha256Block(SZ_INT *dp, SZ_INT *rp);
SZ_T ShaExtCalc_sha1Block(SZ_INT *dp, SZ_INT *rp);

/* n whole blocks straight from the message bytes at in,
   compressed one after the other into the chaining value at rp: what
   packing each block into words and calling the function above gives,
   without the packing and with the chaining value kept in registers
   between blocks. For use only when ShaExtCalc_available(). */
void ShaExtCalc_sha256Blocks(SZ_INT *rp, const unsigned char *in, size_t n);
void ShaExtCalc_sha1Blocks(SZ_INT *rp, const unsigned char *in, size_t n);

#ifdef __cplusplus
}
#endif

#endif /* ZELKO_SHAEXTCALC_H */
