# The extension module under the slabtone package (its functions are the
# package's, which check and document the arguments).
from typing import Callable, Optional, Tuple

import numpy

__version__: str

def read(path: str, strict: bool) -> Tuple[numpy.ndarray, Optional[str], int, Optional[Tuple[float, float]]]: ...
def lac(samples: numpy.ndarray, lac_scale: float, lac_offset: float) -> numpy.ndarray: ...
def grey(samples: numpy.ndarray, lac_scale: float, lac_offset: float, lac_min: float,
         lac_max: float) -> numpy.ndarray: ...
def read_stack(first: int, last: int, folder: str,
               crop: Optional[Tuple[int, int, int, int]], pattern: str) -> numpy.ndarray: ...
def convert(first: int, last: int, lac_min: float, lac_max: float,
            crop: Optional[Tuple[int, int, int, int]], folder: str,
            progress: Optional[Callable[[int], object]], pattern: str, output_pattern: str,
            calibration: Optional[Tuple[float, float]]) -> None: ...
def measure(first: int, last: int, low: float, high: float, folder: str,
            inside_circle: bool, pattern: str,
            calibration: Optional[Tuple[float, float]]) -> dict: ...
