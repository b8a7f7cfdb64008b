"""What the helper cannot do on the shared fixtures, by fixture name.

A valid fixture listed here may fail to list or extract, but must fail
cleanly: no false success, no crash, no hang. The fixture test checks that;
fixture_report.py prints the reasons.
"""

_OTHER_PASSWORD = "d.txt is encrypted with another password: it fails, the other entries extract"

KNOWN_LIMITS = {
    "libarchive/test_read_format_rar4_encrypted.rar": _OTHER_PASSWORD + " (RAR 4 data has no check value: its decoding fails)",
    "libarchive/test_read_format_rar5_encrypted.rar": _OTHER_PASSWORD + " (refused by its check value)",
}

# RAR 5 archives whose encrypted entries store keyed checksums (an HMAC
# under the password): the manifest gives those keyed values, so the judge
# compares only sizes for these entries (the helper verifies the keys).
KEYED_CHECKSUMS = {
    "libarchive/test_read_format_rar5_encrypted.rar",
    "libarchive/test_read_format_rar5_solid_encrypted.rar",
    "sharpcompress/Rar5.encrypted_filesOnly.rar",
}

# Fixtures marked damaged whose data nonetheless matches the stored CRC-32:
# extracting them is a verified success, not a false one.
DAMAGED_BUT_VERIFIED = {
    "libarchive/test_read_format_rar5_invalid_hash_valid_htime_exfld.rar":
        "only the hash extra record is malformed; the data matches its CRC-32",
    "libarchive/test_read_format_rar_unbound_staticdata.rar":
        "the 4 bytes libarchive decodes match the stored CRC-32",
}
