/*
 * ShaExtCalc.c
 *
 * Description:
 *   SHA-256 and SHA-1 compression with the x86 SHA extensions or the
 *   ARMv8 SHA1 and SHA2 instructions. The calculators keep a block as 16
 *   words already in the standard's big-endian reading, so the words are
 *   loaded as they are; on x86 only the lane order is arranged for the
 *   instructions, on ARM not even that. Built for x86 and for 64-bit ARM
 *   Linux with GCC or Clang; elsewhere nothing is available and the
 *   portable block functions are always used.
 *
 *   The round constants and the portable block functions come from the
 *   layer below (ShaBlockCalc); nothing here calls the calculators.
 */
#include "ShaExtCalc.h"
#include "ShaBlockCalc.h"

#if SHAEXTCALC_X86
#include <cpuid.h>
#include <immintrin.h>
#elif SHAEXTCALC_ARM64
#include <arm_neon.h>
#include <sys/auxv.h>
#endif

/* -1 until the CPU has been asked. */
static int shaExtAvailable = -1;
static int shaExtAllowed = 1;

int ShaExtCalc_available(void)
{
    int known = __atomic_load_n(&shaExtAvailable, __ATOMIC_RELAXED);
    if (known < 0) {
        known = 0;
#if SHAEXTCALC_X86
        {
            unsigned int a, b, c, d;
            /* SHA (leaf 7 EBX bit 29), SSSE3 (leaf 1 ECX bit 9), SSE4.1 (bit 19). */
            if (__get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 9)) && (c & (1u << 19))
                && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29)))
                known = 1;
        }
#elif SHAEXTCALC_ARM64
        {
            /* Both, or the portable pair: one switch for the two algorithms. */
            const unsigned long hwcap = getauxval(AT_HWCAP);
            if ((hwcap & HWCAP_SHA1) && (hwcap & HWCAP_SHA2))
                known = 1;
        }
#endif
        __atomic_store_n(&shaExtAvailable, known, __ATOMIC_RELAXED);
    }
    return known;
}

int ShaExtCalc_inUse(void)
{
    return __atomic_load_n(&shaExtAllowed, __ATOMIC_RELAXED) && ShaExtCalc_available();
}

int ShaExtCalc_allow(int allowed)
{
    return __atomic_exchange_n(&shaExtAllowed, allowed ? 1 : 0, __ATOMIC_RELAXED);
}

/*
 * ShaExtCalc_sha256Choice, ShaExtCalc_sha1Choice
 *
 * Description:
 *   The one-block function a calculate call would compress its
 *   unfinished and padding blocks with now. The calculators ask
 *   ShaExtCalc_inUse once a call instead, and take the multi-block
 *   function that goes with it for whole blocks; ShaExtCalc_allow takes
 *   effect from the next call on either way.
 *
 * Returns:
 *   The function with the SHA instructions when they are in use, else
 *   the portable one of ShaBlockCalc.
 */
ShaExtCalc_Block ShaExtCalc_sha256Choice(void)
{
    return ShaExtCalc_inUse() ? ShaExtCalc_sha256Block : ShaBlockCalc_sha256;
}

ShaExtCalc_Block ShaExtCalc_sha1Choice(void)
{
    return ShaExtCalc_inUse() ? ShaExtCalc_sha1Block : ShaBlockCalc_sha1;
}

#if SHAEXTCALC_X86

#define SHAEXT_TARGET __attribute__((target("sha,sse4.1,ssse3")))
/* The rounds are written once for the block functions below, and inlined
   into each so that the message and the state stay in registers. */
#define SHAEXT_ROUNDS SHAEXT_TARGET static inline __attribute__((always_inline))

/*
 * Four rounds of SHA-256 on message group g (words 4g..4g+3), then the
 * schedule work that group g feeds: msg2 finishes group g+1, msg1 starts
 * group g+3. g is a literal, so the conditions fold away.
 */
#define SHA256_GROUP(g)                                                            \
    do {                                                                           \
        x = _mm_add_epi32(m[(g) & 3], _mm_loadu_si128((const __m128i *)(k + 4 * (g)))); \
        s1 = _mm_sha256rnds2_epu32(s1, s0, x);                                     \
        if ((g) >= 3 && (g) <= 14) {                                               \
            t = _mm_alignr_epi8(m[(g) & 3], m[((g) + 3) & 3], 4);                  \
            m[((g) + 1) & 3] = _mm_sha256msg2_epu32(                               \
                _mm_add_epi32(m[((g) + 1) & 3], t), m[(g) & 3]);                   \
        }                                                                          \
        x = _mm_shuffle_epi32(x, 0x0E);                                            \
        s0 = _mm_sha256rnds2_epu32(s0, s1, x);                                     \
        if ((g) >= 1 && (g) <= 12)                                                 \
            m[((g) + 3) & 3] = _mm_sha256msg1_epu32(m[((g) + 3) & 3], m[(g) & 3]); \
    } while (0)

/* The 64 rounds of one block, the four message groups in m, on the state
   as the instructions keep it: ABEF and CDGH, highest lane first. */
SHAEXT_ROUNDS void ShaExtCalc_sha256Rounds(__m128i *abef, __m128i *cdgh, __m128i *m)
{
    const uint32_t *k = ShaBlockCalc_k256;
    __m128i s0 = *abef, s1 = *cdgh, x, t;

    SHA256_GROUP(0);  SHA256_GROUP(1);  SHA256_GROUP(2);  SHA256_GROUP(3);
    SHA256_GROUP(4);  SHA256_GROUP(5);  SHA256_GROUP(6);  SHA256_GROUP(7);
    SHA256_GROUP(8);  SHA256_GROUP(9);  SHA256_GROUP(10); SHA256_GROUP(11);
    SHA256_GROUP(12); SHA256_GROUP(13); SHA256_GROUP(14); SHA256_GROUP(15);

    *abef = _mm_add_epi32(s0, *abef);
    *cdgh = _mm_add_epi32(s1, *cdgh);
}

/* reg (A..H) to ABEF and CDGH, and back. */
SHAEXT_ROUNDS void ShaExtCalc_sha256Load(const SZ_INT *rp, __m128i *abef, __m128i *cdgh)
{
    __m128i t = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)rp), 0xB1);        /* CDAB */
    __m128i s = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)(rp + 4)), 0x1B); /* EFGH */
    *abef = _mm_alignr_epi8(t, s, 8);
    *cdgh = _mm_blend_epi16(s, t, 0xF0);
}

SHAEXT_ROUNDS void ShaExtCalc_sha256Store(SZ_INT *rp, __m128i abef, __m128i cdgh)
{
    __m128i t = _mm_shuffle_epi32(abef, 0x1B); /* FEBA */
    __m128i s = _mm_shuffle_epi32(cdgh, 0xB1); /* DCHG */
    _mm_storeu_si128((__m128i *)rp, _mm_blend_epi16(t, s, 0xF0));       /* DCBA */
    _mm_storeu_si128((__m128i *)(rp + 4), _mm_alignr_epi8(s, t, 8));    /* HGFE */
}

SHAEXT_TARGET SZ_T ShaExtCalc_sha256Block(SZ_INT *dp, SZ_INT *rp)
{
    __m128i m[4], abef, cdgh;
    int g;

    for (g = 0; g < 4; g++)
        m[g] = _mm_loadu_si128((const __m128i *)(dp + 4 * g));
    ShaExtCalc_sha256Load(rp, &abef, &cdgh);
    ShaExtCalc_sha256Rounds(&abef, &cdgh, m);
    ShaExtCalc_sha256Store(rp, abef, cdgh);
    return 0;
}

/* The state stays in registers from block to block, and the words are
   read from the message with one byte shuffle a group, as OpenSSL's loop
   does: no round trip through the record, whose small stores a 16-byte
   load cannot take over. */
SHAEXT_TARGET void ShaExtCalc_sha256Blocks(SZ_INT *rp, const unsigned char *in, size_t n)
{
    const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    __m128i m[4], abef, cdgh;
    int g;

    ShaExtCalc_sha256Load(rp, &abef, &cdgh);
    for (; n > 0; n--, in += 64) {
        for (g = 0; g < 4; g++)
            m[g] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(in + 16 * g)), swap);
        ShaExtCalc_sha256Rounds(&abef, &cdgh, m);
    }
    ShaExtCalc_sha256Store(rp, abef, cdgh);
}

/*
 * Four rounds of SHA-1 on message group g (words 4g..4g+3) with the round
 * function of rounds 20(g/5).., then the schedule work group g feeds:
 * msg2 finishes group g+1, xor and msg1 prepare groups g+2 and g+3. The
 * E value alternates between e0 and e1.
 */
#define SHA1_GROUP(g)                                                              \
    do {                                                                           \
        if ((g) == 0)                                                              \
            e0 = _mm_add_epi32(e0, m[0]);                                          \
        else if ((g) & 1)                                                          \
            e1 = _mm_sha1nexte_epu32(e1, m[(g) & 3]);                              \
        else                                                                       \
            e0 = _mm_sha1nexte_epu32(e0, m[(g) & 3]);                              \
        if ((g) & 1)                                                               \
            e0 = abcd;                                                             \
        else                                                                       \
            e1 = abcd;                                                             \
        if ((g) >= 3 && (g) <= 18)                                                 \
            m[((g) + 1) & 3] = _mm_sha1msg2_epu32(m[((g) + 1) & 3], m[(g) & 3]);   \
        abcd = _mm_sha1rnds4_epu32(abcd, ((g) & 1) ? e1 : e0, (g) / 5);            \
        if ((g) >= 1 && (g) <= 16)                                                 \
            m[((g) + 3) & 3] = _mm_sha1msg1_epu32(m[((g) + 3) & 3], m[(g) & 3]);   \
        if ((g) >= 2 && (g) <= 17)                                                 \
            m[((g) + 2) & 3] = _mm_xor_si128(m[((g) + 2) & 3], m[(g) & 3]);        \
    } while (0)

/* The 80 rounds of one block, the four message groups in m (word 4g in
   the highest lane of m[g]), on ABCD (A highest) and E alone in the
   highest lane of *e, the other lanes zero. */
SHAEXT_ROUNDS void ShaExtCalc_sha1Rounds(__m128i *state, __m128i *e, __m128i *m)
{
    __m128i abcd = *state, e0 = *e, e1;

    /* A line for each round function: groups 5f..5f+4 are rounds 20f..20f+19. */
    SHA1_GROUP(0);  SHA1_GROUP(1);  SHA1_GROUP(2);  SHA1_GROUP(3);  SHA1_GROUP(4);
    SHA1_GROUP(5);  SHA1_GROUP(6);  SHA1_GROUP(7);  SHA1_GROUP(8);  SHA1_GROUP(9);
    SHA1_GROUP(10); SHA1_GROUP(11); SHA1_GROUP(12); SHA1_GROUP(13); SHA1_GROUP(14);
    SHA1_GROUP(15); SHA1_GROUP(16); SHA1_GROUP(17); SHA1_GROUP(18); SHA1_GROUP(19);

    *e = _mm_sha1nexte_epu32(e0, *e);
    *state = _mm_add_epi32(abcd, *state);
}

SHAEXT_TARGET SZ_T ShaExtCalc_sha1Block(SZ_INT *dp, SZ_INT *rp)
{
    __m128i m[4], abcd, e;
    int g;

    for (g = 0; g < 4; g++)
        m[g] = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)(dp + 4 * g)), 0x1B);
    abcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)rp), 0x1B);
    e = _mm_set_epi32(rp[4], 0, 0, 0);
    ShaExtCalc_sha1Rounds(&abcd, &e, m);
    _mm_storeu_si128((__m128i *)rp, _mm_shuffle_epi32(abcd, 0x1B));
    rp[4] = (SZ_INT)_mm_extract_epi32(e, 3);
    return 0;
}

/* As ShaExtCalc_sha256Blocks: one shuffle a group reverses all 16 bytes,
   which reads the words big-endian and puts the first one highest. */
SHAEXT_TARGET void ShaExtCalc_sha1Blocks(SZ_INT *rp, const unsigned char *in, size_t n)
{
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i m[4], abcd, e;
    int g;

    abcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)rp), 0x1B);
    e = _mm_set_epi32(rp[4], 0, 0, 0);
    for (; n > 0; n--, in += 64) {
        for (g = 0; g < 4; g++)
            m[g] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(in + 16 * g)), reverse);
        ShaExtCalc_sha1Rounds(&abcd, &e, m);
    }
    _mm_storeu_si128((__m128i *)rp, _mm_shuffle_epi32(abcd, 0x1B));
    rp[4] = (SZ_INT)_mm_extract_epi32(e, 3);
}

#elif SHAEXTCALC_ARM64

/* The SHA1 and SHA2 instructions are part of the crypto extension. */
#define SHAEXT_TARGET __attribute__((target("+crypto")))
/* The rounds are written once for the block functions below, and inlined
   into each so that the message and the state stay in registers. */
#define SHAEXT_ROUNDS SHAEXT_TARGET static inline __attribute__((always_inline))

/*
 * The 64 rounds of one SHA-256 block with SHA256H, SHA256H2, SHA256SU0
 * and SHA256SU1 on the state as the instructions take it, ABCD and EFGH
 * lane 0 first. The schedule stays in the four registers of m, each
 * overwritten by the group 16 words later once its rounds are done.
 */
SHAEXT_ROUNDS void ShaExtCalc_sha256Rounds(uint32x4_t *abcd, uint32x4_t *efgh, uint32x4_t *m)
{
    uint32x4_t s0 = *abcd, s1 = *efgh, x, t;
    int g;

    for (g = 0; g < 16; g++) {
        x = vaddq_u32(m[g & 3], vld1q_u32(ShaBlockCalc_k256 + 4 * g));
        t = s0;
        s0 = vsha256hq_u32(s0, s1, x);
        s1 = vsha256h2q_u32(s1, t, x);
        if (g < 12)
            m[g & 3] = vsha256su1q_u32(vsha256su0q_u32(m[g & 3], m[(g + 1) & 3]),
                                       m[(g + 2) & 3], m[(g + 3) & 3]);
    }
    *abcd = vaddq_u32(s0, *abcd);
    *efgh = vaddq_u32(s1, *efgh);
}

/*
 * ShaExtCalc_sha256Block (64-bit ARM)
 *
 * Description:
 *   One SHA-256 compression with the SHA2 instructions.
 *
 * Parameters:
 *   dp: [in]
 *     The block as 16 big-endian words; words 16..63 are not touched.
 *   rp: [in/out]
 *     The 8-word chaining value, updated in place.
 *
 * Returns:
 *   0.
 */
SHAEXT_TARGET SZ_T ShaExtCalc_sha256Block(SZ_INT *dp, SZ_INT *rp)
{
    const uint32_t *w = (const uint32_t *)dp;
    uint32_t *r = (uint32_t *)rp;
    uint32x4_t m[4], abcd = vld1q_u32(r), efgh = vld1q_u32(r + 4);
    int g;

    for (g = 0; g < 4; g++)
        m[g] = vld1q_u32(w + 4 * g);
    ShaExtCalc_sha256Rounds(&abcd, &efgh, m);
    vst1q_u32(r, abcd);
    vst1q_u32(r + 4, efgh);
    return 0;
}

/* The state stays in registers from block to block, and the words are
   read from the message with one byte reversal a group. */
SHAEXT_TARGET void ShaExtCalc_sha256Blocks(SZ_INT *rp, const unsigned char *in, size_t n)
{
    uint32_t *r = (uint32_t *)rp;
    uint32x4_t m[4], abcd = vld1q_u32(r), efgh = vld1q_u32(r + 4);
    int g;

    for (; n > 0; n--, in += 64) {
        for (g = 0; g < 4; g++)
            m[g] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(in + 16 * g)));
        ShaExtCalc_sha256Rounds(&abcd, &efgh, m);
    }
    vst1q_u32(r, abcd);
    vst1q_u32(r + 4, efgh);
}

/*
 * The 80 rounds of one SHA-1 block with SHA1C, SHA1P, SHA1M, SHA1H,
 * SHA1SU0 and SHA1SU1: four rounds an instruction, the round function
 * chosen by the group's fifth of the 80 rounds. E travels as a scalar;
 * SHA1H gives the next group's from A before the rounds.
 */
SHAEXT_ROUNDS void ShaExtCalc_sha1Rounds(uint32x4_t *state, uint32_t *e, uint32x4_t *m)
{
    static const uint32_t k[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};
    uint32x4_t abcd = *state, x;
    uint32_t ee = *e, next;
    int g;

    for (g = 0; g < 20; g++) {
        x = vaddq_u32(m[g & 3], vdupq_n_u32(k[g / 5]));
        next = vsha1h_u32(vgetq_lane_u32(abcd, 0));
        if (g < 5)
            abcd = vsha1cq_u32(abcd, ee, x);
        else if (g < 10 || g >= 15)
            abcd = vsha1pq_u32(abcd, ee, x);
        else
            abcd = vsha1mq_u32(abcd, ee, x);
        ee = next;
        if (g < 16)
            m[g & 3] = vsha1su1q_u32(vsha1su0q_u32(m[g & 3], m[(g + 1) & 3], m[(g + 2) & 3]),
                                     m[(g + 3) & 3]);
    }
    *state = vaddq_u32(abcd, *state);
    *e += ee;
}

/*
 * ShaExtCalc_sha1Block (64-bit ARM)
 *
 * Description:
 *   One SHA-1 compression with the SHA1 instructions.
 *
 * Parameters:
 *   dp: [in]
 *     The block as 16 big-endian words, only read.
 *   rp: [in/out]
 *     The chaining value (first 5 words), updated in place; the sixth
 *     word is left alone.
 *
 * Returns:
 *   0.
 */
SHAEXT_TARGET SZ_T ShaExtCalc_sha1Block(SZ_INT *dp, SZ_INT *rp)
{
    const uint32_t *w = (const uint32_t *)dp;
    uint32_t *r = (uint32_t *)rp;
    uint32x4_t m[4], abcd = vld1q_u32(r);
    uint32_t e = r[4];
    int g;

    for (g = 0; g < 4; g++)
        m[g] = vld1q_u32(w + 4 * g);
    ShaExtCalc_sha1Rounds(&abcd, &e, m);
    vst1q_u32(r, abcd);
    r[4] = e;
    return 0;
}

/* As ShaExtCalc_sha256Blocks. */
SHAEXT_TARGET void ShaExtCalc_sha1Blocks(SZ_INT *rp, const unsigned char *in, size_t n)
{
    uint32_t *r = (uint32_t *)rp;
    uint32x4_t m[4], abcd = vld1q_u32(r);
    uint32_t e = r[4];
    int g;

    for (; n > 0; n--, in += 64) {
        for (g = 0; g < 4; g++)
            m[g] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(in + 16 * g)));
        ShaExtCalc_sha1Rounds(&abcd, &e, m);
    }
    vst1q_u32(r, abcd);
    r[4] = e;
}

#else

/* Never chosen here; the portable functions keep a stray call correct. */
SZ_T ShaExtCalc_sha256Block(SZ_INT *dp, SZ_INT *rp)
{
    return ShaBlockCalc_sha256(dp, rp);
}

SZ_T ShaExtCalc_sha1Block(SZ_INT *dp, SZ_INT *rp)
{
    return ShaBlockCalc_sha1(dp, rp);
}

/* The block as the portable functions take it: big-endian words, with
   room for the SHA-256 schedule behind them. */
static void ShaExtCalc_words(SZ_INT *w, const unsigned char *in)
{
    int i;

    for (i = 0; i < 16; i++, in += 4)
        w[i] = (SZ_INT)((uint32_t)in[0] << 24 | (uint32_t)in[1] << 16 | (uint32_t)in[2] << 8 | in[3]);
}

void ShaExtCalc_sha256Blocks(SZ_INT *rp, const unsigned char *in, size_t n)
{
    SZ_INT w[64];

    for (; n > 0; n--, in += 64) {
        ShaExtCalc_words(w, in);
        ShaBlockCalc_sha256(w, rp);
    }
}

void ShaExtCalc_sha1Blocks(SZ_INT *rp, const unsigned char *in, size_t n)
{
    SZ_INT w[16];

    for (; n > 0; n--, in += 64) {
        ShaExtCalc_words(w, in);
        ShaBlockCalc_sha1(w, rp);
    }
}

#endif
