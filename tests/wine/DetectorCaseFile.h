// The file that carries a video through the detector from the Linux build to
// the Windows test driver of CorvaneDetectorMex: the frames as MATLAB hands
// them to the detector's step, the masks and probabilities the Linux Detector
// gave, its model after the last frame, and exp of some arguments as the
// core computes it.
//
// Binary, little-endian, doubles as their raw bits:
//   "CORVDET1"  u32 H, u32 W, u32 T
//   T frames of 3*H*W bytes (uint8, H x W x 3, MATLAB's column-major order)
//   T masks of H*W bytes (0 or 1), T probabilities of H*W doubles
//   u32 field count, per field: char name[32], u64 n, n doubles (the model)
//   u64 n, n pairs of doubles (x, exp x)
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace corvane::wine {

constexpr char kDetectorMagic[8] = {'C', 'O', 'R', 'V', 'D', 'E', 'T', '1'};

struct DetectorCase {
    std::uint32_t H = 0, W = 0, T = 0;
    std::vector<std::vector<std::uint8_t>> frames, masks;
    std::vector<std::vector<double>> probabilities;
    std::vector<std::string> fieldNames;
    std::vector<std::vector<double>> fields;
    std::vector<double> expX, expY;
};

inline bool WriteDetectorCase(const char* path, const DetectorCase& c) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(kDetectorMagic, 1, 8, f) == 8;
    const std::uint32_t sizes[3] = {c.H, c.W, c.T};
    ok = ok && std::fwrite(sizes, sizeof sizes, 1, f) == 1;
    for (const auto& frame : c.frames) ok = ok && std::fwrite(frame.data(), 1, frame.size(), f) == frame.size();
    for (const auto& mask : c.masks) ok = ok && std::fwrite(mask.data(), 1, mask.size(), f) == mask.size();
    for (const auto& p : c.probabilities)
        ok = ok && std::fwrite(p.data(), sizeof(double), p.size(), f) == p.size();
    const std::uint32_t fields = static_cast<std::uint32_t>(c.fields.size());
    ok = ok && std::fwrite(&fields, sizeof fields, 1, f) == 1;
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
        char name[32] = {};
        std::strncpy(name, c.fieldNames[i].c_str(), sizeof name - 1);
        const std::uint64_t n = c.fields[i].size();
        ok = ok && std::fwrite(name, 1, sizeof name, f) == sizeof name &&
             std::fwrite(&n, sizeof n, 1, f) == 1 &&
             std::fwrite(c.fields[i].data(), sizeof(double), n, f) == n;
    }
    const std::uint64_t n = c.expX.size();
    ok = ok && std::fwrite(&n, sizeof n, 1, f) == 1;
    for (std::size_t i = 0; i < c.expX.size(); ++i) {
        const double pair[2] = {c.expX[i], c.expY[i]};
        ok = ok && std::fwrite(pair, sizeof pair, 1, f) == 1;
    }
    return std::fclose(f) == 0 && ok;
}

inline bool ReadDetectorCase(const char* path, DetectorCase* c) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char magic[8];
    std::uint32_t sizes[3];
    bool ok = std::fread(magic, 1, 8, f) == 8 && std::memcmp(magic, kDetectorMagic, 8) == 0 &&
              std::fread(sizes, sizeof sizes, 1, f) == 1;
    if (ok) {
        c->H = sizes[0];
        c->W = sizes[1];
        c->T = sizes[2];
        const std::size_t N = std::size_t(c->H) * c->W;
        c->frames.assign(c->T, std::vector<std::uint8_t>(3 * N));
        c->masks.assign(c->T, std::vector<std::uint8_t>(N));
        c->probabilities.assign(c->T, std::vector<double>(N));
        for (auto& frame : c->frames) ok = ok && std::fread(frame.data(), 1, frame.size(), f) == frame.size();
        for (auto& mask : c->masks) ok = ok && std::fread(mask.data(), 1, mask.size(), f) == mask.size();
        for (auto& p : c->probabilities)
            ok = ok && std::fread(p.data(), sizeof(double), p.size(), f) == p.size();
    }
    std::uint32_t fields = 0;
    ok = ok && std::fread(&fields, sizeof fields, 1, f) == 1 && fields < 100;
    for (std::uint32_t i = 0; ok && i < fields; ++i) {
        char name[32];
        std::uint64_t n = 0;
        ok = std::fread(name, 1, sizeof name, f) == sizeof name &&
             std::fread(&n, sizeof n, 1, f) == 1 && n < (1u << 28);
        if (!ok) break;
        name[sizeof name - 1] = '\0';
        c->fieldNames.push_back(name);
        c->fields.emplace_back(n);
        ok = std::fread(c->fields.back().data(), sizeof(double), n, f) == n;
    }
    std::uint64_t n = 0;
    ok = ok && std::fread(&n, sizeof n, 1, f) == 1 && n < 100000;
    for (std::uint64_t i = 0; ok && i < n; ++i) {
        double pair[2];
        ok = std::fread(pair, sizeof pair, 1, f) == 1;
        c->expX.push_back(pair[0]);
        c->expY.push_back(pair[1]);
    }
    std::fclose(f);
    return ok;
}

}  // namespace corvane::wine
