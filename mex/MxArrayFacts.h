// The facts of one mxArray for the shared checks (GatewayModel.h), read with
// MATLAB's array API: both MEX files bind the model's fields through this.
// Include after mex.h.
#pragma once

#include <cstdint>

#include "GatewayModel.h"

namespace corvane::gateway {

// Null (a missing field) gives facts with present = false.
inline ArrayFacts MxArrayFacts(const mxArray* array) {
    ArrayFacts facts;
    if (array == nullptr) return facts;
    facts.present = true;
    facts.className = mxGetClassName(array);
    facts.isDouble = mxIsDouble(array);
    facts.isComplex = mxIsComplex(array);
    facts.isSparse = mxIsSparse(array);
    facts.count = static_cast<std::int64_t>(mxGetNumberOfElements(array));
    if (facts.isDouble && !facts.isComplex && !facts.isSparse && facts.count > 0)
        facts.data = mxGetPr(array);
    return facts;
}

}  // namespace corvane::gateway
