// A stand-in for MATLAB's libmx.dll, for running the Windows MEX file under
// Wine: the array functions the gateway calls, over a simple array record,
// with mxMalloc/mxFree bookkeeping the test driver reads afterwards.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "StandinApi.h"

struct mxArray_tag {
    // Bytes: any other numeric class, or logical, its values in `bytes`.
    enum Kind { Double, Char, Struct, Bytes } kind = Double;
    mxClassID classId = mxDOUBLE_CLASS;
    std::vector<unsigned char> bytes;
    bool complex = false;
    std::vector<int> dims;             // at least two; their product is the element count
    std::vector<double> real;
    std::vector<double> imag;
    std::string text;
    std::size_t elements = 0;          // struct elements
    std::vector<std::string> names;    // struct field names, in order
    std::vector<mxArray*> values;      // element e, field k at e * names.size() + k
};

namespace {

std::vector<void*> gLive;
StandinMemoryStats gStats{};

// `count` elements as a column.
std::vector<int> ColumnOf(std::size_t count) { return {static_cast<int>(count), 1}; }

std::size_t ProductOf(int dimensions, const int* sizes) {
    std::size_t product = 1;
    for (int d = 0; d < dimensions; ++d) product *= sizes[d] > 0 ? static_cast<std::size_t>(sizes[d]) : 0;
    return product;
}

std::vector<int> DimsOf(int dimensions, const int* sizes) {
    std::vector<int> dims(sizes, sizes + (dimensions > 0 ? dimensions : 0));
    while (dims.size() < 2) dims.push_back(1);
    return dims;
}

std::size_t ElementBytes(mxClassID classId) {
    switch (classId) {
        case mxLOGICAL_CLASS: case mxINT8_CLASS: case mxUINT8_CLASS: return 1;
        case mxINT16_CLASS: case mxUINT16_CLASS: return 2;
        case mxINT32_CLASS: case mxUINT32_CLASS: case mxSINGLE_CLASS: return 4;
        default: return 8;
    }
}

mxArray* NewBytes(mxClassID classId, std::vector<int> dims) {
    mxArray* array = new mxArray;
    array->kind = mxArray::Bytes;
    array->classId = classId;
    std::size_t count = 1;
    for (int d : dims) count *= d > 0 ? static_cast<std::size_t>(d) : 0;
    array->dims = std::move(dims);
    array->bytes.assign(count * ElementBytes(classId), 0);
    return array;
}

std::ptrdiff_t FieldIndex(const mxArray* s, const char* name) {
    for (std::size_t k = 0; k < s->names.size(); ++k)
        if (s->names[k] == name) return static_cast<std::ptrdiff_t>(k);
    return -1;
}

}  // namespace

extern "C" {

mxArray* mxDuplicateArray(const mxArray* array) {
    if (array == nullptr) return nullptr;
    mxArray* copy = new mxArray(*array);
    for (mxArray*& value : copy->values) value = mxDuplicateArray(value);
    return copy;
}

mxArray* mxGetField_700(const mxArray* array, int index, const char* name) {
    if (array == nullptr || array->kind != mxArray::Struct || index < 0 ||
        static_cast<std::size_t>(index) >= array->elements || name == nullptr)
        return nullptr;
    const std::ptrdiff_t k = FieldIndex(array, name);
    if (k < 0) return nullptr;
    return array->values[static_cast<std::size_t>(index) * array->names.size() +
                         static_cast<std::size_t>(k)];
}

double* mxGetPr(const mxArray* array) {
    if (array == nullptr || array->kind != mxArray::Double || array->real.empty()) return nullptr;
    return const_cast<double*>(array->real.data());
}

size_t mxGetNumberOfElements(const mxArray* array) {
    switch (array->kind) {
        case mxArray::Double: return array->real.size();
        case mxArray::Char: return array->text.size();
        case mxArray::Struct: return array->elements;
        case mxArray::Bytes: return array->bytes.size() / ElementBytes(array->classId);
    }
    return 0;
}

const char* mxGetClassName(const mxArray* array) {
    switch (array->kind) {
        case mxArray::Double: return "double";
        case mxArray::Char: return "char";
        case mxArray::Struct: return "struct";
        case mxArray::Bytes:
            switch (array->classId) {
                case mxLOGICAL_CLASS: return "logical";
                case mxUINT8_CLASS: return "uint8";
                case mxSINGLE_CLASS: return "single";
                case mxUINT64_CLASS: return "uint64";
                case mxINT32_CLASS: return "int32";
                default: return "numeric";
            }
    }
    return "unknown";
}

mxArray* mxGetFieldByNumber_700(const mxArray* array, int index, int field) {
    if (array == nullptr || array->kind != mxArray::Struct || index < 0 || field < 0 ||
        static_cast<std::size_t>(index) >= array->elements ||
        static_cast<std::size_t>(field) >= array->names.size())
        return nullptr;
    return array->values[static_cast<std::size_t>(index) * array->names.size() +
                         static_cast<std::size_t>(field)];
}

void mxSetFieldByNumber_700(mxArray* array, int index, int field, mxArray* value) {
    if (array == nullptr || array->kind != mxArray::Struct || index < 0 || field < 0 ||
        static_cast<std::size_t>(index) >= array->elements ||
        static_cast<std::size_t>(field) >= array->names.size())
        return;
    // MATLAB does not free the value it replaces; the caller owns it.
    array->values[static_cast<std::size_t>(index) * array->names.size() +
                  static_cast<std::size_t>(field)] = value;
}

int mxGetNumberOfFields(const mxArray* array) {
    return array->kind == mxArray::Struct ? static_cast<int>(array->names.size()) : 0;
}

const char* mxGetFieldNameByNumber(const mxArray* array, int field) {
    if (array->kind != mxArray::Struct || field < 0 ||
        static_cast<std::size_t>(field) >= array->names.size())
        return nullptr;
    return array->names[static_cast<std::size_t>(field)].c_str();
}

mxArray* mxCreateStructArray_700(int dimensions, const int* sizes, int fields,
                                 const char** names) {
    mxArray* array = new mxArray;
    array->kind = mxArray::Struct;
    array->dims = DimsOf(dimensions, sizes);
    array->elements = ProductOf(dimensions, sizes);
    for (int k = 0; k < fields; ++k) array->names.push_back(names[k]);
    array->values.assign(array->elements * array->names.size(), nullptr);
    return array;
}

mxArray* mxCreateNumericArray_700(int dimensions, const int* sizes, mxClassID classId,
                                  mxComplexity complexity) {
    if (classId != mxDOUBLE_CLASS) {
        if (complexity == mxCOMPLEX) return nullptr;  // complex: doubles only
        return NewBytes(classId, DimsOf(dimensions, sizes));
    }
    mxArray* array = new mxArray;
    array->dims = DimsOf(dimensions, sizes);
    array->real.assign(ProductOf(dimensions, sizes), 0.0);
    array->complex = complexity == mxCOMPLEX;
    if (array->complex) array->imag.assign(array->real.size(), 0.0);
    return array;
}

int mxGetNumberOfDimensions_700(const mxArray* array) {
    return static_cast<int>(array->dims.size());
}

const int* mxGetDimensions_700(const mxArray* array) { return array->dims.data(); }

bool mxIsStruct(const mxArray* array) { return array->kind == mxArray::Struct; }
bool mxIsDouble(const mxArray* array) { return array->kind == mxArray::Double; }
bool mxIsComplex(const mxArray* array) { return array->complex; }
bool mxIsSparse(const mxArray*) { return false; }

// --- what the detector object's MEX file calls as well ---------------------

bool mxIsChar(const mxArray* array) { return array->kind == mxArray::Char; }
bool mxIsLogical(const mxArray* array) {
    return array->kind == mxArray::Bytes && array->classId == mxLOGICAL_CLASS;
}
bool mxIsNumeric(const mxArray* array) {
    return array->kind == mxArray::Double ||
           (array->kind == mxArray::Bytes && array->classId != mxLOGICAL_CLASS);
}

mxClassID mxGetClassID(const mxArray* array) {
    switch (array->kind) {
        case mxArray::Double: return mxDOUBLE_CLASS;
        case mxArray::Char: return mxCHAR_CLASS;
        case mxArray::Struct: return mxSTRUCT_CLASS;
        case mxArray::Bytes: return array->classId;
    }
    return mxUNKNOWN_CLASS;
}

void* mxGetData(const mxArray* array) {
    if (array->kind == mxArray::Double) return mxGetPr(array);
    if (array->kind == mxArray::Bytes && !array->bytes.empty())
        return const_cast<unsigned char*>(array->bytes.data());
    return nullptr;
}

mxLogical* mxGetLogicals(const mxArray* array) {
    return mxIsLogical(array) ? static_cast<mxLogical*>(mxGetData(array)) : nullptr;
}

double mxGetScalar(const mxArray* array) {
    if (mxGetNumberOfElements(array) == 0) return 0;
    switch (array->kind) {
        case mxArray::Double: return array->real[0];
        case mxArray::Char: return static_cast<unsigned char>(array->text[0]);
        case mxArray::Struct: return 0;
        case mxArray::Bytes: break;
    }
    const unsigned char* b = array->bytes.data();
    switch (array->classId) {
        case mxLOGICAL_CLASS: case mxUINT8_CLASS: return b[0];
        case mxSINGLE_CLASS: {
            float f;
            std::memcpy(&f, b, sizeof f);
            return f;
        }
        case mxUINT64_CLASS: {
            std::uint64_t u;
            std::memcpy(&u, b, sizeof u);
            return static_cast<double>(u);
        }
        case mxINT32_CLASS: {
            std::int32_t i;
            std::memcpy(&i, b, sizeof i);
            return i;
        }
        default: return 0;
    }
}

int mxGetString_700(const mxArray* array, char* text, int room) {
    if (array->kind != mxArray::Char || room < 1) return 1;
    const std::size_t n = array->text.size() < static_cast<std::size_t>(room - 1)
                              ? array->text.size()
                              : static_cast<std::size_t>(room - 1);
    std::memcpy(text, array->text.data(), n);
    text[n] = '\0';
    return n == array->text.size() ? 0 : 1;
}

mxArray* mxCreateDoubleScalar(double value) {
    mxArray* array = StandinCreateDouble(1, &value);
    array->dims = {1, 1};
    return array;
}

mxArray* mxCreateDoubleMatrix_700(int rows, int columns, mxComplexity complexity) {
    const int sizes[2] = {rows, columns};
    return mxCreateNumericArray_700(2, sizes, mxDOUBLE_CLASS, complexity);
}

mxArray* mxCreateNumericMatrix_700(int rows, int columns, mxClassID classId,
                                   mxComplexity complexity) {
    const int sizes[2] = {rows, columns};
    return mxCreateNumericArray_700(2, sizes, classId, complexity);
}

mxArray* mxCreateLogicalMatrix_700(int rows, int columns) {
    return NewBytes(mxLOGICAL_CLASS, {rows, columns});
}

void* mxMalloc(size_t bytes) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) return nullptr;
    gLive.push_back(block);
    ++gStats.allocations;
    gStats.bytesAllocated += bytes;
    return block;
}

void mxFree(void* block) {
    if (block == nullptr) return;
    for (std::size_t i = 0; i < gLive.size(); ++i) {
        if (gLive[i] == block) {
            gLive.erase(gLive.begin() + static_cast<std::ptrdiff_t>(i));
            ++gStats.frees;
            std::free(block);
            return;
        }
    }
    ++gStats.badFrees;  // not ours, or freed twice: count it, touch nothing
}

// --- the stand-in's own functions ------------------------------------------

mxArray* StandinCreateDouble(size_t count, const double* values) {
    mxArray* array = new mxArray;
    array->dims = ColumnOf(count);
    array->real.assign(count, 0.0);
    if (values != nullptr && count > 0) std::memcpy(array->real.data(), values, count * sizeof(double));
    return array;
}

mxArray* StandinCreateComplexDouble(size_t count) {
    mxArray* array = StandinCreateDouble(count, nullptr);
    array->complex = true;
    array->imag.assign(count, 0.0);
    return array;
}

mxArray* StandinCreateChar(const char* text) {
    mxArray* array = new mxArray;
    array->kind = mxArray::Char;
    array->text = text;
    array->dims = {1, static_cast<int>(array->text.size())};
    return array;
}

mxArray* StandinCreateNumeric(mxClassID classId, int dimensions, const int* sizes,
                              const void* values) {
    mxArray* array = classId == mxDOUBLE_CLASS
                         ? mxCreateNumericArray_700(dimensions, sizes, classId, mxREAL)
                         : NewBytes(classId, DimsOf(dimensions, sizes));
    void* data = mxGetData(array);
    const std::size_t bytes = classId == mxDOUBLE_CLASS ? array->real.size() * sizeof(double)
                                                        : array->bytes.size();
    if (values != nullptr && data != nullptr) std::memcpy(data, values, bytes);
    return array;
}

mxArray* StandinCreateStruct(size_t elements) {
    mxArray* array = new mxArray;
    array->kind = mxArray::Struct;
    array->elements = elements;
    array->dims = {1, static_cast<int>(elements)};
    return array;
}

void StandinSetField(mxArray* s, size_t index, const char* name, mxArray* value) {
    std::ptrdiff_t k = FieldIndex(s, name);
    if (k < 0) {
        // Widen every element's row by one field.
        const std::size_t oldCount = s->names.size();
        std::vector<mxArray*> values(s->elements * (oldCount + 1), nullptr);
        for (std::size_t e = 0; e < s->elements; ++e)
            for (std::size_t f = 0; f < oldCount; ++f)
                values[e * (oldCount + 1) + f] = s->values[e * oldCount + f];
        s->values.swap(values);
        s->names.push_back(name);
        k = static_cast<std::ptrdiff_t>(oldCount);
    }
    mxArray*& slot = s->values[index * s->names.size() + static_cast<std::size_t>(k)];
    StandinDestroy(slot);
    slot = value;
}

void StandinRemoveField(mxArray* s, const char* name) {
    const std::ptrdiff_t k = FieldIndex(s, name);
    if (k < 0) return;
    const std::size_t oldCount = s->names.size();
    std::vector<mxArray*> values;
    for (std::size_t e = 0; e < s->elements; ++e) {
        for (std::size_t f = 0; f < oldCount; ++f) {
            mxArray* value = s->values[e * oldCount + f];
            if (f == static_cast<std::size_t>(k))
                StandinDestroy(value);
            else
                values.push_back(value);
        }
    }
    s->values.swap(values);
    s->names.erase(s->names.begin() + k);
}

size_t StandinFieldCount(const mxArray* s) { return s->names.size(); }
const char* StandinFieldName(const mxArray* s, size_t k) { return s->names[k].c_str(); }

void StandinDestroy(mxArray* array) {
    if (array == nullptr) return;
    for (mxArray* value : array->values) StandinDestroy(value);
    delete array;
}

bool StandinIdentical(const mxArray* a, const mxArray* b) {
    if (a == nullptr || b == nullptr) return a == b;
    if (a->kind != b->kind || a->classId != b->classId || a->bytes != b->bytes ||
        a->complex != b->complex || a->dims != b->dims || a->text != b->text ||
        a->elements != b->elements || a->names != b->names || a->real.size() != b->real.size() ||
        a->imag.size() != b->imag.size() || a->values.size() != b->values.size())
        return false;
    if (!a->real.empty() && std::memcmp(a->real.data(), b->real.data(), a->real.size() * sizeof(double)) != 0)
        return false;
    if (!a->imag.empty() && std::memcmp(a->imag.data(), b->imag.data(), a->imag.size() * sizeof(double)) != 0)
        return false;
    for (std::size_t i = 0; i < a->values.size(); ++i)
        if (!StandinIdentical(a->values[i], b->values[i])) return false;
    return true;
}

void StandinResetMemoryStats(void) {
    gStats = StandinMemoryStats{};
    gStats.live = gLive.size();
}

StandinMemoryStats StandinGetMemoryStats(void) {
    StandinMemoryStats stats = gStats;
    stats.live = gLive.size();
    return stats;
}

void StandinReleaseLiveBlocks(void) {
    for (void* block : gLive) std::free(block);
    gLive.clear();
}

}  // extern "C"
