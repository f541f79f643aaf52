// The opcode maps, group table, mnemonic text and register names, after the
// Intel IA-32 one- and two-byte opcode maps and AMD's 3DNow! suffix list.
#include "debuginfo/decoder/opcode_tables.h"

#include <array>

namespace kestrix::decoder {
namespace {

enum : uint8_t {
  MN_NONE,
#define X(id, text) MN_##id,
#include "debuginfo/decoder/mnemonics.inc"
#undef X
  MN_COUNT
};
static_assert(MN_COUNT <= 256, "the mnemonic index is a byte");

using namespace attr;

// Operand shapes that recur.
constexpr uint16_t EbGb = kReg8 | kM8 | kRmFirst;
constexpr uint16_t GbEb = kReg8 | kM8;
constexpr uint16_t EvGv = kReg32 | kM32 | kRegSized | kRmSized | kRmFirst;
constexpr uint16_t GvEv = kReg32 | kM32 | kRegSized | kRmSized;
constexpr uint16_t AlIb = kAl | kImm8;
constexpr uint16_t EaxIv = kEax | kRegSized | kImmV;
constexpr uint16_t Eb = kM8 | kPtr;
constexpr uint16_t Ev = kM32 | kRmSized | kPtr;
constexpr uint16_t Zv = kOpReg32 | kRegSized;        // register in the opcode
constexpr uint16_t Jb = kImm8 | kRel;
constexpr uint16_t Jz = kImmV | kRel;
constexpr uint16_t PqQq = kRegMmx | kM64 | kRegSized | kRmSized;  // MMX, XMM with 66
constexpr uint16_t VW = kRegXmm | kM128;
constexpr uint16_t BAD = kInvalid;

#define E(mn, a) {MN_##mn, static_cast<uint16_t>(a)}
#define N(a) {MN_NONE, static_cast<uint16_t>(a)}
#define ARITH_ROW(mn)                                                                      \
  E(mn, EbGb | kWRm), E(mn, EvGv | kWRm), E(mn, GbEb | kWReg), E(mn, GvEv | kWReg), \
      E(mn, AlIb | kWEax), E(mn, EaxIv | kWEax)

}  // namespace

const TOpcodeEntry kOneByteMap[256] = {
    // 0x00
    ARITH_ROW(ADD), E(PUSHSEG, 0), E(POPSEG, 0), ARITH_ROW(OR), E(PUSHSEG, 0), N(0),
    // 0x10
    ARITH_ROW(ADC), E(PUSHSEG, 0), E(POPSEG, 0), ARITH_ROW(SBB), E(PUSHSEG, 0), E(POPSEG, 0),
    // 0x20
    ARITH_ROW(AND), N(0), E(DAA, kWEax), ARITH_ROW(SUB), N(0), E(DAS, kWEax),
    // 0x30
    ARITH_ROW(XOR), N(0), E(AAA, kWEax),
    E(CMP, EbGb), E(CMP, EvGv), E(CMP, GbEb), E(CMP, GvEv), E(CMP, AlIb), E(CMP, EaxIv), N(0), E(AAS, kWEax),
    // 0x40
    E(INC, Zv | kWOp), E(INC, Zv | kWOp), E(INC, Zv | kWOp), E(INC, Zv | kWOp),
    E(INC, Zv | kWOp), E(INC, Zv | kWOp), E(INC, Zv | kWOp), E(INC, Zv | kWOp),
    E(DEC, Zv | kWOp), E(DEC, Zv | kWOp), E(DEC, Zv | kWOp), E(DEC, Zv | kWOp),
    E(DEC, Zv | kWOp), E(DEC, Zv | kWOp), E(DEC, Zv | kWOp), E(DEC, Zv | kWOp),
    // 0x50
    E(PUSH, Zv), E(PUSH, Zv), E(PUSH, Zv), E(PUSH, Zv), E(PUSH, Zv), E(PUSH, Zv), E(PUSH, Zv), E(PUSH, Zv),
    E(POP, Zv | kWOp), E(POP, Zv | kWOp), E(POP, Zv | kWOp), E(POP, Zv | kWOp),
    E(POP, Zv | kWOp), E(POP, Zv | kWOp), E(POP, Zv | kWOp), E(POP, Zv | kWOp),
    // 0x60
    E(PUSHAD, 0), E(POPAD, 0), E(BOUND, GvEv), E(ARPL, kReg16 | kM16 | kRmFirst | kWRm), N(0), N(0), N(0), N(0),
    E(PUSH, kImmV), E(IMUL, GvEv | kImmV | kWReg), E(PUSH, kImm8), E(IMUL, GvEv | kImm8 | kWReg),
    E(INSB, 0), E(INSD, 0), E(OUTSB, 0), E(OUTSD, 0),
    // 0x70
    E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb),
    E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb), E(JCC, Jb),
    // 0x80
    E(ARITH, Eb | kImm8), E(ARITH, Ev | kImmV), E(ARITH, Eb | kImm8), E(ARITH, Ev | kImm8),
    E(TEST, EbGb), E(TEST, EvGv), E(XCHG, EbGb | kWRegRm), E(XCHG, EvGv | kWRegRm),
    E(MOV, EbGb | kWRm), E(MOV, EvGv | kWRm), E(MOV, GbEb | kWReg), E(MOV, GvEv | kWReg),
    E(MOV, kRegSpecial | kM16 | kRmFirst | kWRm), E(LEA, GvEv | kWReg), E(MOV, kRegSpecial | kM16),
    E(POP, Ev | kWRm),
    // 0x90
    E(NOP, 0), E(XCHG, kEaxOpReg | kRegSized | kWEaxOp), E(XCHG, kEaxOpReg | kRegSized | kWEaxOp),
    E(XCHG, kEaxOpReg | kRegSized | kWEaxOp), E(XCHG, kEaxOpReg | kRegSized | kWEaxOp),
    E(XCHG, kEaxOpReg | kRegSized | kWEaxOp), E(XCHG, kEaxOpReg | kRegSized | kWEaxOp),
    E(XCHG, kEaxOpReg | kRegSized | kWEaxOp),
    E(CWDE, kWEax), E(CDQ, 0), E(CALL, 0), E(WAIT, 0), E(PUSHFD, 0), E(POPFD, 0), E(SAHF, 0), E(LAHF, kWEax),
    // 0xA0
    E(MOV, kAl | kPtr | kWEax), E(MOV, kEax | kRegSized | kPtr | kWEax), E(MOV, kAl | kPtr | kRmFirst),
    E(MOV, kEax | kRegSized | kPtr | kRmFirst), E(MOVSB, 0), E(MOVSD, 0), E(CMPSB, 0), E(CMPSD, 0),
    E(TEST, AlIb), E(TEST, EaxIv), E(STOSB, 0), E(STOSD, 0), E(LODSB, kWEax), E(LODSD, kWEax), E(SCASB, 0),
    E(SCASD, 0),
    // 0xB0
    E(MOV, kOpReg8 | kImm8 | kWOp), E(MOV, kOpReg8 | kImm8 | kWOp), E(MOV, kOpReg8 | kImm8 | kWOp),
    E(MOV, kOpReg8 | kImm8 | kWOp), E(MOV, kOpReg8 | kImm8 | kWOp), E(MOV, kOpReg8 | kImm8 | kWOp),
    E(MOV, kOpReg8 | kImm8 | kWOp), E(MOV, kOpReg8 | kImm8 | kWOp),
    E(MOV, Zv | kImmV | kWOp), E(MOV, Zv | kImmV | kWOp), E(MOV, Zv | kImmV | kWOp), E(MOV, Zv | kImmV | kWOp),
    E(MOV, Zv | kImmV | kWOp), E(MOV, Zv | kImmV | kWOp), E(MOV, Zv | kImmV | kWOp), E(MOV, Zv | kImmV | kWOp),
    // 0xC0
    E(SHIFT, Eb | kImm8 | kWRm), E(SHIFT, Ev | kImm8 | kWRm), E(RET, kImm16), E(RET, 0),
    E(LES, GvEv | kWReg), E(LDS, GvEv | kWReg), E(MOV, Eb | kImm8 | kWRm), E(MOV, Ev | kImmV | kWRm),
    E(ENTER, 0), E(LEAVE, 0), E(RETF, kImm16), E(RETF, 0), E(INT3, 0), E(INT, kImm8), E(INTO, 0), E(IRETD, 0),
    // 0xD0
    E(SHIFT, Eb | kWRm), E(SHIFT, Ev | kWRm), E(SHIFT, Eb | kWRm), E(SHIFT, Ev | kWRm),
    E(AAM, kImm8 | kWEax), E(AAD, kImm8 | kWEax), N(BAD), E(XLAT, kWEax),
    E(X87_D8, kGroup), E(X87_D9, kGroup), E(X87_DA, kGroup), E(X87_DB, kGroup),
    E(X87_DC, kGroup), E(X87_DD, kGroup), E(X87_DE, kGroup), E(X87_DF, kGroup),
    // 0xE0
    E(LOOPNE, Jb), E(LOOPE, Jb), E(LOOP, Jb), E(JECXZ, Jb), E(IN, AlIb | kWEax),
    E(IN, kEax | kRegSized | kImm8 | kWEax), E(OUT, AlIb | kRmFirst), E(OUT, kEax | kRegSized | kImm8 | kRmFirst),
    E(CALL, Jz), E(JMP, Jz), E(JMP, 0), E(JMP, Jb), E(IN, kAccDx | kRegSized | kWEax),
    E(IN, kAccDx | kRegSized | kWEax), E(OUT, kAccDx | kRegSized | kRmFirst), E(OUT, kAccDx | kRegSized | kRmFirst),
    // 0xF0
    N(0), E(INT1, 0), N(0), N(0), E(HLT, 0), E(CMC, 0), E(GRP3, kGroup), E(GRP3, kGroup),
    E(CLC, 0), E(STC, 0), E(CLI, 0), E(STI, 0), E(CLD, 0), E(STD, 0), E(GRP4, Eb | kWRm), E(GRP5, Ev),
};

const TOpcodeEntry kTwoByteMap[256] = {
    // 0x0F 0x00
    E(GRP6, kM16 | kPtr), E(GRP7, kM32), E(LAR, kReg32 | kRegSized | kM16 | kWReg),
    E(LSL, kReg32 | kRegSized | kM16 | kWReg), N(BAD), E(SYSCALL, 0), E(CLTS, 0), E(SYSRET, 0),
    E(INVD, 0), E(WBINVD, 0), N(BAD), E(UD2, 0), N(BAD), E(PREFETCH, Eb), E(FEMMS, 0),
    N(kRegMmx | kM64 | kImm8 | kPtr),
    // 0x0F 0x10
    E(MOVUPS, VW), E(MOVUPS, VW | kRmFirst), E(MOVLPS, kRegXmm | kM64), E(MOVLPS_ST, kRegXmm | kM64 | kRmFirst),
    E(UNPCKLPS, VW), E(UNPCKHPS, VW), E(MOVHPS, kRegXmm | kM64), E(MOVHPS_ST, kRegXmm | kM64 | kRmFirst),
    E(PREFETCHH, Eb), E(NOPEV, Ev), E(NOPEV, Ev), E(NOPEV, Ev), E(NOPEV, Ev), E(NOPEV, Ev), E(NOPEV, Ev),
    E(NOPEV, Ev),
    // 0x0F 0x20
    E(MOV, kRegSpecial | kM32 | kRmFirst | kWRm), E(MOV, kRegSpecial | kM32 | kRmFirst | kWRm),
    E(MOV, kRegSpecial | kM32), E(MOV, kRegSpecial | kM32), N(BAD), N(BAD), N(BAD), N(BAD),
    E(MOVAPS, VW), E(MOVAPS, VW | kRmFirst), E(CVTPI2PS, kRegXmm | kM64), E(MOVNTPS, VW | kRmFirst),
    E(CVTTPS2PI, kRegMmx | kM128 | kWReg), E(CVTPS2PI, kRegMmx | kM128 | kWReg), E(UCOMISS, kRegXmm | kM32),
    E(COMISS, kRegXmm | kM32),
    // 0x0F 0x30
    E(WRMSR, 0), E(RDTSC, kWEax), E(RDMSR, kWEax), E(RDPMC, kWEax), E(SYSENTER, 0), E(SYSEXIT, 0), N(BAD),
    E(GETSEC, kWEax), N(BAD), N(BAD), N(BAD), N(BAD), N(BAD), N(BAD), N(BAD), N(BAD),
    // 0x0F 0x40
    E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg),
    E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg),
    E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg),
    E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg), E(CMOVCC, GvEv | kWReg),
    // 0x0F 0x50
    E(MOVMSKPS, kReg32 | kM128 | kWReg), E(SQRTPS, VW), E(RSQRTPS, VW), E(RCPPS, VW), E(ANDPS, VW),
    E(ANDNPS, VW), E(ORPS, VW), E(XORPS, VW), E(ADDPS, VW), E(MULPS, VW), E(CVTPS2PD, VW), E(CVTDQ2PS, VW),
    E(SUBPS, VW), E(MINPS, VW), E(DIVPS, VW), E(MAXPS, VW),
    // 0x0F 0x60
    E(PUNPCKLBW, PqQq), E(PUNPCKLWD, PqQq), E(PUNPCKLDQ, PqQq), E(PACKSSWB, PqQq), E(PCMPGTB, PqQq),
    E(PCMPGTW, PqQq), E(PCMPGTD, PqQq), E(PACKUSWB, PqQq), E(PUNPCKHBW, PqQq), E(PUNPCKHWD, PqQq),
    E(PUNPCKHDQ, PqQq), E(PACKSSDW, PqQq), E(PUNPCKLQDQ, PqQq), E(PUNPCKHQDQ, PqQq),
    E(MOVD, kRegMmx | kRegSized | kM32), E(MOVQ, PqQq),
    // 0x0F 0x70
    E(PSHUFW, PqQq | kImm8), E(GRP12, kM64 | kRmSized | kImm8), E(GRP13, kM64 | kRmSized | kImm8),
    E(GRP14, kM64 | kRmSized | kImm8), E(PCMPEQB, PqQq), E(PCMPEQW, PqQq), E(PCMPEQD, PqQq), E(EMMS, 0),
    N(BAD), N(BAD), N(BAD), N(BAD), E(HADDPS, VW), E(HSUBPS, VW),
    E(MOVD_ST, kRegMmx | kRegSized | kM32 | kRmFirst | kWRm), E(MOVQ_ST, PqQq | kRmFirst),
    // 0x0F 0x80
    E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz),
    E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz), E(JCC, Jz),
    // 0x0F 0x90
    E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm),
    E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm),
    E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm),
    E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm), E(SETCC, Eb | kWRm),
    // 0x0F 0xA0
    E(PUSHSEG, 0), E(POPSEG, 0), E(CPUID, kWEax), E(BT, EvGv), E(SHLD, EvGv | kImm8 | kWRm), E(SHLD, EvGv | kWRm),
    N(BAD), N(BAD), E(PUSHSEG, 0), E(POPSEG, 0), E(RSM, 0), E(BTS, EvGv | kWRm), E(SHRD, EvGv | kImm8 | kWRm),
    E(SHRD, EvGv | kWRm), E(GRP15, kM32), E(IMUL, GvEv | kWReg),
    // 0x0F 0xB0
    E(CMPXCHG, EbGb | kWEaxRm), E(CMPXCHG, EvGv | kWEaxRm), E(LSS, GvEv | kWReg), E(BTR, EvGv | kWRm),
    E(LFS, GvEv | kWReg), E(LGS, GvEv | kWReg), E(MOVZX, kReg32 | kRegSized | kM8 | kPtr | kWReg),
    E(MOVZX, kReg32 | kRegSized | kM16 | kPtr | kWReg), E(POPCNT, GvEv | kWReg), E(UD1, GvEv),
    E(GRP8, Ev | kImm8 | kWRm), E(BTC, EvGv | kWRm), E(BSF, GvEv | kWReg), E(BSR, GvEv | kWReg),
    E(MOVSX, kReg32 | kRegSized | kM8 | kPtr | kWReg), E(MOVSX, kReg32 | kRegSized | kM16 | kPtr | kWReg),
    // 0x0F 0xC0
    E(XADD, EbGb | kWRegRm), E(XADD, EvGv | kWRegRm), E(CMPPS, VW | kImm8), E(MOVNTI, kReg32 | kM32 | kRmFirst),
    E(PINSRW, kRegMmx | kRegSized | kM32 | kImm8), E(PEXTRW, kReg32 | kM64 | kRmSized | kImm8 | kWReg),
    E(SHUFPS, VW | kImm8), E(GRP9, kM64 | kPtr | kWEax),
    E(BSWAP, kOpReg32 | kWOp), E(BSWAP, kOpReg32 | kWOp), E(BSWAP, kOpReg32 | kWOp), E(BSWAP, kOpReg32 | kWOp),
    E(BSWAP, kOpReg32 | kWOp), E(BSWAP, kOpReg32 | kWOp), E(BSWAP, kOpReg32 | kWOp), E(BSWAP, kOpReg32 | kWOp),
    // 0x0F 0xD0
    E(ADDSUBPS, VW), E(PSRLW, PqQq), E(PSRLD, PqQq), E(PSRLQ, PqQq), E(PADDQ, PqQq), E(PMULLW, PqQq),
    E(MOVQ_D6, kRegXmm | kM64 | kRmFirst), E(PMOVMSKB, kReg32 | kM64 | kRmSized | kWReg), E(PSUBUSB, PqQq),
    E(PSUBUSW, PqQq), E(PMINUB, PqQq), E(PAND, PqQq), E(PADDUSB, PqQq), E(PADDUSW, PqQq), E(PMAXUB, PqQq),
    E(PANDN, PqQq),
    // 0x0F 0xE0
    E(PAVGB, PqQq), E(PSRAW, PqQq), E(PSRAD, PqQq), E(PAVGW, PqQq), E(PMULHUW, PqQq), E(PMULHW, PqQq),
    E(CVTTPD2DQ, VW), E(MOVNTQ, PqQq | kRmFirst), E(PSUBSB, PqQq), E(PSUBSW, PqQq), E(PMINSW, PqQq),
    E(POR, PqQq), E(PADDSB, PqQq), E(PADDSW, PqQq), E(PMAXSW, PqQq), E(PXOR, PqQq),
    // 0x0F 0xF0
    E(LDDQU, VW), E(PSLLW, PqQq), E(PSLLD, PqQq), E(PSLLQ, PqQq), E(PMULUDQ, PqQq), E(PMADDWD, PqQq),
    E(PSADBW, PqQq), E(MASKMOVQ, PqQq), E(PSUBB, PqQq), E(PSUBW, PqQq), E(PSUBD, PqQq), E(PSUBQ, PqQq),
    E(PADDB, PqQq), E(PADDW, PqQq), E(PADDD, PqQq), E(UD0, GvEv),
};

namespace {
constexpr uint16_t St = kRegSt | kM80;          // st, st(i)
constexpr uint16_t StR = kRegSt | kM80 | kRmFirst;  // st(i), st
constexpr uint16_t Sti = kM80;                  // st(i)
}  // namespace

const uint16_t kGroupTable[10][16] = {
    // 0xF6: test, test, not, neg, mul, imul, div, idiv (byte)
    {Eb | kImm8, Eb | kImm8, Eb | kWRm, Eb | kWRm, Eb | kWEax, Eb | kWEax, Eb | kWEax, Eb | kWEax,
     Eb | kImm8, Eb | kImm8, Eb | kWRm, Eb | kWRm, Eb | kWEax, Eb | kWEax, Eb | kWEax, Eb | kWEax},
    // 0xF7 (operand size)
    {Ev | kImmV, Ev | kImmV, Ev | kWRm, Ev | kWRm, Ev | kWEax, Ev | kWEax, Ev | kWEax, Ev | kWEax,
     Ev | kImmV, Ev | kImmV, Ev | kWRm, Ev | kWRm, Ev | kWEax, Ev | kWEax, Ev | kWEax, Ev | kWEax},
    // 0xD8: m32real; st, st(i)
    {kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr,
     St, St, Sti, Sti, St, St, St, St},
    // 0xD9: fld, -, fst, fstp, fldenv, fldcw, fnstenv, fnstcw; fld, fxch, fnop, -, and the constant rows
    {kM32 | kPtr, BAD, kM32 | kPtr, kM32 | kPtr, kM32, kM16 | kPtr, kM32, kM16 | kPtr,
     Sti, Sti, 0, BAD, 0, 0, 0, 0},
    // 0xDA: m32int; fcmov*, fucompp
    {kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr,
     St, St, St, St, BAD, 0, BAD, BAD},
    // 0xDB: fild, fisttp, fist, fistp, -, fld m80, -, fstp m80; fcmovn*, control, fucomi, fcomi
    {kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, kM32 | kPtr, BAD, kM80 | kPtr, BAD, kM80 | kPtr,
     St, St, St, St, 0, St, St, BAD},
    // 0xDC: m64real; st(i), st
    {kM64 | kPtr, kM64 | kPtr, kM64 | kPtr, kM64 | kPtr, kM64 | kPtr, kM64 | kPtr, kM64 | kPtr, kM64 | kPtr,
     StR, StR, BAD, BAD, StR, StR, StR, StR},
    // 0xDD: fld, fisttp, fst, fstp m64, frstor, -, fnsave, fnstsw; ffree, -, fst, fstp, fucom, fucomp
    {kM64 | kPtr, kM64 | kPtr, kM64 | kPtr, kM64 | kPtr, kM32, BAD, kM32, kM16 | kPtr,
     Sti, BAD, Sti, Sti, Sti, Sti, BAD, BAD},
    // 0xDE: m16int; faddp, fmulp, -, fcompp, fsubrp, fsubp, fdivrp, fdivp
    {kM16 | kPtr, kM16 | kPtr, kM16 | kPtr, kM16 | kPtr, kM16 | kPtr, kM16 | kPtr, kM16 | kPtr, kM16 | kPtr,
     StR, StR, BAD, 0, StR, StR, StR, StR},
    // 0xDF: fild, fisttp, fist, fistp m16, fbld, fild m64, fbstp, fistp m64; ffreep, fnstsw ax, fucomip, fcomip
    {kM16 | kPtr, kM16 | kPtr, kM16 | kPtr, kM16 | kPtr, kM80 | kPtr, kM64 | kPtr, kM80 | kPtr, kM64 | kPtr,
     Sti, BAD, BAD, BAD, kWEax, St, St, BAD},
};

int GroupRow(uint8_t opcode) {
  if (opcode == 0xF6) return 0;
  if (opcode == 0xF7) return 1;
  if (opcode >= 0xD8 && opcode <= 0xDF) return opcode - 0xD8 + 2;
  return -1;
}

namespace {
constexpr char kText[] =
#define X(id, text) text "\0"
#include "debuginfo/decoder/mnemonics.inc"
#undef X
    ;
}  // namespace

const char* const kMnemonicText = kText;

namespace {
struct MnemonicOffsets {
  std::array<uint16_t, 256> offset{};
  int count = 0;
};

constexpr MnemonicOffsets ComputeOffsets() {
  MnemonicOffsets r;
  int pos = 0;
  const int size = static_cast<int>(sizeof kText) - 1;  // the literal's own terminator
  while (pos < size && r.count < 255) {
    r.offset[++r.count] = static_cast<uint16_t>(pos);
    while (kText[pos] != 0) ++pos;
    ++pos;
  }
  return r;
}
constexpr MnemonicOffsets kOffsets = ComputeOffsets();
static_assert(kOffsets.count == MN_COUNT - 1, "every mnemonic has its text");
}  // namespace

const char* Mnemonic(uint8_t index) {
  if (index == 0 || index > kOffsets.count) return "";
  return kMnemonicText + kOffsets.offset[index];
}

int MnemonicCount() { return kOffsets.count; }

const char* ThreeDNowName(uint8_t suffix) {
  switch (suffix) {
    case 0x0C: return "pi2fw";
    case 0x0D: return "pi2fd";
    case 0x1C: return "pf2iw";
    case 0x1D: return "pf2id";
    case 0x8A: return "pfnacc";
    case 0x8E: return "pfpnacc";
    case 0x90: return "pfcmpge";
    case 0x94: return "pfmin";
    case 0x96: return "pfrcp";
    case 0x97: return "pfrsqrt";
    case 0x9A: return "pfsub";
    case 0x9E: return "pfadd";
    case 0xA0: return "pfcmpgt";
    case 0xA4: return "pfmax";
    case 0xA6: return "pfrcpit1";
    case 0xA7: return "pfrsqit1";
    case 0xAA: return "pfsubr";
    case 0xAE: return "pfacc";
    case 0xB0: return "pfcmpeq";
    case 0xB4: return "pfmul";
    case 0xB6: return "pfrcpit2";
    case 0xB7: return "pmulhrw";
    case 0xBB: return "pswapd";
    case 0xBF: return "pavgusb";
    default: return nullptr;
  }
}

const char* const kConditionNames[16] = {"o", "no", "b", "nb", "z", "nz", "be", "a",
                                         "s", "ns", "p", "np", "l", "ge", "le", "g"};
const char* const kReg8Names[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const kReg16Names[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char* const kReg32Names[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
const char* const kSegmentNames[8] = {"es", "cs", "ss", "ds", "fs", "gs", "", ""};

}  // namespace kestrix::decoder
