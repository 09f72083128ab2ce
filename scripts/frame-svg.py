#!/usr/bin/env python3
"""Draws the NEC frame in a VCD trace of GPIO 24 as an SVG picture.

usage: scripts/frame-svg.py TRACE.vcd OUT.svg [--code BITS]

The envelope of the whole frame on a time axis in ms, its parts marked, each bit
labelled as read from the gap after its burst, and an inset of the first carrier
periods.  Everything drawn is measured from the trace; --code only checks that the
trace carries those bits (exit status 1 if not).
"""
import argparse
import statistics
import sys
from html import escape

SIGNAL = "gpio24"
CARRIER_GAP_US = 100  # a low spell longer than this ends a burst
ONE_GAP_US = 1125  # halfway between NEC's 562 us and 1688 us gaps

W, LEFT, RIGHT = 1200, 50, 40
FONT = "DejaVu Sans, Verdana, sans-serif"
BURST, BURST_EDGE, INK, GREY = "#f4b6ae", "#b83224", "#222", "#777"


def read_vcd(path):
    """The (time us, level) changes of SIGNAL."""
    ident, changes, now = None, [], 0
    with open(path) as vcd:
        for line in vcd:
            words = line.split()
            if words[:1] == ["$var"] and len(words) > 4 and words[4] == SIGNAL:
                ident = words[3]
            elif line.startswith("#"):
                now = int(line[1:])
            elif ident and line.strip() in ("0" + ident, "1" + ident):
                level = int(line[0])
                # The level at time 0 is a change only if the line starts high.
                if level != (changes[-1][1] if changes else 0):
                    changes.append((now, level))
    if ident is None:
        sys.exit(f"frame-svg: no {SIGNAL} in {path}")
    return changes


def pulses_of(changes):
    """(rise, fall) of every high spell."""
    pulses, rise = [], None
    for t, level in changes:
        if level and rise is None:
            rise = t
        elif not level and rise is not None:
            pulses.append((rise, t))
            rise = None
    return pulses


def bursts_of(pulses):
    """Runs of carrier periods, as (start, end).  A burst is whole periods, so it
    ends one off time after its last fall, as the transmitter counts it."""
    runs = []
    for pulse in pulses:
        if runs and pulse[0] - runs[-1][-1][1] <= CARRIER_GAP_US:
            runs[-1].append(pulse)
        else:
            runs.append([pulse])
    bursts = []
    for run in runs:
        offs = [b[0] - a[1] for a, b in zip(run, run[1:])]
        bursts.append((run[0][0], run[-1][1] + (statistics.median(offs) if offs else 0)))
    return bursts


class Svg:
    def __init__(self, height):
        # Text keeps a white halo, so that a line passing behind it stays readable.
        self.parts = [
            f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{height}" '
            f'viewBox="0 0 {W} {height}" font-family="{FONT}" font-size="13" fill="{INK}">',
            f'<rect width="{W}" height="{height}" fill="white"/>',
        ]

    def add(self, element):
        self.parts.append(element)

    def text(self, x, y, words, anchor="middle", size=13, weight="normal", fill=INK):
        self.add(f'<text x="{x:.1f}" y="{y:.1f}" text-anchor="{anchor}" font-size="{size}" '
                 f'font-weight="{weight}" fill="{fill}" stroke="white" stroke-width="3" '
                 f'paint-order="stroke">{escape(words)}</text>')

    def line(self, x1, y1, x2, y2, stroke=GREY, width=1, dash=None):
        dashes = f' stroke-dasharray="{dash}"' if dash else ""
        self.add(f'<line x1="{x1:.1f}" y1="{y1:.1f}" x2="{x2:.1f}" y2="{y2:.1f}" '
                 f'stroke="{stroke}" stroke-width="{width}"{dashes}/>')

    def bracket(self, x1, x2, y, *label):
        """A span marker over [x1, x2], its label above in one or more lines."""
        self.add(f'<path d="M{x1 + 1:.1f},{y + 6} v-6 H{x2 - 1:.1f} v6" fill="none" '
                 f'stroke="{GREY}"/>')
        for k, words in enumerate(reversed(label)):
            self.text((x1 + x2) / 2, y - 6 - 15 * k, words)

    def done(self):
        return "\n".join(self.parts + ["</svg>\n"])


def byte_labels(bits):
    """Each byte's name and value, least significant bit first as NEC sends them."""
    values = [sum(int(b) << i for i, b in enumerate(bits[k:k + 8])) for k in range(0, 32, 8)]
    labels = []
    for k, value in enumerate(values):
        if k % 2 == 0:
            labels.append(f"{('address', 'command')[k // 2]} 0x{value:02X}")
        elif value == values[k - 1] ^ 0xFF:
            labels.append(f"inverse 0x{value:02X}")
        else:
            labels.append(f"0x{value:02X}, not the inverse")
    return labels


def ms(us):
    return f"{us / 1000:.2f} ms"


def draw(changes, bursts, bits):
    lead, trail, bit_bursts = bursts[0], bursts[-1], bursts[1:-1]
    # Where each bit ends: where the next burst starts.
    bit_ends = [b[0] for b in bit_bursts[1:]] + [trail[0]]
    t0 = lead[0]
    span = trail[1] - t0 + 7000  # room for the trailing burst's label
    scale = (W - LEFT - RIGHT) / span

    def x(t):
        return LEFT + (t - t0) * scale

    svg = Svg(480)
    head = "NEC frame on GPIO 24"
    labels = byte_labels(bits) if len(bits) == 32 else []
    if labels:
        head += f": {labels[0]}, {labels[2]}"
    svg.text(LEFT, 26, head, anchor="start", size=17, weight="bold")
    svg.text(LEFT, 46, "bits read from the trace: " +
             " ".join(bits[k:k + 8] for k in range(0, len(bits), 8)) +
             "   (each byte least significant bit first)", anchor="start", fill=GREY)

    high, low = 150, 190
    first = bit_bursts[0][0] if bit_bursts else trail[0]
    svg.bracket(x(lead[0]), x(lead[1]), 110, "leading burst", ms(lead[1] - lead[0]))
    svg.bracket(x(lead[1]), x(first), 110, "gap", ms(first - lead[1]))
    for k in range(0, len(bits) - len(bits) % 8, 8):
        svg.bracket(x(bit_bursts[k][0]), x(bit_ends[k + 7]), 110,
                    labels[k // 8] if labels else f"byte {k // 8 + 1}")
    for k, (start, _) in enumerate(bit_bursts):
        svg.text((x(start) + x(bit_ends[k])) / 2, 136, bits[k], size=14, weight="bold",
                 fill=BURST_EDGE if bits[k] == "1" else INK)
    svg.text(x(trail[1]) + 6, 162, "trailing burst", anchor="start")
    svg.text(x(trail[1]) + 6, 177, ms(trail[1] - trail[0]), anchor="start")

    draw_inset(svg, changes, lead[0], x(lead[0]), high, low)

    # The envelope: low between bursts, a block of carrier during each.
    svg.line(x(t0) - 10, low, x(t0 + span), low, stroke=INK, width=1.5)
    for start, end in bursts:
        svg.add(f'<rect x="{x(start):.2f}" y="{high}" width="{(end - start) * scale:.2f}" '
                f'height="{low - high}" fill="{BURST}" stroke="{BURST_EDGE}" stroke-width="1"/>')
    for tick in range(0, int(span / 1000) - 2, 5):
        tx = x(t0 + tick * 1000)
        svg.line(tx, low, tx, low + 5, stroke=INK)
        svg.text(tx, low + 19, str(tick), size=12)
    svg.text(x(t0 + span), low + 19, "ms", anchor="end", size=12)

    if bit_bursts:
        legend = ["Measured from the trace:"]
        burst = statistics.median(e - s for s, e in bit_bursts)
        legend.append(f"a bit is a burst of {burst:.0f} µs")
        for value in "01":
            gaps = [bit_ends[k] - e for k, (_, e) in enumerate(bit_bursts) if bits[k] == value]
            if gaps:
                legend.append(f"then {statistics.median(gaps):.0f} µs low for a {value}")
        legend += ["", "Each burst, drawn as a block,", "is carrier, zoomed on the left."]
        for k, words in enumerate(legend):
            svg.text(W - RIGHT - 250, 280 + 18 * k, words, anchor="start",
                     weight="bold" if k == 0 else "normal")
    return svg.done()


def draw_inset(svg, changes, start, marker_x, high, low):
    """The first carrier periods at their own scale, linked to where they are."""
    before, length = 30, 170
    box_x, box_y, box_w, box_h = LEFT, 255, 800, 200
    us = box_w / (before + length)

    def x(t):
        return box_x + (t - start + before) * us

    svg.add(f'<rect x="{marker_x - 4:.1f}" y="{high - 4}" width="9" height="{low - high + 8}" '
            f'fill="none" stroke="{INK}" stroke-width="1.2"/>')
    svg.line(marker_x - 4, low + 4, box_x, box_y, dash="4 3")
    svg.line(marker_x + 5, low + 4, box_x + box_w, box_y, dash="4 3")
    svg.add(f'<rect x="{box_x}" y="{box_y}" width="{box_w}" height="{box_h}" fill="#fafafa" '
            f'stroke="{GREY}"/>')
    svg.text(box_x + 12, box_y + 22, "Zoomed: the start of the leading burst", anchor="start",
             weight="bold")

    top, bottom = box_y + 85, box_y + 145
    level, points = 0, [(box_x, bottom)]
    window = [c for c in changes if start - before <= c[0] <= start + length]
    for t, new in window:
        points += [(x(t), bottom - level * (bottom - top)), (x(t), bottom - new * (bottom - top))]
        level = new
    points.append((box_x + box_w, bottom - level * (bottom - top)))
    path = " ".join(f"{px:.1f},{py:.1f}" for px, py in points)
    svg.add(f'<polyline points="{path}" fill="none" stroke="{BURST_EDGE}" stroke-width="2"/>')
    svg.text(box_x + 12, top + 4, "high", anchor="start", size=12, fill=GREY)
    svg.text(box_x + 12, bottom - 6, "low", anchor="start", size=12, fill=GREY)

    rises = [t for t, v in window if v == 1 and t >= start]
    falls = [t for t, v in window if v == 0 and rises and t > rises[0]]
    if len(rises) >= 3 and falls:
        on, period = falls[0] - rises[0], rises[1] - rises[0]
        svg.text((x(rises[0]) + x(falls[0])) / 2, top - 8, f"on {on} µs", size=12)
        svg.text((x(falls[0]) + x(rises[1])) / 2, bottom + 16, f"off {period - on} µs", size=12)
        svg.line(x(rises[1]), top - 22, x(rises[2]), top - 22, stroke=INK)
        for edge in rises[1:3]:
            svg.line(x(edge), top - 27, x(edge), top - 17, stroke=INK)
        svg.text((x(rises[1]) + x(rises[2])) / 2, top - 30,
                 f"period {period} µs: {1000 / period:.1f} kHz", size=12)
    for t in range(0, length + 1, 26):
        tx = x(start + t)
        svg.line(tx, bottom + 26, tx, bottom + 31, stroke=INK)
        svg.text(tx, bottom + 44, str(t), size=11)
    svg.text(box_x + box_w - 8, bottom + 44, "µs", anchor="end", size=11)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("trace")
    parser.add_argument("out")
    parser.add_argument("--code", help="bits the trace must carry")
    args = parser.parse_args()

    changes = read_vcd(args.trace)
    bursts = bursts_of(pulses_of(changes))
    if len(bursts) < 2:
        sys.exit(f"frame-svg: no frame in {args.trace}: {len(bursts)} burst(s) of carrier")
    bits = "".join("1" if bursts[k + 1][0] - bursts[k][1] > ONE_GAP_US else "0"
                   for k in range(1, len(bursts) - 1))
    if args.code is not None and args.code != bits:
        sys.exit(f"frame-svg: the trace carries {bits}, not {args.code}")
    with open(args.out, "w") as out:
        out.write(draw(changes, bursts, bits))


if __name__ == "__main__":
    main()
