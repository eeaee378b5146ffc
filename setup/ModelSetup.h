// Building a model to start from and the neighbourhood matrix to update it
// with. The update itself never creates a model; every host (the corvane
// command, the examples, the MATLAB/Octave toolbox) starts from these, with the
// same defaults, so all of them produce the same masks.
#pragma once

#include <cstdint>
#include <vector>

#include "BackgroundModel.h"

namespace corvane {

// Every parameter of a model's start and of the neighbourhood matrix, with its
// meaning, unit and default. Colours are in 0..255 per channel; variances are
// per channel, in squared colour units.
struct ModelParameters {
    // Map shape: NumMapRows x NumMapColumns neurons per pixel (K = product).
    std::int32_t mapRows = 3;
    std::int32_t mapColumns = 3;

    // Starting variance of every neuron (Sigma2), squared colour units.
    double initialVariance = 100.0;
    // Cap on a neuron's variance (MaximumVariance, same for every pixel).
    double maximumVariance = 400.0;
    // Floor added to a neuron's variance inside the density (MinimumVariance).
    double minimumVariance = 25.0;

    // Starting foreground prior of every pixel (Pi), a probability.
    double initialPrior = 0.05;
    // Learning rate of Pi, Var and Cov per frame (StepSize), in 0..1.
    double stepSize = 0.01;
    // Starting variance of the foreground indicator (Var). The covariances
    // with existing neighbours start equal to it (correlation 1), so the first
    // frames are smoothed as a plain 3x3 average.
    double initialIndicatorVariance = 0.05;

    // Neighbourhood matrix: the winner moves at `learningRate` per frame, a
    // neuron at grid distance d at learningRate * exp(-d^2 / (2 width^2)).
    double learningRate = 0.05;
    double neighborhoodWidth = 1.0;

    // Pixels whose imMask exceeds this are reported as foreground.
    double maskThreshold = 0.5;
};

// A model whose arrays live in std::vectors, for hosts without MATLAB.
struct OwnedModel {
    std::vector<double> Mu, Sigma2, imMask, Pi, NeuroWin, Var, Cov, MaximumVariance;
    double NumMapRows = 0, NumMapColumns = 0, NumImageRows = 0, NumImageColumns = 0;
    double MinimumVariance = 0, StepSize = 0, CurrentFrame = 0;

    // Views onto this model's arrays, for UpdateModel. Valid while the model
    // lives and its vectors are not resized.
    BackgroundModel View();
};

// A model of an H x W image whose neurons all start at the colours of `frame`
// (an H x W x 3 column-major array of doubles in 0..255).
OwnedModel BuildInitialModel(const ModelParameters& parameters, const double* frame,
                             std::int32_t H, std::int32_t W);

// The K x K neighbourhood matrix of the map (column w: the rates of every
// neuron when neuron w wins). Neuron j sits at map row j mod NumMapRows,
// column j div NumMapRows.
std::vector<double> BuildNeighborhoodMatrix(const ModelParameters& parameters);

}  // namespace corvane
