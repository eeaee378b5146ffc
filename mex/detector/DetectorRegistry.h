// The detectors that a loaded MEX file keeps for MATLAB/Octave objects, each
// under an opaque id. An object holds nothing but its id; every call names
// it and is checked here before anything is touched:
//
//   id = session << 32 | serial
//
// `session` is drawn anew each time the MEX file is loaded, so an id kept in
// MATLAB from before the file was unloaded (clear mex, clear all), or read
// back from a saved file, is recognised as such instead of reaching another
// detector that happens to have the same serial.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Detector.h"

namespace corvane::gateway {

// One object's detector and the buffers its frames pass through, kept so
// that no frame allocates.
struct DetectorState {
    explicit DetectorState(const ModelParameters& parameters) : detector(parameters) {}

    Detector detector;
    std::vector<double> frame;         // a uint8 or single frame as doubles
    std::vector<std::uint8_t> mask;    // 0 or 255 per pixel
    std::vector<std::uint8_t> keep;    // a step's learn mask, 1 where not learnt
    bool warnedFrameRange = false;     // the 0..1 warning was given
};

enum class IdStatus {
    Live,          // a detector of this load
    Deleted,       // made in this load and deleted since
    EarlierLoad,   // made before the MEX file was last loaded
    NotAnId,       // never handed out
};

class DetectorRegistry {
public:
    // `session` must not be 0 (id 0 stands for "no detector").
    explicit DetectorRegistry(std::uint32_t session);

    // Takes `state` over and returns its new id; 0 when the 2^32 - 1 serials
    // of this session are used up.
    std::uint64_t Add(std::unique_ptr<DetectorState> state);

    IdStatus Status(std::uint64_t id) const;
    // The live detector of `id`, or null.
    DetectorState* Find(std::uint64_t id) const;
    // Frees the detector of `id`; false when it is not live.
    bool Remove(std::uint64_t id);

    std::size_t size() const { return states_.size(); }
    std::uint32_t session() const { return session_; }

private:
    std::uint32_t session_;
    std::uint32_t lastSerial_ = 0;
    std::map<std::uint64_t, std::unique_ptr<DetectorState>> states_;
};

// A session number for a new load of the MEX file: never 0, and with high
// probability different from every earlier one in this process (the clock,
// the system's random source and where the library was loaded, mixed).
std::uint32_t NewSession();

}  // namespace corvane::gateway
