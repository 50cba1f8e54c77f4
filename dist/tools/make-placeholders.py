#!/usr/bin/env python3
"""Writes the placeholder package files of the sample distribution.

The sample distribution carries no real modules: every program, library and
data file is a short text that names what it stands for, padded to a size
chosen so that the space figures of the setup pages are not trivial and
differ per processor. Run it from anywhere; it writes next to setup.inf.
Afterwards run infsizes.py to bring field 15 of setup.inf up to date.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DIST = os.path.dirname(HERE)

# file name -> (what it stands for, size in bytes)
FILES = {
    "vrdpsmon.dll": ("print monitor module, x86", 24310),
    "vrdpsmon.axp": ("print monitor module, Alpha AXP", 41877),
    "vrdpsmon.mip": ("print monitor module, MIPS", 37203),
    "vrdpsmw4.dll": ("print monitor module, Windows 95", 22451),
    "vrdpsmon.hlp": ("print monitor help, Windows NT", 18830),
    "vrdpsmw4.hlp": ("print monitor help, Windows 95", 17755),
    "vrdpswiz.exe": ("network printer setup wizard, x86", 61002),
    "vrdpswiz.axp": ("network printer setup wizard, Alpha AXP", 98317),
    "vrdpswiz.mip": ("network printer setup wizard, MIPS", 90001),
    "vrdpswiz.hlp": ("setup wizard help", 14321),
    "vrdpswiz.dat": ("setup wizard model table", 3090),
    "vrdorvel.exe": ("ORVEL utility", 45110),
    "vrdorvel.hlp": ("ORVEL utility help", 12280),
    "vrdrcons.exe": ("remote console", 52200),
    "vrdrcons.hlp": ("remote console help", 10250),
    "vrdshare.dll": ("library shared by the utilities", 30700),
    "vrdgrid.vbx": ("grid control shared by the utilities", 9230),
    "vrdload.ps": ("printer load program, part 1", 5130),
    "vrdinit.ps": ("printer load program, start-up", 2040),
    "vrdfonts.cat": ("printer load catalogue, fonts", 8190),
    "vrdmodel.cat": ("printer load catalogue, models", 3580),
    "vrdsys.bin": ("printer load system image", 16400),
    "vrdboot.sys": ("printer load boot block", 4600),
}


def placeholder(name, what, size):
    head = (
        "Varden Network Printing 5.1 - sample distribution placeholder\r\n"
        f"File: {name}\r\nStands for: {what}\r\n"
        "This is not a program; it only takes the room of one.\r\n"
    )
    out = [head]
    n = len(head)
    i = 1
    while n < size:
        line = f"{name} filler line {i:05d}\r\n"
        out.append(line)
        n += len(line)
        i += 1
    data = "".join(out).encode("ascii")[:size]
    return data


def main():
    for name, (what, size) in FILES.items():
        with open(os.path.join(DIST, name), "wb") as f:
            f.write(placeholder(name, what, size))
    print(f"wrote {len(FILES)} placeholder files into {DIST}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
