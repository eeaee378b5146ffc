#include "ModelFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <matio.h>
#include <zlib.h>

#include "ModelCheck.h"
#include "ModelFields.h"
#include "ParameterTable.h"

namespace corvane {

namespace {

// libmatio reports its problems through a log function, by default on
// standard error. Ours keeps the last one for the error message instead:
// a host (a Python program, an Octave session) should not find libmatio's
// text on its terminal.
thread_local std::string matioMessage;

void KeepMatioMessage(int level, char* message) {
    if ((level & (MATIO_LOG_LEVEL_ERROR | MATIO_LOG_LEVEL_CRITICAL)) != 0 && message != nullptr)
        matioMessage = message;
}

void QuietMatio() {
    static std::once_flag once;
    std::call_once(once, [] { Mat_LogInitFunc("corvane", &KeepMatioMessage); });
}

struct VariableFree {
    void operator()(matvar_t* variable) const { Mat_VarFree(variable); }
};
using Variable = std::unique_ptr<matvar_t, VariableFree>;

struct FileClose {
    void operator()(mat_t* file) const { Mat_Close(file); }
};
using MatFile = std::unique_ptr<mat_t, FileClose>;

std::string Reason() { return std::strerror(errno); }

// ---- writing ------------------------------------------------------------------

// A double array of `rank` dimensions over `data`, which the variable does
// not copy (it must outlive the variable).
matvar_t* DoubleArray(const char* name, int rank, std::size_t* dims, const double* data) {
    return Mat_VarCreate(name, MAT_C_DOUBLE, MAT_T_DOUBLE, rank, dims, const_cast<double*>(data),
                         MAT_F_DONT_COPY_DATA);
}

// The struct's field names, in the order they are written: the model's
// fields, what the detector keeps between frames, the parameters.
std::vector<const char*> FieldNames(bool stream, bool parameters) {
    std::vector<const char*> names;
    for (const ModelField& field : kModelFields) names.push_back(field.name);
    if (stream)
        for (const StreamField& field : StreamFields()) names.push_back(field.name);
    if (parameters) names.push_back(kParametersField);
    return names;
}

// Whether `stream` holds every array of StreamFields() for N pixels.
bool StreamComplete(const StreamState& stream, std::size_t N) {
    for (const StreamField& field : StreamFields())
        if ((stream.*field.values).size() != N * static_cast<std::size_t>(field.planes))
            return false;
    return true;
}

// The struct variable `model` over the arrays of `model` and `stream`.
Variable ModelVariable(const OwnedModel& model, const StreamState* stream,
                       const ModelParameters* parameters, std::string* error) {
    const ModelSizes sizes = SizesOf(model);
    const std::size_t N = static_cast<std::size_t>(sizes.N);
    if (model.Mu.empty() || N == 0) {
        *error = "there is no model yet (no frame has been segmented)";
        return nullptr;
    }
    const bool withStream = stream != nullptr && StreamComplete(*stream, N);
    std::vector<const char*> names = FieldNames(withStream, parameters != nullptr);
    std::size_t one[2] = {1, 1};
    Variable result(Mat_VarCreateStruct(kModelVariable, 2, one, names.data(),
                                        static_cast<unsigned>(names.size())));
    if (!result) {
        *error = "not enough memory for the model's struct";
        return nullptr;
    }
    const BackgroundModel view = model.ReadView();
    for (const ModelField& field : kModelFields) {
        std::int64_t extents[3];
        const int rank = FieldDimensions(field, sizes, extents);
        std::size_t dims[3] = {static_cast<std::size_t>(extents[0]),
                               static_cast<std::size_t>(extents[1]),
                               static_cast<std::size_t>(extents[2])};
        const DoubleView& values = view.*field.view;
        if (static_cast<std::uint64_t>(values.count) != FieldElements(field, sizes)) {
            *error = std::string("the model's ") + field.name + " holds " +
                     std::to_string(values.count) + " values; its shape " +
                     FieldShapeText(field) + " needs " +
                     std::to_string(FieldElements(field, sizes));
            return nullptr;
        }
        Mat_VarSetStructFieldByName(result.get(), field.name, 0,
                                    DoubleArray(field.name, rank, dims, values.data));
    }
    if (withStream)
        for (const StreamField& field : StreamFields()) {
            std::size_t dims[3] = {static_cast<std::size_t>(sizes.H),
                                   static_cast<std::size_t>(sizes.W),
                                   static_cast<std::size_t>(field.planes)};
            Mat_VarSetStructFieldByName(
                result.get(), field.name, 0,
                DoubleArray(field.name, field.planes == 1 ? 2 : 3, dims,
                            (stream->*field.values).data()));
        }
    if (parameters != nullptr) {
        std::vector<const char*> parameterNames;
        for (const ParameterInfo& info : ParameterTable()) parameterNames.push_back(info.name);
        matvar_t* set = Mat_VarCreateStruct(kParametersField, 2, one, parameterNames.data(),
                                            static_cast<unsigned>(parameterNames.size()));
        if (set == nullptr) {
            *error = "not enough memory for the parameters' struct";
            return nullptr;
        }
        for (const ParameterInfo& info : ParameterTable()) {
            double value = GetParameter(*parameters, info);
            // Copied: the value lives on this stack.
            Mat_VarSetStructFieldByName(
                set, info.name, 0,
                Mat_VarCreate(info.name, MAT_C_DOUBLE, MAT_T_DOUBLE, 2, one, &value, 0));
        }
        Mat_VarSetStructFieldByName(result.get(), kParametersField, 0, set);
    }
    return result;
}

// Writes the variable to a new MAT-file at `path` (which must not be in use).
bool WriteVariable(const std::string& path, matvar_t* variable, std::string* error) {
    matioMessage.clear();
    mat_t* raw = Mat_CreateVer(path.c_str(), "corvane background model", MAT_FT_MAT5);
    if (raw == nullptr) {
        *error = "cannot create \"" + path + "\": " + Reason();
        return false;
    }
    const int written = Mat_VarWrite(raw, variable, MAT_COMPRESSION_NONE);
    const int closed = Mat_Close(raw);
    if (written != 0 || closed != 0) {
        *error = "cannot write \"" + path + "\"" +
                 (matioMessage.empty() ? std::string(": ") + Reason() : ": " + matioMessage);
        return false;
    }
    return true;
}

// A name for a new file beside `path`, not taken by any other writer.
std::string SiblingName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".partial-" + std::to_string(static_cast<long long>(getpid())) + "-" +
           std::to_string(counter++);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncPath(const std::string& path, int flags, std::string* error) {
    const int fd = open(path.c_str(), flags);
    if (fd < 0) {
        *error = "cannot open \"" + path + "\" to sync it: " + Reason();
        return false;
    }
    if (fsync(fd) != 0) {
        *error = "cannot sync \"" + path + "\" to the disk: " + Reason();
        close(fd);
        return false;
    }
    if (close(fd) != 0) {
        *error = "cannot close \"" + path + "\": " + Reason();
        return false;
    }
    return true;
}

// A temporary file of this process in the system's temporary folder.
std::string TemporaryName() {
    const char* folder = std::getenv("TMPDIR");
    return SiblingName(std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                       "/corvane-model");
}

// ---- reading -----------------------------------------------------------------

// The shape of a field in the file, trailing singleton extents dropped down
// to two dimensions (MATLAB's own rule: a 3 x K x 1 array is 3 x K).
std::vector<std::size_t> Shape(const matvar_t* variable) {
    std::vector<std::size_t> dims(variable->dims, variable->dims + variable->rank);
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    return dims;
}

std::string ShapeText(const std::vector<std::size_t>& dims) {
    std::string text;
    for (std::size_t d : dims) text += (text.empty() ? "" : " x ") + std::to_string(d);
    return text;
}

std::string ClassName(const matvar_t* variable) {
    switch (variable->class_type) {
        case MAT_C_DOUBLE: return "double";
        case MAT_C_SINGLE: return "single";
        case MAT_C_STRUCT: return "struct";
        case MAT_C_CELL: return "cell";
        case MAT_C_CHAR: return "char";
        case MAT_C_SPARSE: return "sparse";
        case MAT_C_INT8: return "int8";
        case MAT_C_UINT8: return variable->isLogical ? "logical" : "uint8";
        case MAT_C_INT16: return "int16";
        case MAT_C_UINT16: return "uint16";
        case MAT_C_INT32: return "int32";
        case MAT_C_UINT32: return "uint32";
        case MAT_C_INT64: return "int64";
        case MAT_C_UINT64: return "uint64";
        default: return "an unknown class";
    }
}

// The field's values when it is a real double array of the shape `dims`
// (null `dims`: any shape); otherwise null with the reason.
const double* DoubleValues(const matvar_t* variable, const char* name,
                           const std::vector<std::size_t>* dims, std::string* error) {
    if (variable->class_type != MAT_C_DOUBLE || variable->isComplex || variable->isLogical) {
        *error = std::string("its field ") + name + " is " +
                 (variable->isComplex ? "complex" : ClassName(variable)) +
                 "; a model's fields are real double arrays";
        return nullptr;
    }
    std::vector<std::size_t> shape = Shape(variable);
    std::uint64_t elements = 1;
    for (std::size_t d : shape) elements *= d;
    if (dims != nullptr && shape != *dims) {
        *error = std::string("its field ") + name + " is " + ShapeText(shape) +
                 "; this model's needs " + ShapeText(*dims);
        return nullptr;
    }
    if (elements > 0 && (variable->data == nullptr || variable->data_size != sizeof(double) ||
                         variable->nbytes / sizeof(double) < elements)) {
        *error = std::string("its field ") + name + " could not be read in full";
        return nullptr;
    }
    return static_cast<const double*>(variable->data);
}

void Assign(double& to, const double* values, std::size_t) { to = values[0]; }
void Assign(std::vector<double>& to, const double* values, std::size_t count) {
    to.assign(values, values + count);
}

// A whole number from 1 to `largest` in the scalar field `name`.
bool ReadSize(const matvar_t* variable, const char* name, double largest, std::int32_t* value,
              std::string* error) {
    static const std::vector<std::size_t> scalar{1, 1};
    const double* data = DoubleValues(variable, name, &scalar, error);
    if (data == nullptr) return false;
    const double v = data[0];
    if (!(v >= 1 && v <= largest && v == std::trunc(v))) {
        *error = std::string("its ") + name + " must be a whole number from 1 to " +
                 FormatParameterValue(largest) + "; it is " + FormatParameterValue(v);
        return false;
    }
    *value = static_cast<std::int32_t>(v);
    return true;
}

bool ReadParameters(const matvar_t* set, ModelParameters* parameters, std::string* error) {
    static const std::vector<std::size_t> scalar{1, 1};
    if (set->class_type != MAT_C_STRUCT || Shape(set) != scalar) {
        *error = std::string("its field ") + kParametersField + " is " + ClassName(set) + " " +
                 ShapeText(Shape(set)) + "; it must be a 1 x 1 struct of parameters";
        return false;
    }
    ModelParameters read;
    // A file saved before the median grew with the frame has no medianShare:
    // it goes on with the fixed median it was made with.
    read.medianShare = 0;
    // Nor the interior of objects: it goes on testing every pixel's
    // neighbours.
    read.interiorBlink = 0;
    const unsigned count = Mat_VarGetNumberOfFields(const_cast<matvar_t*>(set));
    char* const* names = Mat_VarGetStructFieldnames(set);
    for (unsigned k = 0; k < count; ++k) {
        const ParameterInfo* info = FindParameter(names[k]);
        if (info == nullptr || std::strcmp(info->name, names[k]) != 0) {
            *error = std::string("its ") + kParametersField + " hold " + names[k] +
                     ", which is not a parameter";
            return false;
        }
        const matvar_t* value =
            Mat_VarGetStructFieldByIndex(const_cast<matvar_t*>(set), k, 0);
        const double* data =
            value == nullptr ? nullptr : DoubleValues(value, names[k], &scalar, error);
        if (data == nullptr) {
            if (value == nullptr) *error = std::string("its parameter ") + names[k] + " is empty";
            return false;
        }
        const ParameterProblem problem = SetParameter(read, *info, data[0]);
        if (!problem.ok()) {
            *error = "its parameters: " + problem.message;
            return false;
        }
    }
    const ParameterProblem problem = ValidateParameters(read);
    if (!problem.ok()) {
        *error = "its parameters: " + problem.message;
        return false;
    }
    *parameters = read;
    return true;
}

// Checks the struct and copies it into `saved`.
bool ReadStruct(matvar_t* variable, SavedDetector* saved, std::string* error) {
    static const std::vector<std::size_t> scalar{1, 1};
    if (variable->class_type != MAT_C_STRUCT || Shape(variable) != scalar) {
        *error = std::string("its variable ") + kModelVariable + " is " + ClassName(variable) +
                 " " + ShapeText(Shape(variable)) + "; a model is a 1 x 1 struct";
        return false;
    }
    const unsigned count = Mat_VarGetNumberOfFields(variable);
    char* const* names = Mat_VarGetStructFieldnames(variable);
    std::size_t streamFields = 0;
    const matvar_t* parameters = nullptr;
    for (unsigned k = 0; k < count; ++k) {
        const char* name = names[k];
        if (ModelFieldIndex(name) >= 0) continue;
        if (std::strcmp(name, kParametersField) == 0) {
            parameters = Mat_VarGetStructFieldByIndex(variable, k, 0);
            continue;
        }
        bool isStream = false;
        for (const StreamField& field : StreamFields())
            isStream = isStream || std::strcmp(field.name, name) == 0;
        if (!isStream) {
            *error = std::string("it has a field ") + name + ", which no model has";
            return false;
        }
        ++streamFields;
    }
    std::vector<const matvar_t*> fields;
    for (const ModelField& field : kModelFields) {
        const matvar_t* value = Mat_VarGetStructFieldByName(variable, field.name, 0);
        if (value == nullptr) {
            *error = std::string("it has no field ") + field.name;
            return false;
        }
        fields.push_back(value);
    }
    if (streamFields != 0 && streamFields != StreamFields().size()) {
        std::string all;
        for (const StreamField& field : StreamFields())
            all += (all.empty() ? "" : ", ") + std::string(field.name);
        *error = "it has only part of what the detector keeps between frames: " + all +
                 " go together";
        return false;
    }

    // The sizes first: every shape follows from them.
    ModelSizes sizes;
    std::int32_t mapRows = 0, mapColumns = 0;
    const double largestSide = std::numeric_limits<std::int32_t>::max();
    if (!ReadSize(fields[ModelFieldIndex("NumImageRows")], "NumImageRows", largestSide, &sizes.H,
                  error) ||
        !ReadSize(fields[ModelFieldIndex("NumImageColumns")], "NumImageColumns", largestSide,
                  &sizes.W, error) ||
        !ReadSize(fields[ModelFieldIndex("NumMapRows")], "NumMapRows", 8, &mapRows, error) ||
        !ReadSize(fields[ModelFieldIndex("NumMapColumns")], "NumMapColumns", 8, &mapColumns,
                  error))
        return false;
    const std::int64_t N = static_cast<std::int64_t>(sizes.H) * sizes.W;
    if (N > std::numeric_limits<std::int32_t>::max()) {
        *error = "its image of " + std::to_string(sizes.H) + " x " + std::to_string(sizes.W) +
                 " pixels is larger than 2^31 - 1 pixels";
        return false;
    }
    sizes.N = static_cast<std::int32_t>(N);
    sizes.K = mapRows * mapColumns;

    SavedDetector read;
    int index = 0;
#define CORVANE_READ_FIELD(member, written, d0, d1, d2)                                          \
    {                                                                                          \
        const ModelField& field = kModelFields[index];                                         \
        std::int64_t extents[3];                                                               \
        const int rank = FieldDimensions(field, sizes, extents);                               \
        const std::vector<std::size_t> dims(extents, extents + rank);                          \
        const double* values = DoubleValues(fields[index], field.name, &dims, error);          \
        if (values == nullptr) return false;                                                   \
        Assign(read.model.member, values, static_cast<std::size_t>(FieldElements(field, sizes))); \
        ++index;                                                                               \
    }
    CORVANE_MODEL_FIELDS(CORVANE_READ_FIELD)
#undef CORVANE_READ_FIELD

    if (streamFields != 0) {
        for (const StreamField& field : StreamFields()) {
            const matvar_t* value = Mat_VarGetStructFieldByName(variable, field.name, 0);
            std::vector<std::size_t> dims{static_cast<std::size_t>(sizes.H),
                                          static_cast<std::size_t>(sizes.W)};
            if (field.planes != 1) dims.push_back(static_cast<std::size_t>(field.planes));
            const double* values = DoubleValues(value, field.name, &dims, error);
            if (values == nullptr) return false;
            (read.stream.*field.values)
                .assign(values, values + static_cast<std::size_t>(N) * field.planes);
        }
        read.stream.H = sizes.H;
        read.stream.W = sizes.W;
        read.hasStream = true;
    }
    if (parameters != nullptr) {
        if (!ReadParameters(parameters, &read.parameters, error)) return false;
        read.hasParameters = true;
    }
    // What the update checks of a model (finite values, variances above 0,
    // ...), with any frame and matrix: those come with every frame.
    static const double kAny = 0;
    const std::int64_t kAnyCount = std::numeric_limits<std::int64_t>::max();
    const ModelCheck check = CheckModel(read.model.View(), FrameImage{&kAny, kAnyCount},
                                        NeighborhoodMatrix{&kAny, kAnyCount});
    if (!check.ok()) {
        *error = std::string("its model cannot be used: ") + check.message;
        return false;
    }
    *saved = std::move(read);
    return true;
}

// libmatio trusts the sizes a file states and reads past the end of a file
// cut short (and crashes on some), so a file's layout is checked here
// first. A version 5 MAT-file is a 128-byte header and then data elements,
// each an 8-byte tag (type, byte count) and its bytes: a matrix (type 14)
// holds elements of its own, padded to 8 bytes, a compressed element (type
// 15) a zlib stream of one matrix. Every element must fit in the one that
// holds it, and every stream must inflate whole.
constexpr std::uint32_t kMatrixElement = 14, kCompressedElement = 15;

std::uint32_t Word(const unsigned char* at, bool swap) {
    std::uint32_t w;
    std::memcpy(&w, at, 4);
    return swap ? __builtin_bswap32(w) : w;
}

bool Elements(const unsigned char* data, std::size_t size, bool swap, int depth, bool top,
              std::string* why);

bool Inflated(const unsigned char* data, std::size_t size, bool swap, int depth,
              std::string* why) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        *why = "zlib cannot be started";
        return false;
    }
    std::vector<unsigned char> out;
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(size);
    int status = Z_OK;
    try {
        while (status == Z_OK) {
            out.resize(out.size() + (1u << 20));
            stream.next_out = out.data() + stream.total_out;
            stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
            status = inflate(&stream, Z_NO_FLUSH);
            if (status == Z_BUF_ERROR && stream.avail_in != 0) status = Z_OK;
        }
    } catch (const std::bad_alloc&) {
        inflateEnd(&stream);
        *why = "not enough memory to inflate its compressed data";
        return false;
    }
    const std::size_t produced = stream.total_out;
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        *why = "its compressed data is cut short or damaged";
        return false;
    }
    return Elements(out.data(), produced, swap, depth + 1, false, why);
}

bool Elements(const unsigned char* data, std::size_t size, bool swap, int depth, bool top,
              std::string* why) {
    if (depth > 32) {
        *why = "its data nests too deeply";
        return false;
    }
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 8) {
            *why = "it is cut short inside a data element's tag";
            return false;
        }
        const std::uint32_t first = Word(data + at, swap);
        if ((first >> 16) != 0) {  // a small element, its data inside the tag
            if (top) {
                *why = "its data element at byte " + std::to_string(at) + " is not a matrix";
                return false;
            }
            at += 8;
            continue;
        }
        const std::uint64_t bytes = Word(data + at + 4, swap);
        const unsigned char* body = data + at + 8;
        if (bytes > size - at - 8) {
            *why = "it is cut short: a data element of " + std::to_string(bytes) +
                   " bytes has only " + std::to_string(size - at - 8) + " left";
            return false;
        }
        if (first == kCompressedElement) {
            if (!Inflated(body, static_cast<std::size_t>(bytes), swap, depth, why)) return false;
            at += 8 + static_cast<std::size_t>(bytes);
            continue;
        }
        if (top && first != kMatrixElement) {
            *why = "its data element at byte " + std::to_string(at) + " is not a matrix";
            return false;
        }
        if (first == kMatrixElement &&
            !Elements(body, static_cast<std::size_t>(bytes), swap, depth + 1, false, why))
            return false;
        const std::uint64_t padded = top ? bytes : (bytes + 7) / 8 * 8;
        at += 8 + static_cast<std::size_t>(std::min<std::uint64_t>(padded, size - at - 8));
    }
    return true;
}

// Whether `path` is laid out as a whole MAT-file; `isMat` false when it is
// no MAT-file at all. HDF5-based files (MATLAB's -v7.3) are left to
// libmatio.
bool WholeMatFile(const std::string& path, bool* isMat, std::string* why) {
    *isMat = false;
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (!in.eof() && !in.good()) {
        *why = "it cannot be read";
        return false;
    }
    if (bytes.size() < 128) {
        *why = "it is shorter than a MAT-file's header";
        return false;
    }
    const bool littleEndian = bytes[126] == 'I' && bytes[127] == 'M';
    const bool bigEndian = bytes[126] == 'M' && bytes[127] == 'I';
    if (!littleEndian && !bigEndian) {
        *why = "its header is not a MAT-file's";
        return false;
    }
    const std::uint16_t version = littleEndian ? std::uint16_t(bytes[124] | bytes[125] << 8)
                                               : std::uint16_t(bytes[125] | bytes[124] << 8);
    *isMat = true;
    if (version == 0x0200) return true;  // HDF5
    if (version != 0x0100) {
        *why = "it is a MAT-file of an unknown version";
        return false;
    }
    const std::uint16_t here = 1;
    const bool hostLittle = *reinterpret_cast<const unsigned char*>(&here) == 1;
    return Elements(bytes.data() + 128, bytes.size() - 128, littleEndian != hostLittle, 0, true,
                    why);
}

bool ReadFile(const std::string& path, const std::string& what, SavedDetector* saved,
              std::string* error) {
    QuietMatio();
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        *error = "cannot read " + what + ": " + Reason();
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = what + " is not a file";
        return false;
    }
    bool isMat = false;
    std::string why;
    if (!WholeMatFile(path, &isMat, &why)) {
        *error = isMat ? what + " is damaged: " + why
                       : what + " is not a MATLAB MAT-file: " + why;
        return false;
    }
    matioMessage.clear();
    MatFile file(Mat_Open(path.c_str(), MAT_ACC_RDONLY));
    if (!file) {
        *error = what + " is not a MATLAB MAT-file";
        return false;
    }
    // The variable's header first: a file without it is another MAT-file,
    // one whose data then cannot be read is cut short or damaged.
    Variable info(Mat_VarReadInfo(file.get(), kModelVariable));
    if (!info) {
        *error = what + " holds no variable \"" + kModelVariable +
                 "\" (a model saved by corvane, Python's save or MATLAB's save(file, "
                 "'model'))";
        return false;
    }
    info.reset();
    matioMessage.clear();
    Variable variable(Mat_VarRead(file.get(), kModelVariable));
    if (!variable || !matioMessage.empty()) {
        *error = what + " is cut short or damaged: its model cannot be read" +
                 (matioMessage.empty() ? std::string() : " (" + matioMessage + ")");
        return false;
    }
    std::string problem;
    if (!ReadStruct(variable.get(), saved, &problem)) {
        *error = what + " does not hold a sound model: " + problem;
        return false;
    }
    return true;
}

}  // namespace

bool WriteModelFile(const std::string& path, const OwnedModel& model, const StreamState* stream,
                    const ModelParameters* parameters, std::string* error) {
    QuietMatio();
    Variable variable = ModelVariable(model, stream, parameters, error);
    if (!variable) return false;
    // Created here, exclusively, so that no other file of that name is
    // written over; libmatio then writes into it.
    const std::string partial = SiblingName(path);
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        *error = "cannot write \"" + path + "\": cannot create \"" + partial + "\": " + Reason();
        return false;
    }
    close(fd);
    const bool done = WriteVariable(partial, variable.get(), error) &&
                      SyncPath(partial, O_RDONLY, error);
    if (!done || std::rename(partial.c_str(), path.c_str()) != 0) {
        if (done) *error = "cannot rename \"" + partial + "\" to \"" + path + "\": " + Reason();
        unlink(partial.c_str());
        return false;
    }
    // The new name itself, so that it survives a power cut.
    return SyncPath(FolderOf(path), O_RDONLY | O_DIRECTORY, error);
}

bool ReadModelFile(const std::string& path, SavedDetector* saved, std::string* error) {
    return ReadFile(path, "\"" + path + "\"", saved, error);
}

bool ModelFileBytes(const OwnedModel& model, const StreamState* stream,
                    const ModelParameters* parameters, std::string* bytes, std::string* error) {
    QuietMatio();
    Variable variable = ModelVariable(model, stream, parameters, error);
    if (!variable) return false;
    const std::string temporary = TemporaryName();
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        *error = "cannot create the temporary file \"" + temporary + "\": " + Reason();
        return false;
    }
    close(fd);
    bool done = WriteVariable(temporary, variable.get(), error);
    if (done) {
        std::ifstream in(temporary, std::ios::binary);
        std::ostringstream contents;
        contents << in.rdbuf();
        done = in.good() || in.eof();
        if (done)
            *bytes = contents.str();
        else
            *error = "cannot read back the temporary file \"" + temporary + "\"";
    }
    unlink(temporary.c_str());
    return done;
}

bool ReadModelBytes(const std::string& bytes, SavedDetector* saved, std::string* error) {
    const std::string temporary = TemporaryName();
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        *error = "cannot create the temporary file \"" + temporary + "\": " + Reason();
        return false;
    }
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + offset, bytes.size() - offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = "cannot write the temporary file \"" + temporary + "\": " + Reason();
            close(fd);
            unlink(temporary.c_str());
            return false;
        }
        offset += static_cast<std::size_t>(n);
    }
    close(fd);
    const bool read = ReadFile(temporary, "the model's bytes", saved, error);
    unlink(temporary.c_str());
    return read;
}

bool SaveDetector(const Detector& detector, const std::string& path, std::string* error) {
    const ModelParameters parameters = detector.parameters();
    return WriteModelFile(path, detector.model(), &detector.stream(), &parameters, error);
}

bool ContinueDetector(const SavedDetector& saved, Detector* detector, std::string* error) {
    if (!detector->StartFromModel(saved.model.ReadView(), error)) return false;
    return !saved.hasStream || detector->RestoreStream(saved.stream, error);
}

}  // namespace corvane
