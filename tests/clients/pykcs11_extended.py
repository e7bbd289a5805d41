"""PyKCS11 with the extended mechanism set, over the key pair imported as
"tls key" (extended_common.sh): a SHA-256 signature mechanism is found, PSS
signs and verifies, OAEP encrypts and decrypts, and the results are left for
OpenSSL to check: pss.sig (CKM_SHA256_RSA_PKCS_PSS over pss.txt, salt 32) and
oaep.bin (CKM_RSA_PKCS_OAEP, SHA-256, of oaep.txt).

Usage: pykcs11_extended.py MODULE USER_PIN
"""
import sys

import PyKCS11

MODULE, PIN = sys.argv[1:3]


def check(condition, what):
    if not condition:
        raise SystemExit("check failed: " + what)
    print("ok:", what)


lib = PyKCS11.PyKCS11Lib()
lib.load(MODULE)
slot = lib.getSlotList(tokenPresent=True)[0]
mechanisms = lib.getMechanismList(slot)
for name in ("CKM_SHA256", "CKM_SHA256_RSA_PKCS", "CKM_SHA256_RSA_PKCS_PSS", "CKM_RSA_PKCS_OAEP"):
    check(name in mechanisms, name + " is listed")
info = lib.getMechanismInfo(slot, "CKM_SHA256_RSA_PKCS_PSS")
check("CKF_SIGN" in info.flags2text() and info.ulMaxKeySize >= 2048, "PSS signs with 2048-bit keys")

session = lib.openSession(slot, PyKCS11.CKF_SERIAL_SESSION)
session.login(PIN)
label = [(PyKCS11.CKA_LABEL, "tls key")]
priv = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY)] + label)[0]
pub = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY)] + label)[0]

data = b"PyKCS11 signs with RSA-PSS"
pss = PyKCS11.RSA_PSS_Mechanism(PyKCS11.CKM_SHA256_RSA_PKCS_PSS, PyKCS11.CKM_SHA256,
                                PyKCS11.CKG_MGF1_SHA256, 32)
signature = bytes(session.sign(priv, data, pss))
check(len(signature) == 256, "a 256-byte PSS signature")
check(session.verify(pub, data, signature, pss), "the PSS signature verifies")
check(not session.verify(pub, data + b"!", signature, pss), "another message does not")
# PSS is randomised: two signatures of the same data differ.
check(bytes(session.sign(priv, data, pss)) != signature, "two PSS signatures differ")
open("pss.txt", "wb").write(data)
open("pss.sig", "wb").write(signature)

secret = b"sixteen byte key"
oaep = PyKCS11.RSAOAEPMechanism(PyKCS11.CKM_SHA256, PyKCS11.CKG_MGF1_SHA256)
ciphertext = bytes(session.encrypt(pub, secret, oaep))
check(len(ciphertext) == 256, "a 256-byte OAEP ciphertext")
check(bytes(session.decrypt(priv, ciphertext, oaep)) == secret, "OAEP decrypts on the token")
broken = bytearray(ciphertext)
broken[17] ^= 1
try:
    session.decrypt(priv, bytes(broken), oaep)
    raise SystemExit("check failed: a changed ciphertext decrypted")
except PyKCS11.PyKCS11Error as e:
    check(e.value == PyKCS11.CKR_ENCRYPTED_DATA_INVALID, "a changed ciphertext: %s" % e)
open("oaep.txt", "wb").write(secret)
open("oaep.bin", "wb").write(ciphertext)
session.logout()
session.closeSession()
