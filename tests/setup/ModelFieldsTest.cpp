// The table of the model's fields and everything generated from it or
// looping over it. Every test here walks the table rather than naming
// fields, so a row added to the table is covered by each of them: its
// element count and shape, the check that refuses a wrong count, the views
// and copies of OwnedModel, and the comparison the tests use.
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "ModelCheck.h"
#include "ModelFields.h"
#include "ModelSetup.h"

namespace corvane {
namespace {

// OwnedModel holds one member per row and nothing else: a vector for an
// array, a double for a scalar.
constexpr std::size_t OwnedSizeFromTable() {
    std::size_t bytes = 0;
    for (const ModelField& field : kModelFields) {
        const bool scalar = field.shape[0] == Extent::One && field.shape[1] == Extent::One &&
                            field.shape[2] == Extent::One;
        bytes += scalar ? sizeof(double) : sizeof(std::vector<double>);
    }
    return bytes;
}
static_assert(sizeof(OwnedModel) == OwnedSizeFromTable(), "OwnedModel holds exactly the table");

// UpdatedFields has a view for every written row, by the same member.
constexpr bool WrittenRowsHaveUpdatedViews() {
    for (const ModelField& field : kModelFields)
        if (field.written != (field.updated != nullptr)) return false;
    return true;
}
static_assert(WrittenRowsHaveUpdatedViews(), "an updated view for each written field");

// Counts the rows of the list itself.
#define COUNT_ROW(name, written, d0, d1, d2) +1
static_assert(0 CORVANE_MODEL_FIELDS(COUNT_ROW) == kModelFieldCount, "one entry per row");
#undef COUNT_ROW

struct Example {
    std::int32_t H = 3, W = 5, mapRows = 2, mapColumns = 3;
    std::vector<double> frame, matrix;
    OwnedModel model;

    Example() {
        ModelParameters parameters;
        parameters.mapRows = mapRows;
        parameters.mapColumns = mapColumns;
        frame.resize(static_cast<std::size_t>(3 * H * W));
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<double>(i % 251);
        model = BuildInitialModel(parameters, frame.data(), H, W);
        matrix = BuildNeighborhoodMatrix(parameters);
    }
    ModelSizes Sizes() const { return ModelSizes{H, W, H * W, mapRows * mapColumns}; }
    FrameImage Frame() const { return FrameImage{frame.data(), std::int64_t(frame.size())}; }
    NeighborhoodMatrix Matrix() const {
        return NeighborhoodMatrix{matrix.data(), std::int64_t(matrix.size())};
    }
};

// The value of a formula such as "3*K*N" for the sizes.
std::uint64_t Evaluate(const std::string& formula, const ModelSizes& sizes) {
    std::uint64_t value = 1;
    for (const char c : formula) {
        switch (c) {
            case 'K': value *= static_cast<std::uint64_t>(sizes.K); break;
            case 'N': value *= static_cast<std::uint64_t>(sizes.N); break;
            case '*': break;
            default: value *= static_cast<std::uint64_t>(c - '0');
        }
    }
    return value;
}

TEST(ModelFields, CountsFormulasAndShapesAgree) {
    const Example example;
    const ModelSizes sizes = example.Sizes();
    for (int i = 0; i < kModelFieldCount; ++i) {
        const ModelField& field = kModelFields[i];
        SCOPED_TRACE(field.name);
        EXPECT_EQ(ModelFieldIndex(field.name), i);
        EXPECT_EQ(Evaluate(FieldElementsFormula(field), sizes), FieldElements(field, sizes));
        std::int64_t dims[3];
        const int dimensions = FieldDimensions(field, sizes, dims);
        std::uint64_t product = 1;
        for (int d = 0; d < dimensions; ++d) product *= static_cast<std::uint64_t>(dims[d]);
        EXPECT_EQ(product, FieldElements(field, sizes));
        // One " x " between dimensions.
        std::string shape = FieldShapeText(field);
        int separators = 0;
        for (std::size_t at = shape.find(" x "); at != std::string::npos;
             at = shape.find(" x ", at + 1))
            ++separators;
        EXPECT_EQ(separators + 1, dimensions) << shape;
        EXPECT_EQ(IsScalarField(field), FieldElements(field, sizes) == 1 &&
                                            FieldElements(field, ModelSizes{7, 7, 49, 9}) == 1);
    }
    EXPECT_EQ(ModelFieldIndex("mu"), -1) << "names are case-sensitive";
    EXPECT_STREQ(FieldShapeText(kModelFields[ModelFieldIndex("Mu")]), "3 x K x N");
    EXPECT_STREQ(FieldElementsFormula(kModelFields[ModelFieldIndex("imMask")]), "N");
    // A copy of a row describes the same field.
    const ModelField copy = kModelFields[ModelFieldIndex("Cov")];
    EXPECT_STREQ(FieldShapeText(copy), "4 x N");
    EXPECT_STREQ(FieldElementsFormula(copy), "4*N");
}

// A model built for the sizes has exactly the table's counts; each array
// field one element short or long is refused, naming it, and each scalar
// field empty. A scalar is read through its first element.
TEST(ModelFields, EveryFieldIsCheckedForItsExactCount) {
    Example example;
    const BackgroundModel view = example.model.View();
    ASSERT_TRUE(CheckModel(view, example.Frame(), example.Matrix()).ok());
    for (const ModelField& field : kModelFields) {
        SCOPED_TRACE(field.name);
        EXPECT_EQ(static_cast<std::uint64_t>((view.*field.view).count),
                  FieldElements(field, example.Sizes()));
        for (const int change : {-1, +1}) {
            std::vector<double> resized((view.*field.view).data,
                                        (view.*field.view).data + (view.*field.view).count);
            resized.resize(resized.size() + change, 1.0);
            BackgroundModel wrong = view;
            wrong.*field.view = DoubleView{resized.data(), std::int64_t(resized.size())};
            const ModelCheck check = CheckModel(wrong, example.Frame(), example.Matrix());
            if (IsScalarField(field) && change > 0) {
                EXPECT_TRUE(check.ok()) << check.message;
                continue;
            }
            EXPECT_EQ(check.problem,
                      change < 0 ? ModelProblem::FieldTooShort : ModelProblem::FieldTooLong)
                << check.message;
            EXPECT_STREQ(check.subject, field.name);
            EXPECT_NE(std::strstr(check.message, field.name), nullptr) << check.message;
        }
    }
}

// The map shape that disagrees with the arrays: a 2 x 3 model said to be
// 2 x 2 (K = 4) would read Mu and Sigma2 with the wrong stride.
TEST(ModelFields, AMapShapeThatDisagreesWithTheArraysIsRefused) {
    Example example;
    example.model.NumMapColumns = 2;
    const ModelCheck check = CheckModel(example.model.View(), example.Frame(), example.Matrix());
    EXPECT_EQ(check.problem, ModelProblem::FieldTooLong);
    EXPECT_STREQ(check.subject, "Mu");
    EXPECT_NE(std::strstr(check.message, "exactly 3*K*N"), nullptr) << check.message;
}

// Views, copies and the comparison cover every field: a change to any one
// element of any field is seen, and a copy has every field.
TEST(ModelFields, EveryFieldIsViewedCopiedAndCompared) {
    Example example;
    const BackgroundModel view = example.model.View();
    const OwnedModel copy = CopyModel(view, example.Sizes());
    EXPECT_EQ(FirstDifferentField(copy, example.model), -1);
    for (int i = 0; i < kModelFieldCount; ++i) {
        SCOPED_TRACE(kModelFields[i].name);
        const DoubleView original = view.*kModelFields[i].view;
        const DoubleView copied = copy.ReadView().*kModelFields[i].view;
        EXPECT_NE(original.data, copied.data) << "a copy has memory of its own";
        OwnedModel changed = copy;
        const DoubleView target = changed.View().*kModelFields[i].view;
        double& last = target.data[target.count - 1];
        last = last == 12345.5 ? 54321.5 : 12345.5;
        EXPECT_EQ(FirstDifferentField(changed, copy), i);
        // The views of UpdatedFields are the model's own for written fields.
        const UpdatedFields updated = UpdatedFieldsOf(view);
        if (kModelFields[i].updated != nullptr) {
            EXPECT_EQ((updated.*kModelFields[i].updated).data, original.data);
        }
    }
    // SizeWrittenFieldsLike sizes exactly the written fields.
    OwnedModel scratch;
    SizeWrittenFieldsLike(example.model, &scratch);
    for (const ModelField& field : kModelFields) {
        if (IsScalarField(field)) continue;
        SCOPED_TRACE(field.name);
        EXPECT_EQ((scratch.ReadView().*field.view).count,
                  field.written ? (view.*field.view).count : 0);
    }
    EXPECT_EQ(SizesOf(example.model).K, example.Sizes().K);
    EXPECT_EQ(SizesOf(example.model).N, example.Sizes().N);
}

}  // namespace
}  // namespace corvane
