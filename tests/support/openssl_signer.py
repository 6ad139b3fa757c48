"""P-256 keys and manifest signatures made by the openssl command line: a
signer and verifier independent of the module, for the Python tests.

    signer = OpensslSigner(work, "publisher")   # signer.key (PEM), signer.public
    signed = signer.sign(manifest)              # bytes or str, with its signature line
    openssl_verifies(work, signer.public, signed)

public is the key as hosts pass it: base64 of X then Y."""
import base64, os, subprocess

# The DER prefix of a P-256 public key (SubjectPublicKeyInfo) before 04 X Y.
SPKI_P256 = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")


def openssl(*arguments, data=None):
    return subprocess.run(["openssl"] + list(arguments), input=data, capture_output=True)


def der_to_rs(der):
    at, rs = (2 if der[1] < 0x80 else 3), b""
    for _ in range(2):
        length = der[at + 1]
        rs += der[at + 2:at + 2 + length].lstrip(b"\0").rjust(32, b"\0")
        at += 2 + length
    return rs


def rs_to_der(rs):
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        value = b"\0" + value if value[0] & 0x80 else value
        return bytes([2, len(value)]) + value
    body = integer(rs[:32]) + integer(rs[32:])
    return bytes([0x30, len(body)]) + body


class OpensslSigner:
    def __init__(self, work, name):
        self.key = os.path.join(work, name + ".pem")
        openssl("ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", self.key)
        der = openssl("ec", "-in", self.key, "-pubout", "-outform", "DER").stdout
        self.public = base64.b64encode(der[-64:]).decode()

    def sign(self, data):
        if isinstance(data, str):
            return self.sign(data.encode()).decode()
        der = openssl("dgst", "-sha256", "-sign", self.key, data=data).stdout
        return data + b";signature=" + base64.b64encode(der_to_rs(der)) + b"\n"


def openssl_verifies(work, public, signed):
    """Whether openssl accepts the signature line of `signed` for the bytes
    before it, with the public key X||Y `public`."""
    head, _, line = signed.rpartition(b";signature=")
    rs = base64.b64decode(line.strip())
    pem = os.path.join(work, "check.pub.pem")
    with open(pem, "wb") as f:
        f.write(b"-----BEGIN PUBLIC KEY-----\n" + base64.encodebytes(
            SPKI_P256 + b"\x04" + base64.b64decode(public)) + b"-----END PUBLIC KEY-----\n")
    sig = os.path.join(work, "check.sig")
    with open(sig, "wb") as f:
        f.write(rs_to_der(rs))
    return openssl("dgst", "-sha256", "-verify", pem, "-signature", sig, data=head).returncode == 0
