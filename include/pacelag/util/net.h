// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: IPv6 and IPv4 address texts, 16-byte address values,
// MAC address texts, socket addresses and the address record, URLs, address
// patterns and ranges, and the Internet checksum.
#pragma once

#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

struct sockaddr;

// ---- IPv6 and IPv4 address text ----

// 0 with the 16 network-order bytes, or -1 with all 16 bytes zero. Accepts one
// "::" and a trailing dotted IPv4 part; refuses zones, brackets and blanks.
int str2ipv6addr(const char* text, unsigned char addr[16]);
// Upper-case groups, the leftmost longest run of two or more zero groups as
// "::", an IPv4-mapped address as a bare dotted quad. buf holds 40 bytes.
// Returns the number of characters written.
int ipv6addr2str(char* buf, const unsigned char addr[16]);
// ipv6addr2str, '/', then the low 8 bits of prefix in decimal. buf holds 44 bytes.
int ipv6cidr2str(char* buf, unsigned prefix, const unsigned char addr[16]);

// Host-order IPv4 value (first octet in the top byte) to dotted quad. buf
// holds 16 bytes. Returns the number of characters written.
int ipv4num2str(char* buf, uint32_t value);

// ---- Address values ----

// 128-bit values as two host-order words, the first the more significant.
bool u128inrange(const uint64_t* low, const uint64_t* high, const uint64_t* value);
// low <= value <= high for 16-byte network-order values.
bool ip6rangehas(const uint8_t* low, const uint8_t* high, const uint8_t* value);
// Reverses the byte order of each 8-byte half of 16 bytes in place: network
// order to the two host-order words above and back.
void swap128(void* value);
// ::ffff:a.b.c.d with ipv4 stored as its four bytes in memory (network) order.
void ip4mapped(uint32_t ipv4, uint8_t* out);
// The stored IPv4 value of a mapped address, 0 for any other address.
uint32_t ip4unmap(const uint8_t* address);

// ---- MAC addresses ----

// "xx:xx:xx:xx:xx:xx" (':' or '-' each), "xxxx.xxxx.xxxx" or twelve hex digits.
// False for null.
bool ismacaddr(const char* text);
// Same twelve hex digits ignoring case and the separators '-', '.', ':'.
bool macequal(const char* a, const char* b);

// ---- Socket addresses and the address record ----

// An address of either family in 16 bytes; the family (AF_INET or AF_INET6)
// travels beside it. IPv4: v4 is the host-order value (192.0.2.1 is
// 0xC0000201) and bytes 4..15 are zero, so IPv4 records compare as numbers.
// IPv6: v6 is the network-order address.
union ipvn {
    uint32_t v4;
    unsigned char v6[16];
};

// AF_INET and AF_INET6 fill rec; any other family leaves it all zero.
void sockaddr2ipvn(const sockaddr* sa, ipvn* rec);
// Dotted quad for any family but AF_INET6, ipv6addr2str for AF_INET6. buf
// holds 40 bytes. Returns the number of characters written.
int ipvn2str(char* buf, const ipvn* rec, int family);
// Numeric host text of sa without zone and without an IPv4-mapped prefix.
// Returns getnameinfo's result: 0, or an EAI_ code with host left empty.
int sockaddr2host(const sockaddr* sa, char* host, int hostlen);
// In place: cuts at the first '%', then drops a leading "::ffff:" (any case)
// before a dotted quad; other addresses that begin so are left whole.
void hostunmap(char* host);
// True when an IPv6 stream socket accepts IPV6_V6ONLY = 0 (serves IPv4 too).
bool ipv6dualstack();

// ---- URLs ----

// dsturl = url, a '/' if needed, path, with spaces removed; ext (when the
// result ends in an extension of up to 5 characters) replaces that extension:
// "" drops it, ".x" replaces it with its dot, "x" keeps the dot. 0, or -1 with
// dsturl empty when the result does not fit in dstlen bytes.
int urlpathname(char* dsturl, int dstlen, const char* url, const char* path, const char* ext);
// Splits an absolute http or https URL. 0 with *host and *path newly
// allocated (free them), or -1 with both null. url is left unchanged.
int urlsplit(char* url, int* port, char** host, char** path);
// New text in URL form encoding (space as '+', %XX for other bytes than
// letters, digits and - . _ ~). Null and outlen 0 when memory runs out.
char* urlencode(const char* text, int& outlen);
char* urlencodestr(const char* text);
// Percent-decodes in place ('+' becomes a space); returns the new length.
unsigned urldecode(char* text);
// The byte of two hexadecimal digits; a space when either is not one.
char hexpair(char hi, char lo);

// ---- Address patterns and ranges ----
// Patterns: an address, address/prefix, first-last, "*", IPv4 wildcards such as
// "10.1.*.*". Blanks and tabs are ignored; host bits beyond a prefix are
// refused; reversed ends are swapped.

// Host-order inclusive range; -1 with both ends 0 on failure.
int str2ipv4range(const char* pattern, uint32_t* low, uint32_t* high);
bool ipv4match(const char* pattern, uint32_t addr);
// Address with an optional "/n" (0..128, default 128). -1 with prefixlen 128
// and addr zero on failure. text is only read.
int str2ipv6prefix(char* text, unsigned char* prefixlen, unsigned char addr[16]);
// Network-order inclusive range; "::" alone is every address. -1 with both
// ends zero on failure.
int str2ipv6range(const char* pattern, unsigned char low[16], unsigned char high[16]);
bool ipv6match(const char* pattern, const unsigned char addr[16]);
// IPv6 when the pattern holds a ':', IPv4 otherwise. family is AF_INET or
// AF_INET6, or -1 with both records zero when the pattern fails.
int str2iprange(const char* pattern, ipvn* low, ipvn* high, int* family);

// ---- Checksum ----

// Internet checksum (RFC 1071) over host-order 16-bit words, in the byte
// order of those words. 0xFFFF for an empty run.
uint16_t inetchecksum(const void* data, int len);

#pragma GCC visibility pop
