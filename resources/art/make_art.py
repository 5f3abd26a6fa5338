#!/usr/bin/env python3
"""Writes the recorder's artwork as SVG files next to this script.

render.sh runs this and then renders the PNG files that the Qt resource file
holds. Everything is drawn from simple shapes so the pictures stay sharp at the
small sizes the buttons use.
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
PURPLE = "#3c0050"   # the coloured scheme's ground: red 60, green 0, blue 80
LIGHT = "#efefef"    # a light ground like the plain scheme's button face


def svg(width, height, body, defs=""):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
            f'viewBox="0 0 {width} {height}">\n<defs>{defs}</defs>\n{body}\n</svg>\n')


def write(name, text):
    with open(os.path.join(HERE, name), "w") as f:
        f.write(text)


def sector(cx, cy, r, a0, a1):
    """Path of a pie slice from angle a0 to a1 (degrees, clockwise from 3 o'clock)."""
    x0 = cx + r * math.cos(math.radians(a0))
    y0 = cy + r * math.sin(math.radians(a0))
    x1 = cx + r * math.cos(math.radians(a1))
    y1 = cy + r * math.sin(math.radians(a1))
    large = 1 if (a1 - a0) % 360 > 180 else 0
    return f"M{cx:.2f},{cy:.2f} L{x0:.2f},{y0:.2f} A{r:.2f},{r:.2f} 0 {large} 1 {x1:.2f},{y1:.2f} Z"


def record_defs(p):
    return f'''
<radialGradient id="{p}disc" cx="0.5" cy="0.5" r="0.5">
  <stop offset="0" stop-color="#2b2b2e"/><stop offset="0.85" stop-color="#141416"/>
  <stop offset="1" stop-color="#050506"/>
</radialGradient>
<linearGradient id="{p}sheen" x1="0" y1="0" x2="1" y2="1">
  <stop offset="0" stop-color="#ffffff" stop-opacity="0.30"/>
  <stop offset="1" stop-color="#ffffff" stop-opacity="0"/>
</linearGradient>
<radialGradient id="{p}label" cx="0.4" cy="0.35" r="0.7">
  <stop offset="0" stop-color="#f05a3c"/><stop offset="1" stop-color="#a8201a"/>
</radialGradient>
<radialGradient id="{p}shadow" cx="0.5" cy="0.5" r="0.5">
  <stop offset="0.85" stop-color="#000000" stop-opacity="0.45"/>
  <stop offset="1" stop-color="#000000" stop-opacity="0"/>
</radialGradient>'''


def record(p, cx, cy, r, turn=0.0, grooves=True, shadow=True, detail=True):
    """A vinyl record: disc, grooves with track gaps, fixed highlights, a label
    whose marks turn by `turn` degrees, and the spindle hole."""
    out = []
    if shadow:
        out.append(f'<circle cx="{cx + r * 0.05:.2f}" cy="{cy + r * 0.07:.2f}" r="{r * 1.06:.2f}" fill="url(#{p}shadow)"/>')
    out.append(f'<circle cx="{cx}" cy="{cy}" r="{r:.2f}" fill="url(#{p}disc)"/>')
    if grooves:
        # Fine grooves, with wider, lighter rings where one song ends and the next begins.
        n = max(4, int(r * 0.55)) if detail else 4
        inner, outer = r * 0.42, r * 0.95
        gaps = [0.25, 0.52, 0.78]
        for i in range(n):
            t = i / (n - 1)
            rr = inner + (outer - inner) * t
            shade = "#3a3a3f" if i % 2 == 0 else "#1e1e22"
            out.append(f'<circle cx="{cx}" cy="{cy}" r="{rr:.2f}" fill="none" stroke="{shade}" '
                       f'stroke-width="{max(0.35, r / 90):.2f}"/>')
        for g in gaps:
            rr = inner + (outer - inner) * g
            out.append(f'<circle cx="{cx}" cy="{cy}" r="{rr:.2f}" fill="none" stroke="#0a0a0b" '
                       f'stroke-width="{max(0.8, r / 28):.2f}"/>')
            out.append(f'<circle cx="{cx}" cy="{cy}" r="{rr + r / 40:.2f}" fill="none" stroke="#55555c" '
                       f'stroke-width="{max(0.3, r / 110):.2f}" stroke-opacity="0.8"/>')
    out.append(f'<circle cx="{cx}" cy="{cy}" r="{r - 0.5:.2f}" fill="none" stroke="#000" stroke-width="1"/>')
    # Light falling on the grooves: two opposite sheens that stay put while the record turns.
    for mid in (-128, 52):
        # Feathered: narrower slices stacked towards the middle of the sheen.
        for half in (26, 19, 12, 6):
            out.append(f'<path d="{sector(cx, cy, r * 0.96, mid - half, mid + half)}" fill="url(#{p}sheen)" opacity="0.6"/>')
    # The label, with marks that show the turn.
    lr = r * 0.36
    out.append(f'<circle cx="{cx}" cy="{cy}" r="{lr:.2f}" fill="url(#{p}label)"/>')
    out.append(f'<circle cx="{cx}" cy="{cy}" r="{lr:.2f}" fill="none" stroke="#5a0d0a" stroke-width="{max(0.6, r / 60):.2f}"/>')
    marks = []
    # A cream band across the upper half, a printed line below, and a small note.
    marks.append(f'<path d="M{cx - lr * 0.78:.2f},{cy - lr * 0.22:.2f} A{lr:.2f},{lr:.2f} 0 0 1 {cx + lr * 0.78:.2f},{cy - lr * 0.22:.2f} '
                 f'L{cx + lr * 0.62:.2f},{cy - lr * 0.22:.2f} A{lr * 0.8:.2f},{lr * 0.8:.2f} 0 0 0 {cx - lr * 0.62:.2f},{cy - lr * 0.22:.2f} Z" '
                 f'fill="#f6e7c1" opacity="0.95"/>')
    marks.append(f'<rect x="{cx - lr * 0.55:.2f}" y="{cy + lr * 0.32:.2f}" width="{lr * 1.1:.2f}" height="{max(0.6, lr * 0.09):.2f}" fill="#f6e7c1"/>')
    marks.append(f'<rect x="{cx - lr * 0.35:.2f}" y="{cy + lr * 0.52:.2f}" width="{lr * 0.7:.2f}" height="{max(0.6, lr * 0.07):.2f}" fill="#f6e7c1" opacity="0.8"/>')
    nx, ny = cx - lr * 0.12, cy - lr * 0.62
    marks.append(f'<ellipse cx="{nx:.2f}" cy="{ny + lr * 0.22:.2f}" rx="{lr * 0.11:.2f}" ry="{lr * 0.08:.2f}" fill="#7a1410"/>')
    marks.append(f'<rect x="{nx + lr * 0.08:.2f}" y="{ny - lr * 0.05:.2f}" width="{max(0.5, lr * 0.04):.2f}" height="{lr * 0.27:.2f}" fill="#7a1410"/>')
    out.append(f'<g transform="rotate({turn:.1f} {cx} {cy})">' + "".join(marks) + "</g>")
    out.append(f'<circle cx="{cx}" cy="{cy}" r="{max(1.0, r * 0.045):.2f}" fill="#d8d8dc" stroke="#222" stroke-width="{max(0.4, r / 120):.2f}"/>')
    return "\n".join(out)


def turning_picture(name, ground, turn):
    p = "r"
    body = f'<rect width="114" height="114" fill="{ground}"/>\n' + record(p, 57, 56, 52, turn)
    write(name, svg(114, 114, body, record_defs(p)))


def dot_defs(p, light, dark):
    return f'''
<radialGradient id="{p}" cx="0.38" cy="0.32" r="0.75">
  <stop offset="0" stop-color="{light}"/><stop offset="1" stop-color="{dark}"/>
</radialGradient>
<linearGradient id="{p}gloss" x1="0" y1="0" x2="0" y2="1">
  <stop offset="0" stop-color="#ffffff" stop-opacity="0.75"/>
  <stop offset="1" stop-color="#ffffff" stop-opacity="0"/>
</linearGradient>'''


def icon_record():
    body = ('<circle cx="16" cy="16.5" r="13" fill="#000" opacity="0.25"/>'
            '<circle cx="16" cy="16" r="12.5" fill="url(#red)" stroke="#7d0c08" stroke-width="1"/>'
            '<ellipse cx="14.5" cy="10.5" rx="8" ry="5" fill="url(#redgloss)"/>')
    return svg(32, 32, body, dot_defs("red", "#ff6a55", "#c0150c"))


def icon_stop():
    body = ('<rect x="5" y="5.5" width="23" height="23" rx="3" fill="#000" opacity="0.25"/>'
            '<rect x="4.5" y="4.5" width="23" height="23" rx="3" fill="url(#grey)" stroke="#111" stroke-width="1"/>'
            '<rect x="6.5" y="6" width="19" height="9" rx="2" fill="url(#greygloss)"/>')
    return svg(32, 32, body, dot_defs("grey", "#6b6f78", "#23252b"))


def icon_mixer():
    body = ['<rect x="2.5" y="2.5" width="27" height="27" rx="3" fill="url(#panel)" stroke="#2a2d33"/>']
    for x, knob in ((9, 19), (16, 10), (23, 15)):
        body.append(f'<rect x="{x - 1}" y="6" width="2" height="20" rx="1" fill="#0c0d10"/>')
        for t in range(7, 26, 3):
            body.append(f'<rect x="{x - 3.5}" y="{t}" width="1.5" height="0.8" fill="#9aa0aa"/>')
        body.append(f'<rect x="{x - 3.5}" y="{knob - 2.5}" width="7" height="5" rx="1" fill="url(#knob)" stroke="#222" stroke-width="0.6"/>')
        body.append(f'<rect x="{x - 3}" y="{knob - 0.3}" width="6" height="0.8" fill="#e33"/>')
    defs = ('<linearGradient id="panel" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#5b616d"/>'
            '<stop offset="1" stop-color="#31353d"/></linearGradient>'
            '<linearGradient id="knob" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#ffffff"/>'
            '<stop offset="1" stop-color="#a9aeb7"/></linearGradient>')
    return svg(32, 32, "".join(body), defs)


def icon_sign(plus):
    light, dark, edge = ("#7fe07a", "#1f8f2a", "#0f5a18") if plus else ("#ff7b6b", "#c01b12", "#700c07")
    body = [f'<circle cx="16" cy="16" r="14" fill="url(#g)" stroke="{edge}" stroke-width="1.2"/>',
            '<ellipse cx="15" cy="10" rx="9" ry="5.5" fill="url(#ggloss)"/>',
            '<rect x="7" y="13.5" width="18" height="5" rx="1" fill="#fff" stroke="#00000033" stroke-width="0.6"/>']
    if plus:
        body.append('<rect x="13.5" y="7" width="5" height="18" rx="1" fill="#fff" stroke="#00000033" stroke-width="0.6"/>')
        body.append('<rect x="7.3" y="13.8" width="17.4" height="4.4" fill="#fff"/>')
    return svg(32, 32, "".join(body), dot_defs("g", light, dark))


def icon_program(badge):
    """The program icon (a record with a red recording dot) and the About icon
    (the record with an information badge)."""
    p = "r"
    defs = record_defs(p) + dot_defs("badge", "#ff6a55", "#c0150c") + dot_defs("info", "#6cb4ff", "#1450b4")
    body = [record(p, 30, 30, 27, 0, shadow=False, detail=True)]
    if badge == "rec":
        body.append('<circle cx="49" cy="49" r="12" fill="#fff"/>')
        body.append('<circle cx="49" cy="49" r="10" fill="url(#badge)" stroke="#7d0c08"/>')
    else:
        body.append('<circle cx="49" cy="49" r="12.5" fill="#fff"/>')
        body.append('<circle cx="49" cy="49" r="10.5" fill="url(#info)" stroke="#0b2f70"/>')
        body.append('<circle cx="49" cy="43.5" r="2" fill="#fff"/>')
        body.append('<rect x="47.3" y="46.5" width="3.4" height="9" rx="1" fill="#fff"/>')
    return svg(64, 64, "".join(body), defs)


def about_picture():
    """263 x 182: a turntable playing into a row of song files."""
    p = "a"
    defs = record_defs(p) + '''
<linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">
  <stop offset="0" stop-color="#4a1064"/><stop offset="1" stop-color="#1c0028"/>
</linearGradient>
<linearGradient id="wood" x1="0" y1="0" x2="0" y2="1">
  <stop offset="0" stop-color="#8a5a32"/><stop offset="1" stop-color="#5a3418"/>
</linearGradient>
<linearGradient id="platter" x1="0" y1="0" x2="1" y2="1">
  <stop offset="0" stop-color="#c9ccd2"/><stop offset="1" stop-color="#6d7079"/>
</linearGradient>
<linearGradient id="file" x1="0" y1="0" x2="0" y2="1">
  <stop offset="0" stop-color="#ffffff"/><stop offset="1" stop-color="#d9dce3"/>
</linearGradient>'''
    b = ['<rect width="263" height="182" fill="url(#sky)"/>']
    # Turntable plinth, platter, record and tone arm.
    b.append('<rect x="10" y="14" width="150" height="128" rx="8" fill="url(#wood)" stroke="#2e1a0a" stroke-width="1.5"/>')
    b.append('<rect x="14" y="18" width="142" height="120" rx="6" fill="none" stroke="#b07a4a" stroke-opacity="0.6"/>')
    b.append('<circle cx="74" cy="78" r="58" fill="url(#platter)"/>')
    b.append(record(p, 74, 78, 54, 20, shadow=False))
    b.append('<circle cx="138" cy="32" r="9" fill="url(#platter)" stroke="#333"/>')
    b.append('<circle cx="138" cy="32" r="3.5" fill="#333"/>')
    b.append('<path d="M138,32 L140,96 L118,116" fill="none" stroke="#e3e5ea" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/>')
    b.append('<rect x="108" y="112" width="14" height="8" rx="1.5" transform="rotate(-40 115 116)" fill="#2b2b2e" stroke="#ccc" stroke-width="0.8"/>')
    b.append('<rect x="22" y="126" width="10" height="6" rx="1" fill="#2a2a2a"/>')
    b.append('<circle cx="146" cy="128" r="3" fill="#e33"/>')
    # Sound leaving the record as a waveform, cut at its quiet gaps into song files.
    import random
    rnd = random.Random(7)
    path = []
    x = 166.0
    segments = [(166, 196), (202, 224), (230, 256)]
    b.append('<line x1="164" y1="60" x2="258" y2="60" stroke="#ffffff" stroke-opacity="0.25" stroke-width="0.6"/>')
    for s0, s1 in segments:
        pts = []
        xx = s0
        while xx <= s1:
            a = 4 + 14 * math.sin(math.pi * (xx - s0) / (s1 - s0)) * (0.55 + 0.45 * rnd.random())
            pts.append((xx, a))
            xx += 1.5
        d = "M" + " L".join(f"{px:.1f},{60 - a:.1f}" for px, a in pts)
        d += " L" + " L".join(f"{px:.1f},{60 + a:.1f}" for px, a in reversed(pts)) + " Z"
        path.append(f'<path d="{d}" fill="#7cf07a" fill-opacity="0.85" stroke="#b8ffb0" stroke-width="0.5"/>')
    b.extend(path)
    for gx in (199, 227):
        b.append(f'<line x1="{gx}" y1="36" x2="{gx}" y2="84" stroke="#ffd24a" stroke-width="1.2" stroke-dasharray="3,2"/>')
    # Three song files below their parts of the waveform.
    for i, (s0, s1) in enumerate(segments):
        fx = (s0 + s1) / 2 - 11
        fy = 98
        b.append(f'<path d="M{fx},{fy} h15 l7,7 v23 h-22 Z" fill="url(#file)" stroke="#555" stroke-width="0.8"/>')
        b.append(f'<path d="M{fx + 15},{fy} v7 h7" fill="#c9ccd4" stroke="#555" stroke-width="0.8"/>')
        b.append(f'<text x="{fx + 11}" y="{fy + 23}" font-family="DejaVu Sans" font-weight="bold" font-size="10" '
                 f'text-anchor="middle" fill="#7a1410">{i + 1}</text>')
        b.append(f'<rect x="{fx + 4}" y="{fy + 9}" width="14" height="2" fill="#7cb0f0"/>')
        b.append(f'<text x="{fx + 11}" y="{fy + 42}" font-family="DejaVu Sans" font-size="8" '
                 f'text-anchor="middle" fill="#e8d8f0">Song{i + 1}</text>')
    # Name plate.
    b.append('<text x="86" y="168" font-family="DejaVu Serif" font-style="italic" font-weight="bold" font-size="22" '
             'text-anchor="middle" fill="#ffffff">Cadenzo</text>')
    b.append('<text x="211" y="168" font-family="DejaVu Sans" font-size="9" text-anchor="middle" fill="#c8b0d8">one song per file</text>')
    return svg(263, 182, "\n".join(b), defs)


def main():
    turning_picture("bitmap159.svg", PURPLE, 0)
    turning_picture("bitmap158.svg", PURPLE, 90)
    turning_picture("bitmap161.svg", LIGHT, 0)
    turning_picture("bitmap160.svg", LIGHT, 90)
    write("bitmap130.svg", about_picture())
    write("icon128.svg", icon_program("rec"))
    write("icon131.svg", icon_program("info"))
    write("icon136.svg", icon_record())
    write("icon132.svg", icon_stop())
    write("icon163.svg", icon_mixer())
    write("icon278.svg", icon_sign(True))
    write("icon279.svg", icon_sign(False))


if __name__ == "__main__":
    main()
