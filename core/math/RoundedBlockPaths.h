// The block paths, one per instruction set, chosen in RoundedDispatch.cpp.
#pragma once

#include <cstdint>

namespace corvane {
namespace rounded {

void LogBlockSse2(const double* in, double* out, std::int64_t count);
void ExpBlockSse2(const double* in, double* out, std::int64_t count);
void LogBlockAvx2(const double* in, double* out, std::int64_t count);
void ExpBlockAvx2(const double* in, double* out, std::int64_t count);
void LogBlockAvx512(const double* in, double* out, std::int64_t count);
void ExpBlockAvx512(const double* in, double* out, std::int64_t count);

}  // namespace rounded
}  // namespace corvane
