"""The grid layout rules, restated for the tests: which cell (label and rectangle) holds a
point, level by level, so tests can type labels and predict where the pointer lands."""

import math
from dataclasses import dataclass

ALPHABET = "abcdefghijklmnopqrstuvwxyz"


@dataclass(frozen=True)
class Cell:
    output: str
    label: str
    x: int
    y: int
    width: int
    height: int

    def contains(self, x, y):
        return self.x <= x < self.x + self.width and self.y <= y < self.y + self.height

    def target(self):
        return self.x + self.width // 2, self.y + self.height // 2


@dataclass(frozen=True)
class Settings:
    """The grid keys of the configuration (defaults as shipped)."""
    root_min_tile_width: int = 96
    root_min_tile_height: int = 54
    min_tile_width: int = 16
    min_tile_height: int = 16
    max_cells: int = 4096
    max_label_length: int = 3
    refinement_zoom: float = 1.0


def label(index, length):
    letters = []
    for _ in range(length):
        letters.append(ALPHABET[index % 26])
        index //= 26
    return "".join(reversed(letters))


def layout(regions, capacity, max_label_length, min_width, min_height):
    """regions: (output, x, y, width, height) tuples; the cells in label order."""
    effective = min(26 ** max_label_length, capacity)

    def dims(scale):
        return [(max(1, math.floor(w / (min_width * scale))),
                 max(1, math.floor(h / (min_height * scale)))) for _, _, _, w, h in regions]

    def total(scale):
        return sum(c * r for c, r in dims(scale))

    scale = 1.0
    if total(scale) > effective:
        low, scale = 1.0, 2.0
        while total(scale) > effective:
            low, scale = scale, 2 * scale
        for _ in range(64):
            mid = (low + scale) * 0.5
            if total(mid) <= effective:
                scale = mid
            else:
                low = mid
    sizes = dims(scale)
    count = sum(c * r for c, r in sizes)
    length = next(n for n in range(1, max_label_length + 1) if 26 ** n >= count)
    cells, k = [], 0
    for (output, x, y, w, h), (cols, rows) in zip(regions, sizes):
        for r in range(rows):
            for c in range(cols):
                left, right = x + c * w // cols, x + (c + 1) * w // cols
                top, bottom = y + r * h // rows, y + (r + 1) * h // rows
                cells.append(Cell(output, label(k, length), left, top, right - left,
                                  bottom - top))
                k += 1
    return cells


def root_level(settings, outputs):
    """outputs: (name, width, height) in output-list order."""
    return layout([(name, 0, 0, w, h) for name, w, h in outputs], settings.max_cells,
                  settings.max_label_length, settings.root_min_tile_width,
                  settings.root_min_tile_height)


def child_level(settings, cell, depth, extent):
    """The level inside `cell` for a session that has `depth` levels; `extent` is the output's
    (width, height). Lens geometry only matters for the tile size here: the first descent's
    displayed cell is the cell itself."""
    level_w = max(settings.root_min_tile_width // 2 ** depth, settings.min_tile_width)
    level_h = max(settings.root_min_tile_height // 2 ** depth, settings.min_tile_height)
    min_w, min_h = level_w, level_h
    if settings.refinement_zoom > 1 and depth == 1:
        zoom = min(settings.refinement_zoom, extent[0] / max(cell.width, 1),
                   extent[1] / max(cell.height, 1))
        lens_w = min(max(int(math.floor(cell.width * zoom + 0.5)), 1), extent[0])
        lens_h = min(max(int(math.floor(cell.height * zoom + 0.5)), 1), extent[1])
        min_w = max(1, math.ceil(level_w * cell.width / lens_w))
        min_h = max(1, math.ceil(level_h * cell.height / lens_h))
    return layout([(cell.output, cell.x, cell.y, cell.width, cell.height)], settings.max_cells,
                  settings.max_label_length, min_w, min_h)


def lens_rect(settings, cell, extent):
    """Where the first descent's lens is drawn: (x, y, width, height)."""
    zoom = min(settings.refinement_zoom, extent[0] / max(cell.width, 1),
               extent[1] / max(cell.height, 1))
    width = min(max(int(math.floor(cell.width * zoom + 0.5)), 1), extent[0])
    height = min(max(int(math.floor(cell.height * zoom + 0.5)), 1), extent[1])
    x = min(max(cell.x + cell.width // 2 - width // 2, 0), extent[0] - width)
    y = min(max(cell.y + cell.height // 2 - height // 2, 0), extent[1] - height)
    return x, y, width, height


def cell_at(cells, x, y):
    return next(c for c in cells if c.contains(x, y))
