#!/usr/bin/env python3
"""Writes a deterministic FLX corpus for the import benchmarks.

Each file holds one definition section and one block of 40 connector lines (inputs, outputs,
loop-throughs and ignored codes). Manufacturer IDs come from a pool of 50, half of which are
added to the benchmark database by the SQL this script also writes; model names repeat so that
versioning has work to do. The model pool grows with the corpus, so that a model repeats as
often in a corpus of 20,000 files as in one of 2,000 and the work per row stays comparable;
with --fixed-models N it stays at N models whatever the corpus, so that a model is declared ten
times as often in a corpus ten times as large (the versioning benchmark).

usage: gen_corpus.py OUTDIR [FILES] [--fixed-models N]
"""
import os
import random
import sys

POOL = 50
KNOWN = POOL // 2
MODELS_PER_1000_FILES = 60
LINES_PER_BLOCK = 40
SIGNALS = ["AES", "SDI", "ANA", "MIC", "LIN", "TC ", "VID", "DAT"]
CONNS = ["XLR", "BNC", "TRS", "RJ45", "DB25", "SMPTE"]
CODES = ["I"] * 16 + ["O"] * 14 + ["L"] * 6 + [" ", "x", "i", "\t"]


def manufacturer(i):
    return "BM%03d" % i


def main():
    args = sys.argv[1:]
    fixed = None
    if "--fixed-models" in args:
        at = args.index("--fixed-models")
        fixed = int(args[at + 1])
        del args[at:at + 2]
    out = args[0]
    count = int(args[1]) if len(args) > 1 else 2000
    os.makedirs(out, exist_ok=True)
    models = fixed or max(1, count * MODELS_PER_1000_FILES // 1000)
    rng = random.Random(20261206)
    for n in range(count):
        manu = manufacturer(rng.randrange(POOL))
        model = "MDL-%04d" % rng.randrange(models)
        lines = ["Bench corpus file %d" % n, "<<STARTDEF>>", manu, model, "Bench Device", "rev 1",
                 "<<STARTBLK>>", "Code Sig Conn  Name"]
        for k in range(LINES_PER_BLOCK):
            code = rng.choice(CODES)
            sig = rng.choice(SIGNALS)
            conn = rng.choice(CONNS)[:5]
            lines.append("%s %-3s %-5s Port %d of %s" % (code, sig, conn, k + 1, model))
        lines.append("<<ENDBLK>>")
        with open(os.path.join(out, "dev%05d.flx" % n), "w", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
    with open(os.path.join(out, "..", "manufacturers.sql"), "w") as f:
        for i in range(KNOWN):
            f.write("INSERT INTO tblManufacturers (ManufacturerID, ManufacturerName, "
                    "DisplayInEquipment) VALUES ('%s', 'Bench Maker %d', -1);\n"
                    % (manufacturer(i * 2), i))


if __name__ == "__main__":
    main()
