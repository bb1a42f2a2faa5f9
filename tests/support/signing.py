"""Signatures for the signed-upgrade tests, made by tools/upgrade-key.sh with
the test key pair (tests/support/upgrade_test_key.pem; its public half is
compiled into the test launchers)."""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "..", "tools", "upgrade-key.sh")
TEST_KEY = os.path.join(HERE, "upgrade_test_key.pem")


def signature_line(data, version):
    """The version file's line "upgradeSignature=<base64>" for `data` offered as `version`."""
    with tempfile.NamedTemporaryFile() as f:
        f.write(data)
        f.flush()
        out = subprocess.run(["bash", TOOL, "sign", TEST_KEY, f.name, version], check=True,
                             capture_output=True, timeout=30).stdout
    line = out.strip()
    assert line.startswith(b"upgradeSignature=") and len(line) > 500, line
    return line


def version_file(version, signed):
    """A version file offering `version` whose signature is of `signed`."""
    return b"[common]\r\nversion=" + version + b"\r\n" + signature_line(signed, version) + b"\r\n"
