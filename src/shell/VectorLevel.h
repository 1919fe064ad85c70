#pragma once
// Which vector instructions the pixel loops use: the widest this processor has, chosen
// at run time (the program is built for the plain instruction set of its architecture).

namespace ostrelo {

// Avx512: AVX-512 F, BW, VL and VBMI with BMI2, as one level.
enum class VectorLevel { Plain, Sse2, Avx2, Avx512 };

// The widest level the processor has, but no wider than the cap.
VectorLevel Vectors();
// Lowers (or raises back) the widest level used, so that every path can be compared
// with the plain one on one machine.
void CapVectors(VectorLevel widest);

}  // namespace ostrelo
