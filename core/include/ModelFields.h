// The table of the model's fields (ModelFieldList.h) as data: each field's
// name, where it is bound in a BackgroundModel and an UpdatedFields, whether
// an update writes it, and its MATLAB shape, from which its element count
// follows. Hosts loop over kModelFields to bind, copy, check and export a
// model; none of them names a field for that.
#pragma once

#include <cstdint>

#include "BackgroundModel.h"

namespace corvane {

struct ModelField {
    const char* name;
    DoubleView BackgroundModel::*view;
    DoubleView UpdatedFields::*updated;  // null for a field the update does not write
    bool written;
    Extent shape[3];
};

namespace detail {
constexpr DoubleView UpdatedFields::*UpdatedMember(DoubleView UpdatedFields::*member) {
    return member;
}
constexpr DoubleView UpdatedFields::*UpdatedMember(NotWritten UpdatedFields::*) { return nullptr; }
}  // namespace detail

// clang-format off
inline constexpr ModelField kModelFields[] = {
#define CORVANE_FIELD_ROW(name, written, d0, d1, d2)                                   \
    {#name, &BackgroundModel::name, detail::UpdatedMember(&UpdatedFields::name), written, \
     {Extent::d0, Extent::d1, Extent::d2}},
    CORVANE_MODEL_FIELDS(CORVANE_FIELD_ROW)
#undef CORVANE_FIELD_ROW
};
// clang-format on

inline constexpr int kModelFieldCount = static_cast<int>(sizeof kModelFields / sizeof kModelFields[0]);

// Every view of a BackgroundModel is a row of the table: a member added to the
// struct by hand, outside the table, fails here.
static_assert(sizeof(BackgroundModel) == kModelFieldCount * sizeof(DoubleView),
              "BackgroundModel holds exactly the table's fields");

// The length of one extent for these sizes.
std::int64_t ExtentLength(Extent extent, const ModelSizes& sizes);

// Whether the field is a scalar (shape 1 x 1).
bool IsScalarField(const ModelField& field);

// The field's element count for these sizes: the product of its shape.
std::uint64_t FieldElements(const ModelField& field, const ModelSizes& sizes);

// The field's MATLAB shape for these sizes into `dims`; returns the number
// of dimensions (2 or 3).
int FieldDimensions(const ModelField& field, const ModelSizes& sizes, std::int64_t dims[3]);

// The element count as a formula of the sizes ("3*K*N", "K*N", "N", "1").
const char* FieldElementsFormula(const ModelField& field);

// The shape in words ("3 x K x N", "H x W", "1 x 1").
const char* FieldShapeText(const ModelField& field);

// The index of the field called `name` (exact spelling) in kModelFields, or -1.
int ModelFieldIndex(const char* name);

// The index of the first field whose views differ between `a` and `b` in
// element count or in any bit of their elements, or -1 when the two models
// hold the same fields, bit for bit.
int FirstDifferentField(const BackgroundModel& a, const BackgroundModel& b);

}  // namespace corvane
