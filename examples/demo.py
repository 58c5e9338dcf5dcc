"""Masks a sample string with mt_xor_bytes, shows it in hex, and unmasks it."""
import binascii

import vavirerezi

sample = "The quick brown fox jumps over the lazy dog"
seeds = (0x12345678, 0x9abcdef0, 0x0badf00d)
offset = 7

masked = vavirerezi.mt_xor_bytes(sample, seeds[0], seeds[1], seeds[2], offset)
unmasked = vavirerezi.mt_xor_bytes(masked, seeds[0], seeds[1], seeds[2], offset)

print "sample:   %r (%d bytes)" % (sample, len(sample))
print "seeds:    %s, offset %d" % (", ".join("0x%08x" % s for s in seeds), offset)
print "masked:   %s" % binascii.hexlify(masked)
print "unmasked: %r" % unmasked
print "round trip %s" % ("ok" if unmasked == sample else "FAILED")
