// The file that carries model updates from the Linux build to the Windows test
// driver: for each case the starting model, the frames, the neighbourhood
// matrix and the model the Linux core produced after the last frame.
//
// Binary, little-endian (both sides are x86), doubles as their raw bits so
// nothing is lost in printing and parsing:
//
//   "CORVWIN1"  u32 case count, then per case:
//     char name[32], u32 exact (1: compare every value bit for bit),
//     u32 frame count F, u32 field count,
//     per field: char name[32], u64 n, n doubles      (the starting model)
//     u64 n, n doubles                                  (F frames, one after another)
//     u64 n, n doubles                                  (the neighbourhood matrix)
//     per field, same order: u64 n, n doubles           (the model after frame F)
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace corvane::wine {

constexpr char kMagic[8] = {'C', 'O', 'R', 'V', 'W', 'I', 'N', '1'};
constexpr std::size_t kNameBytes = 32;

struct Field {
    std::string name;
    std::vector<double> values;
};

struct Case {
    std::string name;
    bool exact = false;     // every value must match bit for bit
    std::uint32_t frames = 0;
    std::vector<Field> start;     // the model before the first frame
    std::vector<double> video;    // `frames` frames of 3*N doubles each
    std::vector<double> matrix;   // K*K
    std::vector<Field> expected;  // the model after the last frame (same field order)
};

namespace detail {

inline bool Write(std::FILE* f, const void* data, std::size_t bytes) {
    return bytes == 0 || std::fwrite(data, 1, bytes, f) == bytes;
}
inline bool Read(std::FILE* f, void* data, std::size_t bytes) {
    return bytes == 0 || std::fread(data, 1, bytes, f) == bytes;
}
inline bool WriteName(std::FILE* f, const std::string& name) {
    char buffer[kNameBytes] = {};
    std::strncpy(buffer, name.c_str(), kNameBytes - 1);
    return Write(f, buffer, kNameBytes);
}
inline bool ReadName(std::FILE* f, std::string* name) {
    char buffer[kNameBytes];
    if (!Read(f, buffer, kNameBytes)) return false;
    buffer[kNameBytes - 1] = '\0';
    *name = buffer;
    return true;
}
inline bool WriteValues(std::FILE* f, const std::vector<double>& values) {
    const std::uint64_t n = values.size();
    return Write(f, &n, sizeof n) && Write(f, values.data(), n * sizeof(double));
}
// Refuses counts beyond what a test case can sensibly hold, so a damaged file
// cannot ask for gigabytes.
inline bool ReadValues(std::FILE* f, std::vector<double>* values) {
    std::uint64_t n = 0;
    if (!Read(f, &n, sizeof n) || n > (std::uint64_t{1} << 24)) return false;
    values->resize(static_cast<std::size_t>(n));
    return Read(f, values->data(), static_cast<std::size_t>(n) * sizeof(double));
}

}  // namespace detail

inline bool WriteCases(const char* path, const std::vector<Case>& cases) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    using namespace detail;
    bool ok = Write(f, kMagic, sizeof kMagic);
    const std::uint32_t count = static_cast<std::uint32_t>(cases.size());
    ok = ok && Write(f, &count, sizeof count);
    for (const Case& c : cases) {
        const std::uint32_t exact = c.exact ? 1 : 0;
        const std::uint32_t fields = static_cast<std::uint32_t>(c.start.size());
        ok = ok && WriteName(f, c.name) && Write(f, &exact, sizeof exact) &&
             Write(f, &c.frames, sizeof c.frames) && Write(f, &fields, sizeof fields);
        for (const Field& field : c.start) ok = ok && WriteName(f, field.name) && WriteValues(f, field.values);
        ok = ok && WriteValues(f, c.video) && WriteValues(f, c.matrix);
        for (const Field& field : c.expected) ok = ok && WriteValues(f, field.values);
    }
    return std::fclose(f) == 0 && ok;
}

inline bool ReadCases(const char* path, std::vector<Case>* cases) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    using namespace detail;
    char magic[sizeof kMagic];
    std::uint32_t count = 0;
    bool ok = Read(f, magic, sizeof magic) && std::memcmp(magic, kMagic, sizeof magic) == 0 &&
              Read(f, &count, sizeof count) && count < 1000;
    for (std::uint32_t i = 0; ok && i < count; ++i) {
        Case c;
        std::uint32_t exact = 0, fields = 0;
        ok = ReadName(f, &c.name) && Read(f, &exact, sizeof exact) &&
             Read(f, &c.frames, sizeof c.frames) && Read(f, &fields, sizeof fields) && fields < 100;
        c.exact = exact != 0;
        c.start.resize(ok ? fields : 0);
        for (Field& field : c.start) ok = ok && ReadName(f, &field.name) && ReadValues(f, &field.values);
        ok = ok && ReadValues(f, &c.video) && ReadValues(f, &c.matrix);
        // Every case has at least one frame, all of the same size.
        ok = ok && c.frames > 0 && !c.video.empty() && c.video.size() % c.frames == 0;
        c.expected.resize(c.start.size());
        for (std::size_t k = 0; k < c.start.size(); ++k) {
            c.expected[k].name = c.start[k].name;
            ok = ok && ReadValues(f, &c.expected[k].values);
        }
        if (ok) cases->push_back(std::move(c));
    }
    std::fclose(f);
    return ok;
}

}  // namespace corvane::wine
