#!/usr/bin/env python3
"""Prints the runs of kUpper in services/case_blind.cpp: the simple upper-case
mapping of every character (UnicodeData.txt's field 12), as runs of characters
that move by the same distance, every one or every other. str.upper gives the
full mapping; where that is more than one character the simple mapping is the
character itself, but for the Greek letters with iota subscript, added here.
Run with the Python whose Unicode version the table should follow:
python3 scripts/upper_case_table.py"""
import unicodedata

upper = {}
for c in range(0x110000):
    if 0xD800 <= c < 0xE000:
        continue
    u = chr(c).upper()
    if len(u) == 1 and ord(u) != c:
        upper[c] = ord(u)
for first, last, to in ((0x1F80, 0x1F87, 0x1F88), (0x1F90, 0x1F97, 0x1F98),
                        (0x1FA0, 0x1FA7, 0x1FA8), (0x1FB3, 0x1FB3, 0x1FBC),
                        (0x1FC3, 0x1FC3, 0x1FCC), (0x1FF3, 0x1FF3, 0x1FFC)):
    for c in range(first, last + 1):
        upper[c] = to + c - first

runs = []
cps = sorted(upper)
i = 0
while i < len(cps):
    c = cps[i]
    d = upper[c] - c
    ends = {}
    for step in (1, 2):
        j = i
        while (j + 1 < len(cps) and cps[j + 1] == cps[j] + step
               and upper[cps[j + 1]] - cps[j + 1] == d):
            j += 1
        ends[step] = j
    step = 2 if ends[2] > ends[1] else 1
    runs.append((c, cps[ends[step]], d, step))
    i = ends[step] + 1

print(f"    // Unicode {unicodedata.unidata_version}: {len(upper)} characters in {len(runs)} runs.")
for first, last, d, step in runs:
    print(f"    {{0x{first:04X}, 0x{last:04X}, {d}, {step}}},")
