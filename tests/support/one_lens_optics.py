"""The one-lens cameras' lens model and shots of a scene through it, for the tests' generators and
reference renders. Everything is computed here in double precision from the model's formulas;
nothing of the program is used.

Frames: the camera frame has x towards the right of the shot's picture, y towards its bottom and
z along the optical axis, as a camera's picture shows it, so the world's up is -y. A shot's pixel
positions address its rows bottom-up: the JPEG file's row r is the buffer's row side - 1 - r. A
pano direction d reaches shot k's camera frame as M_k d, M_k = R(own angles) Ry(2 pi k / 3) G,
R(a, b, c) = Rz(a) Ry(b) Rx(c) and G = R(roll, 0, pitch) the levelling. A scene is a function of
world directions (x, up, z), all numpy arrays, returning linear light (..., 3) between 0 and 1.
"""

import math

import numpy as np

TINY = 1.1754944e-38


def distort(lens, px, py):
    x = px - lens["U0"]
    y = py - lens["V0"]
    r2 = x * x + y * y
    radial = lens["K1"] * r2 + lens["K2"] * r2 * r2 + lens["K3"] * r2 * r2 * r2
    s = 1.0 + lens["P3"] * r2
    out_x = lens["U0"] + x - ((2 * x * x + r2) * lens["P1"] + 2 * lens["P2"] * x * y) * s - radial * x
    out_y = lens["V0"] + y - ((2 * y * y + r2) * lens["P2"] + 2 * lens["P1"] * x * y) * s - radial * y
    return out_x, out_y


def project(lens, x, y, z):
    """Camera direction to shot pixel: equidistant fisheye, then the distortion."""
    rho = np.maximum(np.hypot(x, y), TINY)
    r = lens["F"] * (math.pi / 2 - np.arctan(z / rho))
    u = lens["U0"] + r * x / rho
    v = lens["V0"] - lens["RY"] * r * y / rho
    return distort(lens, u, v)


def unproject(lens, px, py):
    """Shot pixel to unit camera direction, the distortion undone by Newton steps."""
    ux, uy = np.array(px, dtype=np.float64), np.array(py, dtype=np.float64)
    h = 1e-3
    for _ in range(8):
        dx, dy = distort(lens, ux, uy)
        ex, ey = dx - px, dy - py
        a11 = (distort(lens, ux + h, uy)[0] - dx) / h
        a12 = (distort(lens, ux, uy + h)[0] - dx) / h
        a21 = (distort(lens, ux + h, uy)[1] - dy) / h
        a22 = (distort(lens, ux, uy + h)[1] - dy) / h
        det = a11 * a22 - a12 * a21
        ux = ux - (a22 * ex - a12 * ey) / det
        uy = uy - (a11 * ey - a21 * ex) / det
    dx = ux - lens["U0"]
    dy = (uy - lens["V0"]) / lens["RY"]
    r = np.maximum(np.hypot(dx, dy), TINY)
    theta = r / lens["F"]
    return np.sin(theta) * dx / r, np.sin(theta) * -dy / r, np.cos(theta)


def rotation(a, b, c):
    """Rz(a) Ry(b) Rx(c), each written out on its own."""
    rz = np.array([[math.cos(a), -math.sin(a), 0.0], [math.sin(a), math.cos(a), 0.0], [0.0, 0.0, 1.0]])
    ry = np.array([[math.cos(b), 0.0, math.sin(b)], [0.0, 1.0, 0.0], [-math.sin(b), 0.0, math.cos(b)]])
    rx = np.array([[1.0, 0.0, 0.0], [0.0, math.cos(c), -math.sin(c)], [0.0, math.sin(c), math.cos(c)]])
    return rz @ ry @ rx


def shot_matrix(shot, own=(0.0, 0.0, 0.0), level=(0.0, 0.0)):
    """Pano direction to shot k's camera frame (k = 0, 1, 2)."""
    return rotation(*own) @ rotation(0.0, 2.0 * math.pi * shot / 3.0, 0.0) @ rotation(level[0], 0.0, level[1])


def shot_light(lens, side, width, matrix, scene):
    """What a shot sees: a top-down (side, width) picture of linear light whose centred square is
    the shot looking through `matrix` (see shot_matrix)."""
    offset = (width - side) // 2
    cols = np.arange(width, dtype=np.float64) - offset
    rows = side - 1 - np.arange(side, dtype=np.float64)  # file row r shows buffer row side - 1 - r
    px, py = np.meshgrid(cols, rows)
    cx, cy, cz = unproject(lens, px, py)
    # Back to the pano's frame through the transpose, then to the world, whose up is -y.
    m = matrix
    dx = m[0, 0] * cx + m[1, 0] * cy + m[2, 0] * cz
    dy = m[0, 1] * cx + m[1, 1] * cy + m[2, 1] * cz
    dz = m[0, 2] * cx + m[1, 2] * cy + m[2, 2] * cz
    return scene(dx, -dy, dz)


def world_elevation_deg(up):
    return np.degrees(np.arcsin(np.clip(up, -1.0, 1.0)))


def azimuth_deg(x, z):
    """The pano's azimuth of a direction: column i of a pano of width W looks at 360 - 360 i / W."""
    return np.degrees(np.arctan2(z, x)) % 360.0


def sky_scene(marker):
    """A bright sky above the horizon, a dark floor below it, and a red disc of `marker` =
    (azimuth, elevation, radius) in degrees."""
    def scene(x, up, z):
        elevation = world_elevation_deg(up)
        t = np.clip(elevation / 90.0, -1.0, 1.0)[..., None]
        sky = np.array([0.55, 0.75, 0.95]) + t * np.array([0.2, 0.15, 0.05])
        floor = np.array([0.18, 0.12, 0.07]) + (-t) * np.array([0.05, 0.03, 0.02])
        light = np.where((elevation > 0)[..., None], sky, floor)
        a, e = math.radians(marker[0]), math.radians(marker[1])
        centre = (math.cos(e) * math.cos(a), math.sin(e), math.cos(e) * math.sin(a))
        norm = np.sqrt(x * x + up * up + z * z)
        cosine = (x * centre[0] + up * centre[1] + z * centre[2]) / np.maximum(norm, TINY)
        disc = cosine >= math.cos(math.radians(marker[2]))
        return np.where(disc[..., None], np.array([0.9, 0.02, 0.02]), light)
    return scene


def exposed(light, gain):
    """8-bit picture values of linear light, as the camera's JPEG holds them."""
    return np.uint8(np.clip(np.floor(255.0 * np.clip(light * gain, 0, 1) ** (1 / 2.2) + 0.5), 0, 255))
