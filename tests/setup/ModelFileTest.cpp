#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <matio.h>

#include "Detector.h"
#include "ModelFile.h"
#include "ParameterTable.h"
#include "SyntheticScene.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A short video, a detector past its start with parameters other than the
// defaults, and a folder for the files.
class ModelFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        scene.H = 11;
        scene.W = 14;
        scene.squareSize = 4;
        parameters.mapRows = 2;
        parameters.mapColumns = 2;
        parameters.initialFrames = 3;
        parameters.learningRate = 0.07;
        parameters.flickerStep = 0.2;
        parameters.blinkRate = 0.1;
        frames.resize(16);
        for (std::size_t t = 0; t < frames.size(); ++t)
            scene.Render(static_cast<std::int32_t>(t), frames[t], nullptr);
        folder = fs::temp_directory_path() /
                 ("corvane-modelfile-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::vector<std::vector<std::uint8_t>> Run(Detector& detector, std::size_t from,
                                               std::size_t to) const {
        std::vector<std::vector<std::uint8_t>> masks;
        for (std::size_t t = from; t < to; ++t) {
            std::vector<std::uint8_t> mask(std::size_t(scene.H) * scene.W);
            std::string error;
            EXPECT_TRUE(detector.Process(FrameImage{frames[t].data(), std::int64_t(frames[t].size())},
                                         mask.data(), nullptr, &error))
                << error;
            masks.push_back(mask);
        }
        return masks;
    }

    // A model file of the detector after `k` frames.
    fs::path SavedAfter(std::size_t k) {
        Detector detector(parameters);
        std::string error;
        EXPECT_TRUE(detector.Start(scene.H, scene.W, &error)) << error;
        Run(detector, 0, k);
        const fs::path path = folder / "model.mat";
        EXPECT_TRUE(SaveDetector(detector, path.string(), &error)) << error;
        return path;
    }

    // The error ReadModelFile gives for `path`, which it must refuse; ""
    // when it reads it.
    std::string Refusal(const fs::path& path) {
        SavedDetector saved;
        saved.model.CurrentFrame = -7;  // must stay as it is
        std::string error;
        if (ReadModelFile(path.string(), &saved, &error)) return "";
        EXPECT_EQ(saved.model.CurrentFrame, -7) << "nothing is handed back";
        EXPECT_FALSE(error.empty());
        return error;
    }

    SyntheticScene scene;
    ModelParameters parameters;
    std::vector<std::vector<double>> frames;
    fs::path folder;
};

// Rewrites the struct of `from` into `to`: each field through `change`
// (returns the field to write, a duplicate, or null to leave it out), then
// the fields `extra` names, each a 1 x 1 double.
void Rewrite(const fs::path& from, const fs::path& to,
             const std::function<matvar_t*(const char*, matvar_t*)>& change,
             const std::vector<std::string>& extra = {}) {
    mat_t* in = Mat_Open(from.c_str(), MAT_ACC_RDONLY);
    ASSERT_NE(in, nullptr);
    matvar_t* model = Mat_VarRead(in, kModelVariable);
    Mat_Close(in);
    ASSERT_NE(model, nullptr);
    std::vector<std::pair<std::string, matvar_t*>> fields;
    char* const* names = Mat_VarGetStructFieldnames(model);
    for (unsigned k = 0; k < Mat_VarGetNumberOfFields(model); ++k) {
        matvar_t* field = change(names[k], Mat_VarGetStructFieldByIndex(model, k, 0));
        if (field != nullptr) fields.emplace_back(names[k], field);
    }
    double one = 1;
    std::size_t dims[2] = {1, 1};
    for (const std::string& name : extra)
        fields.emplace_back(name, Mat_VarCreate(name.c_str(), MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims,
                                                &one, 0));
    std::vector<const char*> fieldNames;
    for (auto& field : fields) fieldNames.push_back(field.first.c_str());
    matvar_t* out = Mat_VarCreateStruct(kModelVariable, 2, dims, fieldNames.data(),
                                        static_cast<unsigned>(fieldNames.size()));
    for (auto& field : fields) Mat_VarSetStructFieldByName(out, field.first.c_str(), 0, field.second);
    mat_t* file = Mat_CreateVer(to.c_str(), nullptr, MAT_FT_MAT5);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Mat_VarWrite(file, out, MAT_COMPRESSION_NONE), 0);
    Mat_Close(file);
    Mat_VarFree(out);
    Mat_VarFree(model);
}

matvar_t* Keep(const char*, matvar_t* field) { return Mat_VarDuplicate(field, 1); }

// A video cut in two goes on from the file exactly: the masks and the
// model of the second half are those of one run, bit for bit, and the
// parameters come back as they were saved.
TEST_F(ModelFileTest, AResumedVideoGivesTheMasksOfOneRun) {
    Detector whole(parameters);
    std::string error;
    ASSERT_TRUE(whole.Start(scene.H, scene.W, &error)) << error;
    Run(whole, 0, 6);
    const auto rest = Run(whole, 6, frames.size());

    const fs::path path = SavedAfter(6);
    SavedDetector saved;
    ASSERT_TRUE(ReadModelFile(path.string(), &saved, &error)) << error;
    ASSERT_TRUE(saved.hasStream);
    ASSERT_TRUE(saved.hasParameters);
    EXPECT_EQ(DescribeParameters(saved.parameters), DescribeParameters(parameters));
    EXPECT_EQ(saved.model.CurrentFrame, 6);

    Detector continued(saved.parameters);
    ASSERT_TRUE(ContinueDetector(saved, &continued, &error)) << error;
    EXPECT_EQ(Run(continued, 6, frames.size()), rest);
    EXPECT_LT(FirstDifferentField(continued.model(), whole.model()), 0);
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename(), "model.mat") << "nothing is left beside it";
}

// The bytes are the file's, and read back to the same model.
TEST_F(ModelFileTest, BytesAreTheFile) {
    Detector detector(parameters);
    std::string error;
    ASSERT_TRUE(detector.Start(scene.H, scene.W, &error)) << error;
    std::string bytes;
    EXPECT_FALSE(ModelFileBytes(detector.model(), nullptr, nullptr, &bytes, &error))
        << "no model before the first frame";
    Run(detector, 0, 5);
    const ModelParameters p = detector.parameters();
    ASSERT_TRUE(ModelFileBytes(detector.model(), &detector.stream(), &p, &bytes, &error)) << error;
    ASSERT_TRUE(SaveDetector(detector, (folder / "m.mat").string(), &error)) << error;
    // The header carries the time the file was made; everything after it is
    // the model.
    const std::string file = ReadBytes(folder / "m.mat");
    ASSERT_EQ(bytes.size(), file.size());
    EXPECT_EQ(bytes.substr(128), file.substr(128));
    SavedDetector saved;
    ASSERT_TRUE(ReadModelBytes(bytes, &saved, &error)) << error;
    EXPECT_LT(FirstDifferentField(saved.model, detector.model()), 0);
    EXPECT_FALSE(ReadModelBytes(bytes.substr(0, bytes.size() / 2), &saved, &error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
}

// Files a user may hand over by mistake: each is refused with its reason.
TEST_F(ModelFileTest, RefusesWhatIsNotAWholeModel) {
    const fs::path good = SavedAfter(5);
    EXPECT_EQ(Refusal(good), "");
    EXPECT_NE(Refusal(folder / "absent.mat").find("cannot read"), std::string::npos);
    EXPECT_NE(Refusal(folder).find("not a file"), std::string::npos);

    WriteBytes(folder / "text.mat", "Mu = [1 2 3]\n");
    EXPECT_NE(Refusal(folder / "text.mat").find("not a MATLAB MAT-file"), std::string::npos);
    WriteBytes(folder / "empty.mat", "");
    EXPECT_NE(Refusal(folder / "empty.mat").find("not a MATLAB MAT-file"), std::string::npos);

    // Cut short anywhere past the header: the variable or its data is gone.
    const std::string bytes = ReadBytes(good);
    for (std::size_t keep : {std::size_t(128), std::size_t(200), bytes.size() / 2,
                             bytes.size() - 8, bytes.size() - 1}) {
        WriteBytes(folder / "cut.mat", bytes.substr(0, keep));
        const std::string error = Refusal(folder / "cut.mat");
        EXPECT_NE(error, "") << "cut to " << keep << " of " << bytes.size() << " bytes";
    }

    // Another MAT-file: a variable of another name.
    {
        mat_t* file = Mat_CreateVer((folder / "other.mat").c_str(), nullptr, MAT_FT_MAT5);
        double x = 3;
        std::size_t dims[2] = {1, 1};
        matvar_t* v = Mat_VarCreate("x", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, &x, 0);
        Mat_VarWrite(file, v, MAT_COMPRESSION_NONE);
        Mat_VarFree(v);
        Mat_Close(file);
        EXPECT_NE(Refusal(folder / "other.mat").find("no variable \"model\""), std::string::npos);
    }
}

TEST_F(ModelFileTest, RefusesMissingExtraAndMisshapenFields) {
    const fs::path good = SavedAfter(5);
    const fs::path bad = folder / "bad.mat";
    struct Case {
        const char* what;
        std::function<matvar_t*(const char*, matvar_t*)> change;
        std::vector<std::string> extra;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"a field left out",
         [](const char* name, matvar_t* f) { return std::string(name) == "Sigma2" ? nullptr : Keep(name, f); },
         {}, "no field Sigma2"},
        {"a field no model has", &Keep, {"Speed"}, "field Speed"},
        {"part of the stream",
         [](const char* name, matvar_t* f) { return std::string(name) == "BlinkRate" ? nullptr : Keep(name, f); },
         {}, "go together"},
        {"single instead of double",
         [](const char* name, matvar_t* f) -> matvar_t* {
             if (std::string(name) != "Pi") return Keep(name, f);
             std::vector<float> values(f->nbytes / sizeof(double));
             for (std::size_t k = 0; k < values.size(); ++k) values[k] = float(static_cast<double*>(f->data)[k]);
             return Mat_VarCreate(name, MAT_C_SINGLE, MAT_T_SINGLE, f->rank, f->dims, values.data(), 0);
         },
         {}, "Pi is single"},
        {"a transposed field",
         [](const char* name, matvar_t* f) -> matvar_t* {
             matvar_t* copy = Mat_VarDuplicate(f, 1);
             if (std::string(name) == "Var") std::swap(copy->dims[0], copy->dims[1]);
             return copy;
         },
         {}, "Var is 14 x 11"},
        {"a map size that is not whole",
         [](const char* name, matvar_t* f) -> matvar_t* {
             matvar_t* copy = Mat_VarDuplicate(f, 1);
             if (std::string(name) == "NumMapRows") *static_cast<double*>(copy->data) = 2.5;
             return copy;
         },
         {}, "NumMapRows must be a whole number"},
    };
    for (const Case& c : cases) {
        Rewrite(good, bad, c.change, c.extra);
        const std::string error = Refusal(bad);
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
    }
    // A model of its own fields alone (as MATLAB's Corvane gives it) is read,
    // without the stream or the parameters.
    Rewrite(good, bad, [](const char* name, matvar_t* f) {
        return ModelFieldIndex(name) >= 0 ? Keep(name, f) : nullptr;
    });
    SavedDetector saved;
    std::string error;
    ASSERT_TRUE(ReadModelFile(bad.string(), &saved, &error)) << error;
    EXPECT_FALSE(saved.hasStream);
    EXPECT_FALSE(saved.hasParameters);
}

// A write that fails leaves the old file as it was and nothing beside it.
TEST_F(ModelFileTest, AFailedWriteChangesNothing) {
    const fs::path path = SavedAfter(5);
    const std::string before = ReadBytes(path);
    std::string error;
    OwnedModel empty;
    EXPECT_FALSE(WriteModelFile(path.string(), empty, nullptr, nullptr, &error));
    EXPECT_NE(error.find("no model"), std::string::npos) << error;
    EXPECT_FALSE(WriteModelFile((folder / "no-such-folder" / "m.mat").string(),
                                SavedDetector().model, nullptr, nullptr, &error));
    SavedDetector saved;
    ASSERT_TRUE(ReadModelFile(path.string(), &saved, &error)) << error;
    saved.model.Pi.pop_back();  // a model whose arrays do not fit its sizes
    EXPECT_FALSE(WriteModelFile(path.string(), saved.model, nullptr, nullptr, &error));
    EXPECT_NE(error.find("Pi"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(path), before);
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
}

// A file saved before the median grew with the frame has no medianShare: it
// goes on with the fixed median it was made with, not with today's default;
// likewise one saved before the inside of objects was spared (no
// interiorBlink) goes on testing every pixel's neighbours.
TEST_F(ModelFileTest, AnOlderFileWithoutNewerParametersKeepsHowItDecided) {
    const fs::path bad = folder / "older.mat";
    Rewrite(SavedAfter(5), bad, [](const char* name, matvar_t* f) -> matvar_t* {
        if (std::string(name) != kParametersField) return Keep(name, f);
        std::vector<const char*> names;
        std::vector<matvar_t*> values;
        char* const* all = Mat_VarGetStructFieldnames(f);
        for (unsigned k = 0; k < Mat_VarGetNumberOfFields(f); ++k) {
            if (std::string(all[k]) == "medianShare" || std::string(all[k]) == "interiorBlink")
                continue;
            names.push_back(all[k]);
            values.push_back(Mat_VarDuplicate(Mat_VarGetStructFieldByIndex(f, k, 0), 1));
        }
        std::size_t dims[2] = {1, 1};
        matvar_t* set = Mat_VarCreateStruct(name, 2, dims, names.data(),
                                            static_cast<unsigned>(names.size()));
        for (std::size_t k = 0; k < names.size(); ++k)
            Mat_VarSetStructFieldByName(set, names[k], 0, values[k]);
        return set;
    });
    SavedDetector saved;
    std::string error;
    ASSERT_TRUE(ReadModelFile(bad.string(), &saved, &error)) << error;
    ASSERT_TRUE(saved.hasParameters);
    EXPECT_EQ(saved.parameters.medianShare, 0.0);
    EXPECT_EQ(saved.parameters.interiorBlink, 0.0);
    EXPECT_EQ(saved.parameters.interiorGaps, parameters.interiorGaps);
    EXPECT_EQ(saved.parameters.learningRate, parameters.learningRate);
    // A file of today keeps the share it was saved with.
    ASSERT_TRUE(ReadModelFile(SavedAfter(5).string(), &saved, &error)) << error;
    EXPECT_EQ(saved.parameters.medianShare, ModelParameters().medianShare);
    EXPECT_EQ(saved.parameters.interiorBlink, ModelParameters().interiorBlink);
}

// A model continued on frames of another size is refused at the first frame
// and the detector stays as it was.
TEST_F(ModelFileTest, AModelOfAnotherSizeRefusesTheFrame) {
    const fs::path path = SavedAfter(5);
    SavedDetector saved;
    std::string error;
    ASSERT_TRUE(ReadModelFile(path.string(), &saved, &error)) << error;
    Detector detector(saved.parameters);
    ASSERT_TRUE(ContinueDetector(saved, &detector, &error)) << error;
    SyntheticScene larger = scene;
    larger.W += 1;
    std::vector<double> frame;
    larger.Render(5, frame, nullptr);
    std::vector<std::uint8_t> mask(std::size_t(larger.H) * larger.W);
    EXPECT_FALSE(detector.Process(FrameImage{frame.data(), std::int64_t(frame.size())}, mask.data(),
                                  nullptr, &error));
    EXPECT_NE(error.find("11 x 14"), std::string::npos) << error;
    EXPECT_LT(FirstDifferentField(detector.model(), saved.model), 0);
}

}  // namespace
}  // namespace corvane::test
