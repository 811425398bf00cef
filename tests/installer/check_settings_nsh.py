#!/usr/bin/env python3
"""The include the setup program was built with (argument 1) is, byte for byte, the one the
settings table (argument 2) gives now: a build that missed a change of the table would install
and remove other values than Kalnix.exe and the package. (What the include does is seen by the
installer tests.)

    check_settings_nsh.py INCLUDE TABLE
"""
import os
import subprocess
import sys
import tempfile

WRITER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake", "write_settings_nsh.py")


def main():
    built, table = sys.argv[1:3]
    with tempfile.TemporaryDirectory() as scratch:
        fresh = os.path.join(scratch, "settings_table.nsh")
        subprocess.run([sys.executable, WRITER, table, fresh], check=True)
        with open(fresh, "rb") as now, open(built, "rb") as then:
            if now.read() == then.read():
                return 0
    print("FAIL: %s is not what %s gives now" % (built, table))
    return 1


if __name__ == "__main__":
    sys.exit(main())
