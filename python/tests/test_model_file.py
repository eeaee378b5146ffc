"""The model file (save, load, pickling) and the learn mask of apply()."""

import pickle

import numpy as np
import pytest

import corvane
from test_subtractor import H, W, scene


def trained(frames, **keywords):
    sub = corvane.BackgroundSubtractor(**keywords)
    for frame in frames:
        sub.apply(frame)
    return sub


# ---- save, load, pickle ------------------------------------------------------

def test_saved_loaded_and_pickled_subtractors_go_on_exactly(tmp_path):
    frames = scene(40)
    original = trained(frames[:20], map_rows=2, map_columns=2, learning_rate=0.07,
                       flicker_step=0.2, threads=1)
    original.save(tmp_path / "model.mat")                    # os.PathLike
    loaded = corvane.BackgroundSubtractor.load(str(tmp_path / "model.mat"))
    pickled = pickle.loads(pickle.dumps(original))
    for sub in (loaded, pickled):
        assert sub.parameters == original.parameters
    assert pickled.threads == 1
    for frame in frames[20:]:
        mask = original.apply(frame)
        assert np.array_equal(loaded.apply(frame), mask)
        assert np.array_equal(pickled.apply(frame), mask)
    for name, value in original.model.items():
        assert loaded.model[name].tobytes() == value.tobytes(), name


def test_load_takes_keywords_over_the_saved_parameters(tmp_path):
    sub = trained(scene(12), mask_threshold=0.6)
    sub.save(tmp_path / "m.mat")
    again = corvane.BackgroundSubtractor.load(tmp_path / "m.mat", median_size=5, threads=2)
    assert again.parameters["mask_threshold"] == 0.6
    assert again.parameters["median_size"] == 5 and again.threads == 2
    with pytest.raises(ValueError, match="map"):
        corvane.BackgroundSubtractor.load(tmp_path / "m.mat", map_rows=3)
    with pytest.raises(TypeError):
        corvane.BackgroundSubtractor.load(tmp_path / "m.mat", no_such_parameter=1)


def test_a_bad_file_is_refused_and_an_old_file_kept(tmp_path):
    sub = trained(scene(12))
    path = tmp_path / "m.mat"
    with pytest.raises(ValueError, match="no model yet"):
        corvane.BackgroundSubtractor().save(path)
    assert not path.exists()
    sub.save(path)
    data = path.read_bytes()
    with pytest.raises(OSError, match="cannot"):
        sub.save(tmp_path / "no-folder" / "m.mat")
    assert path.read_bytes() == data and sorted(p.name for p in tmp_path.iterdir()) == ["m.mat"]

    with pytest.raises(OSError, match="No such file"):
        corvane.BackgroundSubtractor.load(tmp_path / "absent.mat")
    for name, contents, words in [
            ("cut.mat", data[:len(data) // 2], "cut short"),
            ("header.mat", data[:128], "holds no variable"),
            ("text.mat", b"not a model\n" * 20, "not a MATLAB MAT-file"),
            ("empty.mat", b"", "not a MATLAB MAT-file")]:
        (tmp_path / name).write_bytes(contents)
        with pytest.raises(ValueError, match=words):
            corvane.BackgroundSubtractor.load(tmp_path / name)
    with pytest.raises(TypeError, match="path"):
        sub.save(42)
    with pytest.raises(ValueError):
        pickle.loads(pickle.dumps(sub).replace(data[200:220], b"\0" * 20))


def test_a_loaded_model_refuses_frames_of_another_size(tmp_path):
    trained(scene(12)).save(tmp_path / "m.mat")
    sub = corvane.BackgroundSubtractor.load(tmp_path / "m.mat")
    before = sub.model
    with pytest.raises(ValueError, match=f"{H} x {W}"):
        sub.apply(np.zeros((H + 2, W, 3), np.uint8))
    assert all(sub.model[k].tobytes() == v.tobytes() for k, v in before.items())


# ---- learnMask ---------------------------------------------------------------

def standing_person(count, arrives=30):
    """A still noisy scene into which a box walks at `arrives` and stands still."""
    frames = scene(count, seed=8, square=False)
    for frame in frames[arrives:]:
        frame[10:22, 14:26] = (30, 60, 220)
    box = np.zeros((H, W), bool)
    box[10:22, 14:26] = True
    return frames, box


def test_a_still_object_under_the_learn_mask_stays_foreground():
    frames, box = standing_person(400)
    plain, kept = corvane.BackgroundSubtractor(), corvane.BackgroundSubtractor()
    seen_plain, seen_kept = [], []
    for t, frame in enumerate(frames):
        seen_plain.append(plain.apply(frame)[box].mean() / 255)
        seen_kept.append(kept.apply(frame, learnMask=box if t >= 30 else None)[box].mean() / 255)
    assert seen_plain[32] > 0.75 and seen_plain[-1] < 0.25     # it fades without the mask
    assert min(seen_kept[32:]) > 0.75                          # and stays with it


def test_the_learn_mask_keeps_the_pixels_model_and_takes_uint8_and_views():
    frames, box = standing_person(40)
    a, b = trained(frames[:32]), trained(frames[:32])
    before = a.model
    mask_bool = a.apply(frames[32], learnMask=box)
    mask_view = b.apply(frames[32], learnMask=np.asfortranarray(box.astype(np.uint8) * 7))
    assert np.array_equal(mask_bool, mask_view)
    after = a.model
    K = after["Mu"].shape[1]
    kept = box.ravel(order="F")
    for name in ("Pi",):
        assert np.array_equal(after[name].ravel(order="F")[kept], before[name].ravel(order="F")[kept])
    assert np.array_equal(after["Mu"][:, :, kept], before["Mu"][:, :, kept])
    assert np.array_equal(after["Sigma2"][:, kept], before["Sigma2"][:, kept])
    assert not np.array_equal(after["Mu"][:, :, ~kept], before["Mu"][:, :, ~kept])
    assert K == 6


@pytest.mark.parametrize("learn_mask, error, words", [
    (np.zeros((H, W + 1), bool), ValueError, "learnMask must be"),
    (np.zeros((H, W, 1), np.uint8), ValueError, "learnMask must be"),
    (np.zeros((H, W), np.float64), ValueError, "bool or uint8"),
    ([[True] * W] * H, TypeError, "NumPy array"),
])
def test_a_bad_learn_mask_raises_and_changes_nothing(learn_mask, error, words):
    sub = trained(scene(5))
    before = sub.model
    with pytest.raises(error, match=words):
        sub.apply(scene(6)[5], learnMask=learn_mask)
    assert sub.frames == 5
    assert all(sub.model[k].tobytes() == v.tobytes() for k, v in before.items())


def test_damaged_files_are_refused_or_read_never_crash(tmp_path):
    """Bytes changed anywhere after the header (a bad disk, a bad copy):
    load() reads the file or refuses it, and the process goes on."""
    import random

    sub = trained(scene(4), initial_frames=2)
    sub.save(tmp_path / "m.mat")
    data = (tmp_path / "m.mat").read_bytes()
    chance = random.Random(1)
    refused = 0
    for _ in range(300):
        damaged = bytearray(data)
        for _ in range(chance.randint(1, 4)):
            damaged[chance.randrange(128, len(damaged))] = chance.randrange(256)
        (tmp_path / "x.mat").write_bytes(bytes(damaged))
        try:
            corvane.BackgroundSubtractor.load(tmp_path / "x.mat")
        except ValueError:
            refused += 1
    assert refused > 0
