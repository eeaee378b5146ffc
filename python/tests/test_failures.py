"""corvane.BackgroundSubtractor when things go wrong: objects that were never
initialised, memory that runs out, and interrupts during apply()."""

import numpy as np
import pytest

import corvane

H, W = 24, 32


def frames(count, seed=5):
    rng = np.random.default_rng(seed)
    base = rng.integers(40, 200, size=(H, W, 3)).astype(float)
    out = []
    for t in range(count):
        frame = base + rng.normal(0, 3, base.shape)
        if t >= 4:
            frame[6:14, t % 20:t % 20 + 8] = (250, 20, 220)
        out.append(np.clip(np.rint(frame), 0, 255).astype(np.uint8))
    return out


# ---- an object that was never initialised -------------------------------------

class NoInit(corvane.BackgroundSubtractor):
    def __init__(self):  # never calls the base's __init__
        pass


@pytest.mark.parametrize("make", [
    lambda: corvane.BackgroundSubtractor.__new__(corvane.BackgroundSubtractor),
    lambda: NoInit.__new__(NoInit),
], ids=["__new__", "subclass"])
def test_uninitialised_object_raises_type_error_everywhere(make):
    s = make()
    frame = frames(1)[0]
    calls = [
        lambda: s.frames, lambda: s.model, lambda: s.parameters, lambda: s.probability,
        lambda: s.threads, lambda: setattr(s, "threads", 1), lambda: s.apply(frame),
        lambda: s.apply(frame, learningRate=0), lambda: s.getBackgroundImage(),
    ]
    for call in calls:
        with pytest.raises(TypeError, match="initialised|__init__"):
            call()


def test_subclass_without_base_init_is_refused_at_construction():
    with pytest.raises(TypeError):
        NoInit()


def test_uninitialised_command_step_raises_type_error():
    step = corvane._corvane._CommandStep.__new__(corvane._corvane._CommandStep)
    with pytest.raises(TypeError, match="initialised"):
        step.process(frames(1)[0])
    with pytest.raises(TypeError, match="initialised"):
        step.mask
