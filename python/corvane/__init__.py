"""Corvane: background subtraction of colour video with OpenCV's interface.

    import cv2, corvane
    sub = corvane.BackgroundSubtractor()          # every parameter a keyword
    capture = cv2.VideoCapture("video.avi")
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        mask = sub.apply(frame)                   # H x W uint8, 255 = foreground

help(corvane.BackgroundSubtractor) lists the parameters with their meaning,
default and allowed values; corvane.parameters() gives the same table as
data, and corvane.model_fields() the fields of the model dict.
OpenCV is not needed to import or use the module: frames are NumPy arrays.
"""

from ._corvane import BackgroundSubtractor, FrameRangeWarning, model_fields, parameters, __version__
from .batch import segment_many  # many videos on Dask; Dask is imported only when it runs

__all__ = ["BackgroundSubtractor", "FrameRangeWarning", "model_fields", "parameters", "segment_many",
           "__version__"]
