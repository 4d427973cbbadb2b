#!/usr/bin/env python3
"""Writes ../Mox030p.ovl, the pre-printed form of the cumulative salary ledger.

The form is drawn on the ledger's grid (15 columns and 6 lines per inch, B4 landscape) in the
overlay command language (docs/overlay-format.md). Positions below are in columns and lines; the
file stores ten times each. A row whose amounts are written on line Y uses lines Y-1 and Y, so
its box runs from grid line Y-2 to Y. An amount cell at column x with width w covers columns
x .. x+w-1, i.e. grid x to x+w.

Run it after changing the layout; the output is CP932 with CRLF line ends.
"""
import pathlib

THIN, MEDIUM, THICK = 1, 2, 3

# Vertical rules of the amount grid and the headings between them (upper line, lower line;
# a single heading is centred in the heading band).
COLUMNS = [
    (13, 23, ["給　料"]),
    (23, 31, ["教職調整額"]),
    (31, 39, ["地域手当"]),
    (39, 47, ["管理職手当"]),
    (47, 55, ["通勤非課税", "通勤課税"]),
    (55, 63, ["住居手当"]),
    (63, 71, ["扶養手当", "単身赴任"]),
    (71, 79, ["宿日直非課税", "宿日直課税"]),
    (79, 87, ["へき地手当"]),
    (87, 95, ["準へき地手当"]),
    (95, 103, ["特殊業務手当"]),
    (103, 111, ["多学年担当", "児童手当"]),
    (111, 120, ["時間外勤務", "休日勤務"]),
    (120, 131.5, ["期末手当", "勤勉手当"]),
    (131.5, 142.5, ["総支給額"]),
    (142.5, 151, ["健康保険"]),
    (151, 159, ["厚生年金"]),
    (159, 167, ["雇用保険"]),
    (167, 175, ["所得税"]),
    (175, 183, ["年調過納", "年調不足"]),
    (183, 191, ["控除合計"]),
    (191, 201, ["差引支給額"]),
]
LEFT, LABEL_RIGHT, RIGHT = 1, 13, 201
BONUS_LEFT = 120  # the bonus rows carry only the columns from here on

HEAD_TOP, HEAD_BOTTOM = 7.5, 9.5
# Row labels and line Y of every printed row.
ROWS = [("4月", 11.5), ("5月", 13.5), ("6月", 15.5), ("7月", 17.5), ("8月", 19.5),
        ("9月", 21.5), ("10月", 23.5), ("11月", 25.5), ("12月", 27.5), ("1月", 29.5),
        ("2月", 31.5), ("3月", 33.5), ("月　計", 35.5),
        ("6月賞与", 39.5), ("12月賞与", 41.5), ("賞与計", 43.5),
        ("差額等", 47.5), ("年　計", 51.5)]

out = []


def g(v):
    return f"{round(v * 10):04d}"


def cols(text):
    return sum(1 if ord(c) < 0x80 or 0xFF61 <= ord(c) <= 0xFF9F else 2 for c in text)


def text(x, y, s, h=100, v=100):
    out.append(f"TE {g(x)}{g(y)}30{h:03d}{v:03d}{s}")


def centred(left, right, y, s, h=100, v=100):
    """Centres s between two rules, squeezing it so that half a column stays free each side."""
    n = cols(s)
    h = min(h, (int(100 * (right - left - 1) / n)))
    width = n * h / 100
    text(round((left + (right - left - width) / 2) * 10) / 10, y, s, h, v)


def line(x1, y1, x2, y2, w=THIN):
    out.append(f"LN {g(x1)}{g(y1)}{g(x2)}{g(y2)}{w}")


def box(x1, y1, x2, y2, w=THICK):
    out.append(f"BX {g(x1)}{g(y1)}{g(x2)}{g(y2)}{w}")


def rules(top, bottom, left):
    for l, _, _ in COLUMNS:
        if l >= left:
            line(l, top, l, bottom)


out.append("RM 個人別給与累計表の様式（B4横、15字/インチ、6行/インチ）")
text(85, 3.0, "個人別給与累計表", 200, 200)
line(84, 3.4, 118, 3.4, MEDIUM)

out.append("RM 見出し：年度、職員番号・氏名、職種")
text(2, 5.5, "年　度")
text(24, 5.5, "番号・氏名")
text(14, 6.5, "職種")

out.append("RM 月別の表：列見出しと4月から月計まで")
box(LEFT, HEAD_TOP, RIGHT, 35.5)
line(LEFT, HEAD_BOTTOM, RIGHT, HEAD_BOTTOM, MEDIUM)
rules(HEAD_TOP, 35.5, LABEL_RIGHT)
line(LABEL_RIGHT, HEAD_TOP, LABEL_RIGHT, 35.5, MEDIUM)
line(BONUS_LEFT, HEAD_TOP, BONUS_LEFT, 35.5, MEDIUM)
centred(LEFT, LABEL_RIGHT, 9.0, "区　分")
for l, r, heads in COLUMNS:
    if len(heads) == 1:
        centred(l, r, 9.0, heads[0])
    else:
        centred(l, r, 8.5, heads[0])
        centred(l, r, 9.5, heads[1])
for _, y in ROWS[:11]:
    line(LEFT, y, RIGHT, y)
line(LEFT, 33.5, RIGHT, 33.5, MEDIUM)

out.append("RM 賞与の表：6月賞与、12月賞与、賞与計")
box(LEFT, 37.5, RIGHT, 43.5)
line(LABEL_RIGHT, 37.5, LABEL_RIGHT, 43.5, MEDIUM)
line(BONUS_LEFT, 37.5, BONUS_LEFT, 43.5, MEDIUM)
rules(37.5, 43.5, BONUS_LEFT + 1)
line(LEFT, 39.5, LABEL_RIGHT, 39.5)
line(BONUS_LEFT, 39.5, RIGHT, 39.5)
line(LEFT, 41.5, LABEL_RIGHT, 41.5, MEDIUM)
line(BONUS_LEFT, 41.5, RIGHT, 41.5, MEDIUM)

out.append("RM 差額等と年計")
for top in (45.5, 49.5):
    box(LEFT, top, RIGHT, top + 2)
    rules(top, top + 2, LABEL_RIGHT)
    line(LABEL_RIGHT, top, LABEL_RIGHT, top + 2, MEDIUM)
    line(BONUS_LEFT, top, BONUS_LEFT, top + 2, MEDIUM)

out.append("RM 行の名前")
for label, y in ROWS:
    centred(LEFT, LABEL_RIGHT, y - 0.5, label)

target = pathlib.Path(__file__).resolve().parent.parent / "Mox030p.ovl"
target.write_bytes(("\r\n".join(out) + "\r\n").encode("cp932"))
print(f"{target}: {len(out)} lines")
