"""corvane.BackgroundSubtractor: parameters, apply(), learning rates, the model
dict, and every misuse a user can make."""

import threading
import time
import warnings

import numpy as np
import pytest

import corvane

H, W = 36, 48


def scene(count, seed=3, square=True):
    """BGR frames of a still, noisy background crossed by a bright square."""
    rng = np.random.default_rng(seed)
    rows, columns = np.mgrid[0:H, 0:W]
    background = np.stack([40 + 2 * columns, 90 + rows, 150 - columns], axis=2).astype(float)
    frames = []
    for t in range(count):
        frame = background + rng.normal(0, 3, background.shape)
        if square and t >= 12:
            left = (2 * t) % (W - 10)
            frame[10:20, left:left + 10] = (250, 30, 200)
        frames.append(np.clip(np.rint(frame), 0, 255).astype(np.uint8))
    return frames


def model_bytes(model):
    return {name: (value.shape, value.tobytes()) for name, value in model.items()}


# ---- parameters --------------------------------------------------------------

def test_every_table_parameter_is_a_keyword_with_its_default():
    table = corvane.parameters()
    assert len(table) >= 20
    defaults = {entry["name"]: entry["default"] for entry in table}
    sub = corvane.BackgroundSubtractor(**defaults)
    assert sub.parameters == defaults
    assert corvane.BackgroundSubtractor().parameters == defaults
    doc = corvane.BackgroundSubtractor.__doc__
    for entry in table:
        assert entry["name"] in doc and entry["help"] in doc


@pytest.mark.parametrize("keywords, words", [
    ({"map_rows": 9}, "map_rows must be a whole number from 1 to 8; it is 9"),
    ({"map_rows": 2.5}, "map_rows must be a whole number"),
    ({"median_size": 4}, "median_size must be an odd whole number from 1 to 31"),
    ({"step_size": -0.1}, "step_size must be a number from 0 to 1"),
    ({"initial_prior": 1}, "initial_prior must be a number above 0 and below 1"),
    ({"learning_rate": float("nan")}, "learning_rate must be"),
    ({"maximum_variance_limit": 50}, "maximum_variance_limit must be at least maximum_variance (80)"),
    ({"prior_floor": 0.5, "prior_ceiling": 0.4}, "prior_ceiling must be at least prior_floor"),
    ({"threads": -1}, "threads must be a whole number from 0"),
    ({"threads": 257}, "threads must be a whole number from 0 to 256"),
    ({"calibration_frames": 10 ** 400}, "calibration_frames is too large"),
])
def test_a_bad_value_is_a_value_error_naming_parameter_and_range(keywords, words):
    with pytest.raises(ValueError, match=words.replace("(", r"\(").replace(")", r"\)")):
        corvane.BackgroundSubtractor(**keywords)


@pytest.mark.parametrize("keywords, words", [
    ({"mapRows": 3}, "did you mean map_rows"),
    ({"history": 500}, "unexpected keyword argument 'history'"),
    ({"map_rows": "3"}, "map_rows must be a number, not str"),
    ({"median_size": True}, "median_size must be a number, not a bool"),
])
def test_unknown_names_and_non_numbers_are_type_errors(keywords, words):
    with pytest.raises(TypeError, match=words):
        corvane.BackgroundSubtractor(**keywords)


def test_numpy_numbers_are_accepted():
    sub = corvane.BackgroundSubtractor(map_rows=np.int64(2), step_size=np.float32(0.5))
    assert sub.parameters["map_rows"] == 2 and sub.parameters["step_size"] == 0.5


# ---- apply -------------------------------------------------------------------

def test_apply_finds_the_square_and_writes_into_fgmask():
    frames = scene(30)
    sub = corvane.BackgroundSubtractor()
    for frame in frames[:-1]:
        mask = sub.apply(frame)
    assert mask.shape == (H, W) and mask.dtype == np.uint8
    fgmask = np.full((H, W), 7, np.uint8)
    result = sub.apply(image=frames[-1], fgmask=fgmask, learningRate=-1)   # OpenCV's names
    assert result is fgmask
    assert set(np.unique(fgmask)) <= {0, 255}
    left = (2 * 29) % (W - 10)
    assert fgmask[12:18, left + 2:left + 8].all()          # the square
    assert fgmask[25:, :].sum() == 0                         # background below it
    assert sub.frames == 30
    probability = sub.probability
    assert probability.shape == (H, W) and probability.dtype == np.float64
    assert probability.flags.c_contiguous
    assert np.array_equal(probability > sub.parameters["mask_threshold"],
                          np.asarray(sub.model["imMask"]) > sub.parameters["mask_threshold"])


def test_float_frames_in_0_to_255_give_the_same_bits_as_uint8():
    frames = scene(15)
    subs = [corvane.BackgroundSubtractor() for _ in range(3)]
    for frame in frames:
        masks = [subs[0].apply(frame), subs[1].apply(frame.astype(np.float32)),
                 subs[2].apply(frame.astype(np.float64))]
        assert all(np.array_equal(masks[0], m) for m in masks)
    assert model_bytes(subs[0].model) == model_bytes(subs[1].model) == model_bytes(subs[2].model)


def test_float_frames_scaled_to_0_to_1_warn_once_per_subtractor():
    frames = scene(15)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        # Colours in 0..255, as uint8 or floats, and a black frame: no warning.
        quiet = corvane.BackgroundSubtractor()
        quiet.apply(frames[0])
        quiet.apply(frames[1].astype(np.float32))
        quiet.apply(np.zeros((H, W, 3)))
        assert not caught
        scaled = corvane.BackgroundSubtractor()
        for frame in frames:
            assert not scaled.apply(frame.astype(np.float32) / 255).any()
        other = corvane.BackgroundSubtractor()
        other.apply(frames[0] / 255.0)
    assert [w.category for w in caught] == [corvane.FrameRangeWarning] * 2
    assert issubclass(corvane.FrameRangeWarning, UserWarning)
    assert "0..255" in str(caught[0].message) and "255 * frame" in str(caught[0].message)


def test_a_frame_range_warning_made_an_error_leaves_the_subtractor_unchanged():
    frames = scene(12)
    sub = corvane.BackgroundSubtractor()
    for frame in frames[:10]:
        sub.apply(frame)
    before = model_bytes(sub.model)
    with warnings.catch_warnings():
        warnings.simplefilter("error", corvane.FrameRangeWarning)
        with pytest.raises(corvane.FrameRangeWarning):
            sub.apply(frames[10] / 255.0)
    assert sub.frames == 10 and model_bytes(sub.model) == before


def test_non_contiguous_read_only_and_swapped_frames_are_read_by_copy():
    frames = scene(14)
    plain, odd = corvane.BackgroundSubtractor(), corvane.BackgroundSubtractor()
    for frame in frames:
        # The same picture as a transposed view, read-only.
        transposed = np.ascontiguousarray(frame.transpose(1, 0, 2)).transpose(1, 0, 2)
        transposed.flags.writeable = False
        assert not transposed.flags.c_contiguous
        copy = transposed.copy()
        assert np.array_equal(plain.apply(frame), odd.apply(transposed))
        assert np.array_equal(transposed, copy)
    big_endian = frames[-1].astype(">f8")
    assert np.array_equal(plain.apply(frames[-1]), odd.apply(big_endian))


def test_background_image_is_the_still_scene_in_bgr_order():
    frame = np.zeros((H, W, 3), np.uint8)
    frame[..., 0], frame[..., 1], frame[..., 2] = 30, 120, 220   # B, G, R
    sub = corvane.BackgroundSubtractor(map_rows=3, map_columns=3)   # neuron 4 starts at the median
    assert sub.getBackgroundImage() is None and sub.probability is None and sub.model is None
    for _ in range(10):
        sub.apply(frame)
    assert np.array_equal(sub.getBackgroundImage(), frame)
    assert np.all(np.asarray(sub.model["Mu"])[:, 4, :].T == (220, 120, 30))  # R, G, B


# ---- learning rates ----------------------------------------------------------

def test_learning_rate_zero_leaves_every_number_of_the_model_as_it_was():
    frames = scene(40)
    sub = corvane.BackgroundSubtractor()
    for frame in frames[:20]:
        sub.apply(frame)
    frozen = model_bytes(sub.model)
    for frame in frames[20:30]:
        sub.apply(frame, learningRate=0)
    assert model_bytes(sub.model) == frozen
    assert sub.frames == 20
    # The frozen mask is the one the next learning call gives.
    for frame in frames[30:]:
        scored = sub.apply(frame, learningRate=0).copy()
        scored_probability = sub.probability
        assert np.array_equal(sub.apply(frame), scored)
        assert np.array_equal(sub.probability, scored_probability)


def test_learning_rate_equal_to_the_parameter_is_the_default_bit_for_bit():
    frames = scene(20)
    default, explicit = corvane.BackgroundSubtractor(), corvane.BackgroundSubtractor()
    for frame in frames:
        assert np.array_equal(default.apply(frame), explicit.apply(frame, learningRate=0.02))
    assert model_bytes(default.model) == model_bytes(explicit.model)


def test_a_higher_learning_rate_absorbs_a_parked_object_sooner():
    before = scene(10, square=False)
    after = scene(250, 5, square=False)
    for frame in after:                                      # a patch 40 levels brighter
        frame[8:24, 10:30] = np.clip(frame[8:24, 10:30].astype(int) + 40, 0, 255)

    def frames_until_background(rate):
        sub = corvane.BackgroundSubtractor()
        for frame in before:
            sub.apply(frame)
        for count, frame in enumerate(after, 1):
            if not sub.apply(frame, learningRate=rate).any():
                return count
        return len(after) + 1

    default, faster, fastest = (frames_until_background(r) for r in (-1, 0.1, 1.0))
    assert fastest < faster < default <= len(after)


@pytest.mark.parametrize("rate", [1.5, float("nan"), "fast"])
def test_a_bad_learning_rate_raises(rate):
    sub = corvane.BackgroundSubtractor()
    with pytest.raises((ValueError, TypeError), match="learningRate"):
        sub.apply(scene(1)[0], learningRate=rate)
    assert sub.model is None


def test_learning_rate_zero_before_any_model_raises():
    with pytest.raises(ValueError, match="no model before the first frame"):
        corvane.BackgroundSubtractor().apply(scene(1)[0], learningRate=0)


# ---- the model dict ----------------------------------------------------------

def test_from_model_continues_exactly():
    frames = scene(40)
    original = corvane.BackgroundSubtractor(map_rows=2, map_columns=3)
    for frame in frames[:20]:
        original.apply(frame)
    model = original.model
    K, N = 6, H * W
    assert model["Mu"].shape == (3, K, N) and model["Sigma2"].shape == (K, N)
    assert model["Cov"].shape == (4, N) and model["Pi"].shape == (H, W)
    assert model["CurrentFrame"].shape == (1, 1) and model["CurrentFrame"][0, 0] == 20
    copy = corvane.BackgroundSubtractor.from_model(model)    # map shape from the model
    assert copy.parameters["map_rows"] == 2
    assert model_bytes(copy.model) == model_bytes(model)
    for frame in frames[20:]:
        assert np.array_equal(original.apply(frame), copy.apply(frame))
    assert model_bytes(copy.model) == model_bytes(original.model)
    # frames counts the copy's own work; the model's frame number goes on.
    assert (copy.frames, original.frames) == (20, 40)
    assert copy.model["CurrentFrame"][0, 0] == 40


def test_from_model_accepts_flat_and_c_ordered_fields_and_keeps_them():
    frames = scene(12)
    sub = corvane.BackgroundSubtractor()
    for frame in frames:
        sub.apply(frame)
    model = sub.model
    changed = {name: (np.ascontiguousarray(v) if v.shape[0] != 1 else float(v[0, 0]))
               for name, v in model.items()}
    changed["Mu"] = model["Mu"].ravel(order="F")            # MATLAB's element order, flat
    before = {name: np.copy(v) for name, v in changed.items()}
    copy = corvane.BackgroundSubtractor.from_model(changed)
    assert model_bytes(copy.model) == model_bytes(model)
    for name, value in changed.items():
        assert np.array_equal(value, before[name])


@pytest.mark.parametrize("damage, words", [
    (lambda m: m.pop("Sigma2"), "no field Sigma2"),
    (lambda m: m.__setitem__("Pi", m["Pi"][:, :-1]), "Pi"),
    (lambda m: m.__setitem__("Cov", np.zeros(3)), "Cov"),
    (lambda m: m.__setitem__("NumImageRows", np.array([[np.nan]])), "NumImageRows"),
    (lambda m: m.__setitem__("Mu", m["Mu"].astype(complex)), "Mu must hold real numbers"),
    (lambda m: m.__setitem__("Var", "none"), "Var"),
    (lambda m: m.pop("FlickerVariance"), "FlickerVariance"),
    (lambda m: m.__setitem__("PreviousFrame", np.zeros(5)), "PreviousFrame"),
    (lambda m: m.__setitem__("CurrentFrame", np.array([[1.5]])), "CurrentFrame"),
])
def test_a_model_with_a_missing_or_short_field_is_a_value_error(damage, words):
    sub = corvane.BackgroundSubtractor()
    sub.apply(scene(1)[0])
    model = sub.model
    damage(model)
    with pytest.raises(ValueError, match=words):
        corvane.BackgroundSubtractor.from_model(model)


def field_shape(field, sizes):
    """A field's shape ("3 x K x N") for the sizes {"K": .., "H": .., ...}."""
    return tuple(int(sizes.get(part, part)) for part in field["shape"].split(" x "))


def test_the_model_dict_holds_every_field_of_the_table_in_its_shape():
    sub = corvane.BackgroundSubtractor(map_rows=2, map_columns=3)
    sub.apply(scene(1)[0])
    model = sub.model
    sizes = {"K": 6, "H": H, "W": W, "N": H * W}
    fields = corvane.model_fields()
    assert [f["name"] for f in fields] == list(model)[:len(fields)]
    for field in fields:
        assert model[field["name"]].shape == field_shape(field, sizes), field["name"]
    assert {f["name"] for f in fields if f["written"]} >= {"Mu", "imMask", "CurrentFrame"}


def test_an_array_field_longer_than_its_sizes_give_is_a_value_error_naming_it():
    sub = corvane.BackgroundSubtractor()
    sub.apply(scene(1)[0])
    for field in corvane.model_fields():
        if field["elements"] == "1":
            continue
        model = sub.model
        model[field["name"]] = np.append(model[field["name"]].ravel(order="F"), 1.0)
        with pytest.raises(ValueError, match=f'"{field["name"]}" holds .* needs exactly'):
            corvane.BackgroundSubtractor.from_model(model)


def test_a_map_shape_that_disagrees_with_the_arrays_is_refused():
    # A K = 9 model whose map fields say 2 x 2 would be read as K = 4.
    sub = corvane.BackgroundSubtractor(map_rows=3, map_columns=3)
    sub.apply(scene(1)[0])
    model = sub.model
    model["NumMapRows"] = np.array([[2.0]])
    model["NumMapColumns"] = np.array([[2.0]])
    with pytest.raises(ValueError, match='"Mu" holds 46656 elements but needs exactly 3\\*K\\*N = 20736'):
        corvane.BackgroundSubtractor.from_model(model)
    with pytest.raises(ValueError, match='"Mu"'):
        corvane.BackgroundSubtractor.from_model(model, map_rows=2, map_columns=2)


def test_from_model_refuses_a_map_other_than_its_parameters_and_non_dicts():
    sub = corvane.BackgroundSubtractor(map_rows=3, map_columns=3)
    sub.apply(scene(1)[0])
    with pytest.raises(ValueError, match="map of 3 x 3"):
        corvane.BackgroundSubtractor.from_model(sub.model, map_rows=2)
    with pytest.raises(TypeError, match="dict"):
        corvane.BackgroundSubtractor.from_model([1, 2, 3])


# ---- misuse of apply ---------------------------------------------------------

@pytest.mark.parametrize("frame, error, words", [
    (np.zeros((H, W, 3), np.int16), ValueError, "uint8.*int16"),
    (np.zeros((H, W, 3), np.uint32), ValueError, "uint16.*uint32"),
    (np.zeros((H, W, 2), np.uint8), ValueError, r"H x W x 3.*\(36, 48, 2\)"),
    (np.zeros((H, W, 5), np.uint8), ValueError, r"\(36, 48, 5\)"),
    (np.zeros((0, W, 3), np.uint8), ValueError, "no pixels"),
    ([[[0, 0, 0]]], TypeError, "NumPy array"),
    (np.full((H, W, 3), np.nan, np.float32), ValueError, "NaN"),
])
def test_a_bad_frame_raises_and_changes_nothing(frame, error, words):
    sub = corvane.BackgroundSubtractor()
    good = scene(2)
    sub.apply(good[0])
    before = model_bytes(sub.model)
    with pytest.raises(error, match=words):
        sub.apply(frame)
    assert model_bytes(sub.model) == before and sub.frames == 1
    sub.apply(good[1])
    assert sub.frames == 2


def test_a_frame_of_another_size_raises():
    sub = corvane.BackgroundSubtractor()
    sub.apply(scene(1)[0])
    with pytest.raises(ValueError, match="36 x 48"):
        sub.apply(np.zeros((H + 1, W, 3), np.uint8))


@pytest.mark.parametrize("fgmask, error, words", [
    (np.zeros((H, W), np.float32), ValueError, "uint8"),
    (np.zeros((H, W + 1), np.uint8), ValueError, "36 x 48"),
    ([0], TypeError, "NumPy array"),
])
def test_a_bad_fgmask_raises(fgmask, error, words):
    with pytest.raises(error, match=words):
        corvane.BackgroundSubtractor().apply(scene(1)[0], fgmask)


def test_a_read_only_fgmask_raises_and_a_strided_one_is_written_in_place():
    frame = scene(1)[0]
    read_only = np.zeros((H, W), np.uint8)
    read_only.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        corvane.BackgroundSubtractor().apply(frame, read_only)
    wide = np.full((H, 2 * W), 9, np.uint8)
    strided = wide[:, ::2]
    expected = corvane.BackgroundSubtractor().apply(frame)
    assert corvane.BackgroundSubtractor().apply(frame, strided) is strided
    assert np.array_equal(strided, expected) and (wide[:, 1::2] == 9).all()


# ---- threads -----------------------------------------------------------------

def test_every_thread_count_gives_the_same_bits():
    frames = scene(15)
    subs = [corvane.BackgroundSubtractor(threads=n) for n in (1, 2, 3)]
    subs.append(corvane.BackgroundSubtractor())
    subs[-1].threads = 256  # the core's cap, the same in every host
    assert subs[-1].threads == 256
    subs[-1].threads = 5
    assert subs[0].threads == 1 and subs[-1].threads == 5
    for frame in frames:
        masks = [sub.apply(frame) for sub in subs]
        assert all(np.array_equal(masks[0], mask) for mask in masks)
    assert all(model_bytes(sub.model) == model_bytes(subs[0].model) for sub in subs)


def test_python_threads_share_subtractors_safely():
    """The update releases the GIL: several Python threads may run videos at
    once, and may even share one subtractor (its calls then take turns)."""
    frames = scene(16)
    reference = corvane.BackgroundSubtractor(threads=1)
    expected = [reference.apply(frame).copy() for frame in frames]
    results, shared = {}, corvane.BackgroundSubtractor(threads=1)

    def run(index):
        own = corvane.BackgroundSubtractor(threads=1)
        results[index] = [own.apply(frame).copy() for frame in frames]
        for _ in range(4):
            shared.apply(frames[0], learningRate=0) if shared.frames else None
            _ = shared.model, shared.probability

    shared.apply(frames[0])
    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for index in range(4):
        assert all(np.array_equal(a, b) for a, b in zip(results[index], expected))


def test_the_update_releases_the_gil():
    """While apply() runs in one thread, Python code runs in another."""
    frame = np.zeros((480, 640, 3), np.uint8)
    sub = corvane.BackgroundSubtractor(threads=1, initial_frames=1)
    sub.apply(frame)
    done, call = threading.Event(), []

    def work():
        start = time.perf_counter()
        sub.apply(frame)
        call.extend([start, time.perf_counter()])
        done.set()

    ticks = []
    worker = threading.Thread(target=work)
    worker.start()
    while not done.is_set():
        ticks.append(time.perf_counter())
    worker.join()
    # The middle half of the call is inside the update: with the GIL held
    # there, this thread could not have run then.
    start, end = call
    quarter = (end - start) / 4
    assert sum(start + quarter < tick < end - quarter for tick in ticks) > 100
