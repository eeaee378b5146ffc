#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "TestModel.h"

namespace corvane::test {
namespace {

ModelCheck Check(TestModel& t) { return CheckModel(t.View(), t.Frame(), t.Matrix()); }

TEST(ModelCheck, AcceptsAFittingModelAndTruncatesSizes) {
    TestModel t(3, 5, 2, 2);
    t.owned.NumImageRows = 3.9;      // sizes truncate toward zero
    t.owned.NumMapColumns = 2.5;
    const ModelCheck check = Check(t);
    ASSERT_TRUE(check.ok()) << check.message;
    EXPECT_EQ(check.sizes.H, 3);
    EXPECT_EQ(check.sizes.W, 5);
    EXPECT_EQ(check.sizes.N, 15);
    EXPECT_EQ(check.sizes.K, 4);
}

TEST(ModelCheck, RejectsSizesThatAreNotWholePositiveInt32) {
    struct Case { double value; ModelProblem problem; };
    const Case cases[] = {
        {NAN, ModelProblem::SizeNotFinite},      {INFINITY, ModelProblem::SizeNotFinite},
        {-INFINITY, ModelProblem::SizeNotFinite}, {3e9, ModelProblem::SizeOutOfRange},
        {-3e9, ModelProblem::SizeOutOfRange},     {0.0, ModelProblem::SizeBelowOne},
        {0.99, ModelProblem::SizeBelowOne},       {-5.0, ModelProblem::SizeBelowOne},
    };
    for (const Case& c : cases) {
        for (int field = 0; field < 4; ++field) {
            TestModel t(2, 2, 1, 1);
            double* targets[4] = {&t.owned.NumImageRows, &t.owned.NumImageColumns,
                                  &t.owned.NumMapRows, &t.owned.NumMapColumns};
            *targets[field] = c.value;
            const ModelCheck check = Check(t);
            EXPECT_EQ(check.problem, c.problem) << c.value << " in size field " << field;
            EXPECT_NE(std::string(check.message).find('"'), std::string::npos) << check.message;
        }
    }
}

TEST(ModelCheck, RejectsProductsThatOverflow32Bits) {
    TestModel t(1, 1, 1, 1);
    t.owned.NumImageRows = 65536;
    t.owned.NumImageColumns = 32768;  // 2^31 pixels
    ModelCheck check = Check(t);
    EXPECT_EQ(check.problem, ModelProblem::SizeOverflow);
    EXPECT_NE(std::string(check.message).find("2147483648"), std::string::npos) << check.message;

    TestModel m(1, 1, 1, 1);
    m.owned.NumMapRows = 2147483647;
    m.owned.NumMapColumns = 2;
    EXPECT_EQ(Check(m).problem, ModelProblem::SizeOverflow);

    // Large but representable sizes are only as good as the arrays behind them.
    TestModel big(1, 1, 1, 1);
    big.owned.NumImageRows = 46340;
    big.owned.NumImageColumns = 46340;
    big.owned.NumMapRows = 40000;
    check = Check(big);
    EXPECT_EQ(check.problem, ModelProblem::FieldTooShort);
    EXPECT_STREQ(check.subject, "Mu");
    EXPECT_EQ(check.needs, 3ull * 40000 * 46340 * 46340);
}

TEST(ModelCheck, NamesTheFirstArrayThatIsTooShort) {
    for (const ModelField& entry : kModelFields) {
        const char* name = entry.name;
        TestModel t(2, 3, 2, 1);
        BackgroundModel view = t.View();
        DoubleView& field = view.*entry.view;
        const std::int64_t needed = field.count;
        field.count = needed - 1;
        const ModelCheck check = CheckModel(view, t.Frame(), t.Matrix());
        EXPECT_EQ(check.problem, ModelProblem::FieldTooShort) << name;
        EXPECT_STREQ(check.subject, name);
        EXPECT_EQ(check.has, static_cast<std::uint64_t>(needed - 1));
        EXPECT_EQ(check.needs, static_cast<std::uint64_t>(needed));
        EXPECT_NE(std::string(check.message).find(name), std::string::npos) << check.message;
    }

    TestModel t(2, 3, 2, 1);
    t.frame.pop_back();
    EXPECT_EQ(Check(t).problem, ModelProblem::FrameTooShort);
    t.frame.push_back(0);
    t.matrix.resize(3);
    const ModelCheck check = Check(t);
    EXPECT_EQ(check.problem, ModelProblem::MatrixTooShort);
    EXPECT_EQ(check.needs, 4u);
    EXPECT_STREQ(ModelProblemName(check.problem), "matrixTooShort");

    // A missing size field is a field with no elements.
    BackgroundModel view = t.View();
    view.NumImageColumns = DoubleView{};
    EXPECT_EQ(CheckModel(view, t.Frame(), t.Matrix()).problem, ModelProblem::FieldTooShort);
}

}  // namespace
}  // namespace corvane::test
