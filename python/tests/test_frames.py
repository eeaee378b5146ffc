"""Frames from any camera: grey, BGRA, 16-bit and floating frames give the
masks and model of the 8-bit colour frame with the same content."""

import numpy as np
import pytest

import corvane

H, W = 30, 40
FRAMES = 24


def grey_scene(seed=5):
    """Grey uint8 frames: a noisy ramp crossed by a bright square."""
    rng = np.random.default_rng(seed)
    rows, columns = np.mgrid[0:H, 0:W]
    background = (60 + 2 * columns + rows).astype(float)
    frames = []
    for t in range(FRAMES):
        frame = background + rng.normal(0, 3, background.shape)
        if t >= 10:
            left = (2 * t) % (W - 8)
            frame[8:16, left:left + 8] = 230
        frames.append(np.clip(np.rint(frame), 0, 255).astype(np.uint8))
    return frames


def colour_scene(seed=7):
    rng = np.random.default_rng(seed)
    frames = []
    for t, grey in enumerate(grey_scene(seed)):
        frame = np.stack([grey, 255 - grey, (grey // 2) + 40], axis=2)
        frame = np.clip(frame.astype(int) + rng.integers(-2, 3, frame.shape), 0, 255)
        frames.append(frame.astype(np.uint8))
    return frames


def run(frames, **parameters):
    """Every mask, and the model after the last frame."""
    sub = corvane.BackgroundSubtractor(threads=1, **parameters)
    masks = [sub.apply(f).copy() for f in frames]
    return masks, sub.model


def assert_same_run(got, expected, moving=True):
    got_masks, got_model = got
    expected_masks, expected_model = expected
    if moving:
        assert any(m.any() for m in expected_masks), "the scene has no foreground to compare"
    for t, (a, b) in enumerate(zip(got_masks, expected_masks)):
        assert np.array_equal(a, b), f"frame {t + 1}: the masks differ"
    assert got_model.keys() == expected_model.keys()
    for name in expected_model:
        assert got_model[name].tobytes() == expected_model[name].tobytes(), name


@pytest.fixture(scope="module")
def grey():
    return grey_scene()


@pytest.fixture(scope="module")
def grey_as_colour(grey):
    return run([np.repeat(g[:, :, None], 3, axis=2) for g in grey])


@pytest.mark.parametrize("shape", ["H x W", "H x W x 1", "transposed view"])
def test_a_grey_frame_is_the_colour_with_three_equal_channels(grey, grey_as_colour, shape):
    if shape == "H x W":
        frames = grey
    elif shape == "H x W x 1":
        frames = [g[:, :, None] for g in grey]
    else:  # the same pixels through a non-contiguous view
        frames = [np.ascontiguousarray(g.T).T for g in grey]
    assert_same_run(run(frames), grey_as_colour)


def test_grey_floating_and_16_bit_frames_are_the_grey_uint8_frame(grey, grey_as_colour):
    assert_same_run(run([g.astype(np.float32) for g in grey]), grey_as_colour)
    assert_same_run(run([g.astype(np.uint16) * 257 for g in grey]), grey_as_colour)


def test_a_16_bit_frame_of_x_times_257_is_the_8_bit_frame_of_x():
    colour = colour_scene()
    expected = run(colour)
    assert_same_run(run([f.astype(np.uint16) * 257 for f in colour]), expected)
    # Big-endian samples too (read by a native copy).
    assert_same_run(run([(f.astype(np.uint16) * 257).astype(">u2") for f in colour]), expected)


def test_16_bit_samples_are_scaled_to_the_nearest_8_bit_level():
    # Samples off the x * 257 grid: each is taken as round(x / 257), the
    # level the corvane command gives a 16-bit image; 65535 is 255.
    colour = colour_scene()
    rng = np.random.default_rng(11)
    offsets = rng.integers(-128, 129, colour[0].shape)
    wide = [np.clip(f.astype(int) * 257 + offsets, 0, 65535).astype(np.uint16) for f in colour]
    levels = [np.rint(w / 257.0).astype(np.uint8) for w in wide]
    assert_same_run(run(wide), run(levels))
    full = np.full((H, W, 3), 65535, np.uint16)
    assert_same_run(run([full] * 3), run([np.full((H, W, 3), 255, np.uint8)] * 3), moving=False)


def test_a_bgra_frame_is_its_bgr_frame_whatever_the_alpha():
    colour = colour_scene()
    rng = np.random.default_rng(13)
    bgra = [np.concatenate([f, rng.integers(0, 256, (H, W, 1), np.uint8)], axis=2)
            for f in colour]
    assert bgra[0].shape == (H, W, 4)
    assert_same_run(run(bgra), run(colour))
    # 16-bit BGRA, as a PNG with alpha reads with IMREAD_UNCHANGED.
    assert_same_run(run([f.astype(np.uint16) * 257 for f in bgra]), run(colour))


def test_grey_frames_fill_an_fgmask_and_learn_nothing_at_rate_zero(grey):
    sub = corvane.BackgroundSubtractor(threads=1)
    for g in grey[:-1]:
        sub.apply(g)
    before = {k: v.tobytes() for k, v in sub.model.items()}
    out = np.full((H, W), 7, np.uint8)
    mask = sub.apply(grey[-1], out, learningRate=0)
    assert mask is out and set(np.unique(out)) <= {0, 255}
    assert {k: v.tobytes() for k, v in sub.model.items()} == before


@pytest.mark.parametrize("frame, words", [
    (np.zeros((H, W, 3), np.int32), r"uint8 \(0..255\), uint16 .*; it is int32"),
    (np.zeros((H, W, 3), np.bool_), "it is bool"),
    (np.zeros((H, W), np.float16), "it is float16"),
    (np.zeros((H, W, 2), np.uint16), r"H x W \(grey\).*BGRA.*\(30, 40, 2\)"),
    (np.zeros((H, W, 3, 1), np.uint8), r"\(30, 40, 3, 1\)"),
    (np.zeros((W,), np.uint8), r"\(40,\)"),
    (np.zeros((0, W), np.uint16), "no pixels"),
    (np.full((H, W), np.inf), "NaN or infinite"),
])
def test_other_camera_frames_are_refused_saying_what_is_taken(frame, words):
    sub = corvane.BackgroundSubtractor()
    good = grey_scene()
    sub.apply(good[0])
    before = {k: v.tobytes() for k, v in sub.model.items()}
    with pytest.raises(ValueError, match=words):
        sub.apply(frame)
    assert {k: v.tobytes() for k, v in sub.model.items()} == before and sub.frames == 1
    sub.apply(good[1])
    assert sub.frames == 2


def test_a_frame_of_another_kind_but_the_same_size_goes_on_the_same_video(grey):
    # A camera that switches to grey (night mode) keeps its model.
    sub = corvane.BackgroundSubtractor(threads=1)
    colour = [np.repeat(g[:, :, None], 3, axis=2) for g in grey]
    for t in range(FRAMES):
        mask = sub.apply(grey[t] if t % 2 else colour[t])
    assert np.array_equal(mask, run(colour)[0][-1])
