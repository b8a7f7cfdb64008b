"""What libarchive 3.6 cannot do on the shared fixtures, by fixture name.

A valid fixture listed here may fail to list or extract, but must fail
cleanly: no false success, no crash, no hang. The fixture test checks that;
fixture_report.py prints the reasons.
"""

_ENC = "RAR decryption: libarchive 3.6 has none"
_ENC_NAMES = "RAR encrypted headers (names hidden): libarchive 3.6 cannot decrypt"
_SOLID4 = "solid RAR 4: libarchive 3.6 stops after the first entry"
_OLD = "RAR 1.5/2.0 compression: libarchive 3.6 does not decode it"
_CRC = "libarchive 3.6 decodes this valid RAR 4 stream wrongly (the checksum catches it)"

KNOWN_LIMITS = {
    "libarchive/test_read_format_rar3_lowdist_reset.rar": "libarchive 3.6 fails this valid RAR 3 stream (Bad RAR file data)",
    "libarchive/test_read_format_rar4_encrypted.rar": _ENC,
    "libarchive/test_read_format_rar4_encrypted_filenames.rar": _ENC_NAMES,
    "libarchive/test_read_format_rar4_solid_encrypted.rar": _SOLID4 + "; " + _ENC,
    "libarchive/test_read_format_rar4_solid_encrypted_filenames.rar": _ENC_NAMES,
    "libarchive/test_read_format_rar5_encrypted.rar": _ENC,
    "libarchive/test_read_format_rar5_encrypted_filenames.rar": _ENC_NAMES,
    "libarchive/test_read_format_rar5_main_block_extra_bytes.rar": "extra bytes after the main header: libarchive 3.6 stops (Too small block)",
    "libarchive/test_read_format_rar5_skip_block_extra_bytes.rar": "extra bytes in a skipped block: libarchive 3.6 stops (Too small block)",
    "libarchive/test_read_format_rar5_solid_encrypted.rar": _ENC + "; listing a solid RAR 5 decompresses the encrypted data",
    "libarchive/test_read_format_rar5_solid_encrypted_filenames.rar": _ENC_NAMES,
    "libarchive/test_read_format_rar_encryption_data.rar": _ENC,
    "libarchive/test_read_format_rar_encryption_header.rar": _ENC_NAMES,
    "libarchive/test_read_format_rar_encryption_partially.rar": _ENC + " (the plain entry extracts)",
    "libarchive/test_read_format_rar_multi_lzss_blocks.rar": _CRC,
    "libarchive/test_read_format_rar_multivolume.part0001.rar": _CRC + " (PPMd to LZSS switch)",
    "libarchive/test_read_format_rar_ppmd_lzss_conversion.rar": _CRC + " (PPMd to LZSS switch)",
    "libarchive/test_read_large_splitted_rar_aa": _CRC + " (PPMd to LZSS switch)",
    "sharpcompress/Rar.Encrypted.rar": _ENC_NAMES,
    "sharpcompress/Rar.EncryptedParts.part01.rar": _ENC_NAMES,
    "sharpcompress/Rar.comment.rar": "RAR 4 with a comment sub-block: libarchive 3.6 takes it for solid and stops",
    "sharpcompress/Rar.encrypted_filesAndHeader.rar": _ENC_NAMES,
    "sharpcompress/Rar.encrypted_filesOnly.rar": _ENC + " (the folders extract)",
    "sharpcompress/Rar.solid.rar": _SOLID4,
    "sharpcompress/Rar15.rar": _OLD,
    "sharpcompress/Rar2.multi.rar": _OLD,
    "sharpcompress/Rar2.rar": _OLD,
    "sharpcompress/Rar5.encrypted_filesAndHeader.rar": _ENC_NAMES,
    "sharpcompress/Rar5.encrypted_filesOnly.rar": _ENC + " (the folders extract)",
}

# Fixtures marked damaged whose data nonetheless matches the stored CRC-32:
# extracting them is a verified success, not a false one.
DAMAGED_BUT_VERIFIED = {
    "libarchive/test_read_format_rar5_invalid_hash_valid_htime_exfld.rar":
        "only the hash extra record is malformed; the data matches its CRC-32",
    "libarchive/test_read_format_rar_unbound_staticdata.rar":
        "the 4 bytes libarchive decodes match the stored CRC-32",
}
