#include "ModelFields.h"

#include <cstring>

namespace corvane {
namespace {

// Room for the formula and shape texts of every field, built once from the
// table (a field's texts are at most "3*K*N" and "3 x K x N").
struct FieldTexts {
    char formula[kModelFieldCount][16];
    char shape[kModelFieldCount][24];
};

const char* ExtentName(Extent extent) {
    switch (extent) {
        case Extent::One: return "1";
        case Extent::Three: return "3";
        case Extent::Four: return "4";
        case Extent::K: return "K";
        case Extent::H: return "H";
        case Extent::W: return "W";
        case Extent::N: return "N";
    }
    return "?";
}

void Append(char* out, std::size_t size, const char* text) {
    const std::size_t used = std::strlen(out);
    if (used + 1 < size) std::strncat(out, text, size - used - 1);
}

FieldTexts BuildTexts() {
    FieldTexts texts{};
    for (int i = 0; i < kModelFieldCount; ++i) {
        const Extent* shape = kModelFields[i].shape;
        char* formula = texts.formula[i];
        // H x W is N pixels; the count is written in N.
        bool pixels = false;
        for (int d = 0; d < 3; ++d) {
            if (shape[d] == Extent::One) continue;
            const bool imageSide = shape[d] == Extent::H || shape[d] == Extent::W;
            if (imageSide && pixels) continue;
            if (formula[0] != '\0') Append(formula, sizeof texts.formula[i], "*");
            Append(formula, sizeof texts.formula[i], imageSide ? "N" : ExtentName(shape[d]));
            pixels = pixels || imageSide;
        }
        if (formula[0] == '\0') Append(formula, sizeof texts.formula[i], "1");
        const int dimensions = shape[2] == Extent::One ? 2 : 3;
        for (int d = 0; d < dimensions; ++d) {
            if (d > 0) Append(texts.shape[i], sizeof texts.shape[i], " x ");
            Append(texts.shape[i], sizeof texts.shape[i], ExtentName(shape[d]));
        }
    }
    return texts;
}

const FieldTexts& Texts() {
    static const FieldTexts texts = BuildTexts();
    return texts;
}

// The row of the table `field` is; a copy of a row is found by its name.
int IndexOf(const ModelField& field) {
    for (int i = 0; i < kModelFieldCount; ++i)
        if (&field == &kModelFields[i]) return i;
    return ModelFieldIndex(field.name);
}

}  // namespace

std::int64_t ExtentLength(Extent extent, const ModelSizes& sizes) {
    switch (extent) {
        case Extent::One: return 1;
        case Extent::Three: return 3;
        case Extent::Four: return 4;
        case Extent::K: return sizes.K;
        case Extent::H: return sizes.H;
        case Extent::W: return sizes.W;
        case Extent::N: return sizes.N;
    }
    return 0;
}

bool IsScalarField(const ModelField& field) {
    return field.shape[0] == Extent::One && field.shape[1] == Extent::One &&
           field.shape[2] == Extent::One;
}

std::uint64_t FieldElements(const ModelField& field, const ModelSizes& sizes) {
    std::uint64_t count = 1;
    for (const Extent extent : field.shape)
        count *= static_cast<std::uint64_t>(ExtentLength(extent, sizes));
    return count;
}

int FieldDimensions(const ModelField& field, const ModelSizes& sizes, std::int64_t dims[3]) {
    for (int d = 0; d < 3; ++d) dims[d] = ExtentLength(field.shape[d], sizes);
    return field.shape[2] == Extent::One ? 2 : 3;
}

const char* FieldElementsFormula(const ModelField& field) {
    const int index = IndexOf(field);
    return index < 0 ? "?" : Texts().formula[index];
}

const char* FieldShapeText(const ModelField& field) {
    const int index = IndexOf(field);
    return index < 0 ? "?" : Texts().shape[index];
}

int ModelFieldIndex(const char* name) {
    if (name == nullptr) return -1;
    for (int i = 0; i < kModelFieldCount; ++i)
        if (std::strcmp(kModelFields[i].name, name) == 0) return i;
    return -1;
}

int FirstDifferentField(const BackgroundModel& a, const BackgroundModel& b) {
    for (int i = 0; i < kModelFieldCount; ++i) {
        const DoubleView& x = a.*kModelFields[i].view;
        const DoubleView& y = b.*kModelFields[i].view;
        if (x.count != y.count) return i;
        if (x.count <= 0 || x.data == y.data) continue;
        if (x.data == nullptr || y.data == nullptr ||
            std::memcmp(x.data, y.data, static_cast<std::size_t>(x.count) * sizeof(double)) != 0)
            return i;
    }
    return -1;
}

}  // namespace corvane
