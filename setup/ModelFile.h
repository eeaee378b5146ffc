// A detector's model as a MATLAB MAT-file (version 5, read and written with
// libmatio), the one file every host reads and writes: the corvane command's
// --save-model and --resume, Python's save, load and pickling, and MATLAB or
// Octave, whose load(file) gives the struct Corvane(model, frame, nhood) and
// CorvaneDetector(model) take.
//
// The file holds one variable, `model`: a 1 x 1 struct with
//  - every field of the model (ModelFieldList.h), double, in its MATLAB
//    shape;
//  - what the detector keeps between frames (StreamFields(): H x W or
//    H x W x 3 doubles), so that a detector continued from the file gives
//    exactly the masks the saved one would have given; all or none of them;
//  - Parameters, a 1 x 1 struct of the detector's parameters by their
//    canonical names (ParameterTable.h), each a double scalar.
// Reading checks all of it: a file that is not a MAT-file, is cut short,
// lacks a field, has a field no model has, or holds a field of another class
// or shape is refused with the reason, and nothing is handed back.
#pragma once

#include <string>

#include "Detector.h"
#include "FrameStream.h"
#include "ModelSetup.h"

namespace corvane {

// The variable's name in the file.
inline constexpr const char* kModelVariable = "model";
// The name of the parameters' struct among its fields.
inline constexpr const char* kParametersField = "Parameters";

// What a model file holds.
struct SavedDetector {
    OwnedModel model;
    bool hasStream = false;  // the arrays of StreamFields() are in `stream`
    StreamState stream;
    bool hasParameters = false;
    ModelParameters parameters;
};

// Writes `model` (with `stream`'s arrays of StreamFields() and
// `parameters` when not null) to `path`: written in full to a file beside
// it, synced to the disk and renamed over `path`, so that `path` holds
// either what it held before or the whole new model. False, with the reason
// in `error` and `path` untouched, on any failure.
bool WriteModelFile(const std::string& path, const OwnedModel& model, const StreamState* stream,
                    const ModelParameters* parameters, std::string* error);

// Reads and checks the model file `path` into `saved`. False, with the
// reason in `error` and `saved` as it was, for a file that cannot be read or
// that does not hold a whole, sound model.
bool ReadModelFile(const std::string& path, SavedDetector* saved, std::string* error);

// The same as bytes: the contents of the file WriteModelFile writes, and the
// reading of such contents (what pickling a Python subtractor carries).
bool ModelFileBytes(const OwnedModel& model, const StreamState* stream,
                    const ModelParameters* parameters, std::string* bytes, std::string* error);
bool ReadModelBytes(const std::string& bytes, SavedDetector* saved, std::string* error);

// A detector's model, what it keeps between frames and its parameters to
// `path`. False before the first frame (there is no model yet).
bool SaveDetector(const Detector& detector, const std::string& path, std::string* error);

// Continues `detector` (made with the parameters it is to use) from
// `saved`: its model, and what it keeps between frames when the file has
// it. False, with the reason, when the detector refuses the model.
bool ContinueDetector(const SavedDetector& saved, Detector* detector, std::string* error);

}  // namespace corvane
